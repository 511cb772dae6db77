// Each kind of link on one end of a line with a raw peer on the other, so that one set of tests
// drives both: a serial line (a pseudo-terminal natively, two COM ports joined by a pty relay
// under Wine through tools/with-com-pair) and a TCP/IP connection to a loopback server.
#pragma once

#include "link/serial_link.h"
#include "link/tcp_link.h"
#include "resources/string_ids.h"
#include "support/loopback_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#ifdef _WIN32
#  include <windows.h>
#else
#  include <fcntl.h>
#  include <poll.h>
#  include <unistd.h>
#endif

namespace dm::test {

using Clock = std::chrono::steady_clock;

inline long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

#ifdef _WIN32
// The far end: the other COM port of a joined pair.
class SerialPeer {
public:
    explicit SerialPeer(const std::string& port)
        : handle_(CreateFileA(("\\\\.\\" + port).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr))
    {
        DCB dcb {};
        dcb.DCBlength = sizeof dcb;
        GetCommState(handle_, &dcb);
        dcb.BaudRate = 19200;
        SetCommState(handle_, &dcb);
        PurgeComm(handle_, PURGE_RXCLEAR | PURGE_TXCLEAR);
    }
    ~SerialPeer() { CloseHandle(handle_); }
    bool Ok() const { return handle_ != INVALID_HANDLE_VALUE; }
    void Hangup() {}  // a joined pair cannot hang up
    void Send(const std::string& bytes)
    {
        COMMTIMEOUTS limits {0, 0, 0, 0, 2000};
        DWORD done = 0;
        SetCommTimeouts(handle_, &limits);
        WriteFile(handle_, bytes.data(), DWORD(bytes.size()), &done, nullptr);
    }
    // What arrives within `waitMs`, or the first `max` bytes.
    std::string Receive(size_t max, int waitMs)
    {
        COMMTIMEOUTS limits {0, 0, DWORD(waitMs), 0, 0};
        std::string bytes(max, '\0');
        DWORD done = 0;
        SetCommTimeouts(handle_, &limits);
        ReadFile(handle_, bytes.data(), DWORD(max), &done, nullptr);
        bytes.resize(done);
        return bytes;
    }

private:
    HANDLE handle_;
};
#else
// The far end: the master side of a pseudo-terminal whose slave the link opens.
class SerialPeer {
public:
    SerialPeer() : fd_(posix_openpt(O_RDWR | O_NOCTTY))
    {
        if (fd_ >= 0 && (grantpt(fd_) != 0 || unlockpt(fd_) != 0))
            Hangup();
    }
    ~SerialPeer() { Hangup(); }
    bool Ok() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    std::string SlavePath() const { return ptsname(fd_); }
    void Hangup()
    {
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    }
    void Send(const std::string& bytes)
    {
        [[maybe_unused]] const ssize_t sent = write(fd_, bytes.data(), bytes.size());
    }
    // What arrives until the line has been quiet for `waitMs`, or the first `max` bytes.
    std::string Receive(size_t max, int waitMs)
    {
        std::string bytes;
        char chunk[4096];
        pollfd entry {fd_, POLLIN, 0};
        while (bytes.size() < max && poll(&entry, 1, waitMs) > 0) {
            const ssize_t n = read(fd_, chunk, std::min(sizeof chunk, max - bytes.size()));
            if (n <= 0)
                break;
            bytes.append(chunk, size_t(n));
        }
        return bytes;
    }

private:
    int fd_;
};
#endif

class SerialLine {
public:
    // What a failed read or write leaves and logs, where the kinds of link differ.
    static constexpr UINT kReadTimeoutId = IDS_ERR_COM_READ;
    static constexpr UINT kHangupReadId = IDS_ERR_COM_READ;
    static constexpr UINT kHangupWriteId = IDS_ERR_COM_WRITE;
    static constexpr const char* kSilentLog[2] = {
        "< [0 bytes]\r\n", "COM READ ERROR: 8 bytes expected (code 0, timeout 300)\r\n"};
    static constexpr const char* kShortLog[2] = {
        "< [3 bytes]\r\n< 01 02 03\r\nCOM READ ERROR: 8 bytes expected (code 0, timeout 300)\r\n",
        ""};
    static constexpr const char* kHangupLog = "COM READ ERROR: code 5 (4 to read, timeout 3000)\r\n";
    static constexpr long long kQuietDiscardMs = 250;  // 256 bytes' time at 19200 baud
    static constexpr int32_t kTrickleHint = -3000;     // the whole read's limit
    static constexpr int kTrickleGapMs = 60;
#ifdef _WIN32
    static constexpr bool kCanHangUp = false;
#else
    static constexpr bool kCanHangUp = true;
#endif

    // Why the line cannot be had, or nothing.
    std::string Start()
    {
#ifdef _WIN32
        const char* pair = std::getenv("DROVEMARK_TEST_COM_PAIR");
        if (!pair || !std::strchr(pair, ','))
            return "needs DROVEMARK_TEST_COM_PAIR=COMa,COMb naming two joined ports "
                   "(run through tools/with-com-pair)";
        const std::string ports = pair;
        const std::string port = ports.substr(0, ports.find(','));
        // Whatever an earlier test left in the line must not reach this one.
        HANDLE stale = CreateFileA(("\\\\.\\" + port).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
        PurgeComm(stale, PURGE_RXCLEAR | PURGE_TXCLEAR);
        CloseHandle(stale);
        peer_ = std::make_unique<SerialPeer>(ports.substr(ports.find(',') + 1));
#else
        peer_ = std::make_unique<SerialPeer>();
        const std::string port = peer_->Ok() ? peer_->SlavePath() : "";
#endif
        if (!peer_->Ok())
            return "no peer end";
        link_ = std::make_unique<SerialLink>(port, 512);
        return link_->Open() == S_OK ? "" : "the link does not open";
    }
    SerialLink& Link() { return *link_; }
    SerialPeer& Peer() { return *peer_; }
    void Send(const std::string& bytes) { peer_->Send(bytes); }
    std::string Receive(size_t max, int waitMs) { return peer_->Receive(max, waitMs); }
    void Hangup() { peer_->Hangup(); }
    bool Reopen(uint32_t baudRate = 19200)
    {
        link_->Close();
        link_->SetBaudRate(baudRate);
        return link_->Open() == S_OK;
    }
    // Short quiet waits, so that a peer that never falls silent is given up on soon.
    bool Quicken() { return Reopen(115200); }

private:
    std::unique_ptr<SerialPeer> peer_;
    std::unique_ptr<SerialLink> link_;
};

class TcpLine {
public:
    static constexpr UINT kReadTimeoutId = IDS_ERR_TCP_READ_TIMEOUT;
    static constexpr UINT kHangupReadId = IDS_ERR_TCP_READ;
    static constexpr UINT kHangupWriteId = IDS_ERR_TCP_WRITE;
    static constexpr const char* kSilentLog[2] = {"TCP/IP READ TIMEOUT: code ",
                                                  " (8 to read, timeout 300)\r\n"};
    static constexpr const char* kShortLog[2] = {
        "< [3 bytes]\r\n< 01 02 03\r\nTCP/IP READ ERROR: 8 bytes expected (code ",
        ", timeout 300)\r\n"};
    static constexpr const char* kHangupLog = "TCP/IP READ ERROR (DISCONNECT): code ";
    static constexpr long long kQuietDiscardMs = 280;
    static constexpr int32_t kTrickleHint = -400;  // each wait's limit
    static constexpr int kTrickleGapMs = 150;
    static constexpr bool kCanHangUp = true;
    static constexpr uint32_t kKey = 0x1234ABCDu;

    ~TcpLine()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closing_ = true;
        }
        Hangup();
        server_.reset();
    }
    std::string Start()
    {
        if (!StartSockets())
            return "no sockets";
        // Each connection is served until the test lets it go.
        server_ = std::make_unique<LoopbackServer>([this](LoopbackConnection& peer) {
            std::unique_lock<std::mutex> lock(mutex_);
            peer_ = &peer;
            changed_.notify_all();
            changed_.wait(lock, [&] { return closing_ || peer_ != &peer; });
        });
        link_.SetAddress("127.0.0.1");
        link_.SetPort(server_->Port());
        return link_.Open() == S_OK && WaitForPeer() ? "" : "cannot connect";
    }
    TcpLink& Link() { return link_; }
    void Send(const std::string& bytes) { Peer()->Send(bytes); }
    std::string Receive(size_t max, int waitMs) { return Peer()->Receive(max, int(waitMs)); }
    void Hangup()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        peer_ = nullptr;
        changed_.notify_all();
    }
    bool Reopen()
    {
        link_.Close();
        Hangup();
        return link_.Open() == S_OK && WaitForPeer();
    }
    bool Quicken() { return true; }

private:
    bool WaitForPeer()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return peer_ != nullptr; });
    }
    LoopbackConnection* Peer()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return peer_;
    }

    TcpLink link_ {kKey};
    std::mutex mutex_;
    std::condition_variable changed_;
    LoopbackConnection* peer_ = nullptr;
    bool closing_ = false;
    std::unique_ptr<LoopbackServer> server_;
};

// A test with an open line of kind `Line`, skipped where that kind of line cannot be had.
template <typename Line>
class LineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string missing = line_.Start();
        if (missing.rfind("needs ", 0) == 0)
            GTEST_SKIP() << missing;
        ASSERT_EQ(missing, "");
    }
    Link& link() { return line_.Link(); }

    Line line_;
};

}  // namespace dm::test
