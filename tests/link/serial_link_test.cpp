#include "link/serial_link.h"

#include "core/shared_settings_section.h"
#include "resources/string_ids.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifdef _WIN32
#  include <windows.h>
#else
#  include <fcntl.h>
#  include <poll.h>
#  include <termios.h>
#  include <unistd.h>
#endif

namespace dm {
namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

#ifdef _WIN32
const char* const kMissingPort = "COM199";

// The far end: the other COM port of a joined pair.
class Peer {
public:
    explicit Peer(const std::string& port)
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
    ~Peer() { CloseHandle(handle_); }
    bool Ok() const { return handle_ != INVALID_HANDLE_VALUE; }
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
const char* const kMissingPort = "/nonexistent/drovemark-tty";

// The far end: the master side of a pseudo-terminal whose slave the link opens.
class Peer {
public:
    Peer() : fd_(posix_openpt(O_RDWR | O_NOCTTY))
    {
        if (fd_ >= 0 && (grantpt(fd_) != 0 || unlockpt(fd_) != 0))
            Hangup();
    }
    ~Peer() { Hangup(); }
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

TEST(SerialLinkClosed, RefusesEverythingUntilOpen)
{
    SerialLink link(kMissingPort, 512);
    char bytes[4] = {};
    EXPECT_EQ(link.Read(bytes, 4, -10), E_FAIL);
    EXPECT_EQ(link.PendingErrorId(), UINT(IDS_ERR_READ_CLOSED));
    EXPECT_EQ(link.Write(bytes, 4, -10), E_FAIL);
    EXPECT_EQ(link.PendingErrorId(), UINT(IDS_ERR_WRITE_CLOSED));
    EXPECT_EQ(link.Discard(), S_OK);
    EXPECT_EQ(link.Close(), E_FAIL);
    EXPECT_EQ(link.SendBreak(10), E_FAIL);

    EXPECT_EQ(link.Open(), E_FAIL);
    EXPECT_EQ(link.PendingErrorId(), UINT(IDS_ERR_COM_OPEN));
    EXPECT_FALSE(link.IsOpen());
#ifndef _WIN32
    test::ScratchFolder scratch;
    test::WriteWholeFile(scratch.File("plain"), "not a terminal");
    SerialLink plain(scratch.File("plain"), 512);
    EXPECT_EQ(plain.Open(), E_FAIL);
    EXPECT_EQ(plain.PendingErrorId(), UINT(IDS_ERR_COM_OPEN));
#endif
}

// The link on one end of a line, a raw peer on the other: a pseudo-terminal natively, a pair
// of COM ports joined by a pty relay under Wine (tools/with-com-pair).
class SerialLinkLine : public ::testing::Test {
protected:
    void SetUp() override
    {
#ifdef _WIN32
        const char* pair = std::getenv("DROVEMARK_TEST_COM_PAIR");
        if (!pair || !std::strchr(pair, ','))
            GTEST_SKIP() << "needs DROVEMARK_TEST_COM_PAIR=COMa,COMb naming two joined ports "
                            "(run through tools/with-com-pair)";
        const std::string ports = pair;
        const std::string port = ports.substr(0, ports.find(','));
        // Whatever an earlier test left in the line must not reach this one.
        HANDLE stale = CreateFileA(("\\\\.\\" + port).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
        PurgeComm(stale, PURGE_RXCLEAR | PURGE_TXCLEAR);
        CloseHandle(stale);
        peer_ = std::make_unique<Peer>(ports.substr(ports.find(',') + 1));
#else
        peer_ = std::make_unique<Peer>();
        ASSERT_TRUE(peer_->Ok());
        const std::string port = peer_->SlavePath();
#endif
        ASSERT_TRUE(peer_->Ok());
        link_ = std::make_unique<SerialLink>(port, 512);
        ASSERT_EQ(link_->Open(), S_OK);
    }
    void Reopen(uint32_t baudRate)
    {
        link_->Close();
        link_->SetBaudRate(baudRate);
        ASSERT_EQ(link_->Open(), S_OK);
    }

    std::unique_ptr<Peer> peer_;
    std::unique_ptr<SerialLink> link_;
};

TEST_F(SerialLinkLine, MovesEveryByteValueBothWaysAcrossReopensAndSendsBreaks)
{
    EXPECT_NEAR(link_->MsPerByte(), 2000.0 / 1920.0, 1e-4);
    EXPECT_EQ(link_->Open(), S_OK);
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += char(i);
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(link_->Write(all.data(), 256, -2000), S_OK);
        EXPECT_EQ(peer_->Receive(256, 2000), all);
        const std::string back(all.rbegin(), all.rend());
        peer_->Send(back);
        std::string got(256, '\0');
        ASSERT_EQ(link_->Read(got.data(), 256, -2000), S_OK);
        EXPECT_EQ(got, back);
        EXPECT_EQ(link_->Close(), S_OK);
        EXPECT_EQ(link_->Open(), S_OK);
    }
    EXPECT_EQ(link_->PendingErrorId(), 0u);
    const auto start = Clock::now();
    EXPECT_EQ(link_->SendBreak(50), S_OK);
    EXPECT_GE(MsSince(start), 45);
}

TEST_F(SerialLinkLine, ReadWaitsForBytesArrivingOneAtATime)
{
    std::thread feeder([this] {
        for (char c : std::string("WXYZ")) {
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
            peer_->Send(std::string(1, c));
        }
    });
    char got[4] = {};
    const auto start = Clock::now();
    const HRESULT result = link_->Read(got, 4, -3000);
    const long long took = MsSince(start);
    feeder.join();
    EXPECT_EQ(result, S_OK);
    EXPECT_EQ(std::string(got, 4), "WXYZ");
    EXPECT_LT(took, 2000);
}

TEST_F(SerialLinkLine, SilentAndShortReadsFailAtTheTimeOutAndAreLogged)
{
    test::ScratchLog log;
    char bytes[8];
    for (const std::string& sent : {std::string(), std::string("\x01\x02\x03")}) {
        link_->ClearPendingError();
        peer_->Send(sent);
        const auto start = Clock::now();
        EXPECT_EQ(link_->Read(bytes, 8, -300), E_FAIL);
        const long long took = MsSince(start);
        EXPECT_GE(took, 290);
        EXPECT_LT(took, 1000);
        EXPECT_EQ(link_->PendingErrorId(), UINT(IDS_ERR_COM_READ));
    }
    ASSERT_EQ(link_->Write("\xAB\xCD", 2, -1000), S_OK);
    const std::string text = log.Text();
    EXPECT_NE(
        text.find("< [0 bytes]\r\nCOM READ ERROR: 8 bytes expected (code 0, timeout 300)\r\n"),
        std::string::npos)
        << text;
    EXPECT_NE(text.find("< [3 bytes]\r\n< 01 02 03\r\nCOM READ ERROR: 8 bytes expected (code 0, "
                        "timeout 300)\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("> [2 bytes]\r\n> AB CD\r\n"), std::string::npos);
}

TEST_F(SerialLinkLine, DiscardDrainsAndLogsPendingInput)
{
    test::ScratchLog log;
    std::string junk;
    for (int i = 0; i < 300; ++i)
        junk += char(i);
    peer_->Send(junk);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(link_->Discard(), S_OK);
    const std::string text = log.Text();
    EXPECT_NE(text.find("DISCARDING UNEXPECTED DATA\r\n! [256 bytes]\r\n! 00 01 02"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("DISCARDING UNEXPECTED DATA\r\n! [44 bytes]\r\n! 00 01 02"),
              std::string::npos);
    char byte;
    EXPECT_EQ(link_->Read(&byte, 1, -100), E_FAIL);

    // Without waiting: only what has arrived, and whether there was any.
    EXPECT_EQ(link_->DiscardArrived(), S_FALSE);
    peer_->Send("stale");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(link_->DiscardArrived(), S_OK);
    EXPECT_NE(log.Text().find("DISCARDING UNEXPECTED DATA\r\n! [5 bytes]\r\n! 73 74 61"),
              std::string::npos);
    EXPECT_EQ(link_->Read(&byte, 1, -100), E_FAIL);
}

TEST_F(SerialLinkLine, DiscardGivesUpOnAPeerThatNeverFallsSilent)
{
    Reopen(115200);
    std::atomic<bool> stop {false};
    const auto start = Clock::now();
    std::thread chatter([&] {
        while (!stop && MsSince(start) < 8000) {
            peer_->Send(std::string(16, 'z'));
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    EXPECT_EQ(link_->Discard(), S_OK);
    const long long took = MsSince(start);
    stop = true;
    chatter.join();
    EXPECT_GE(took, 2000);
    EXPECT_LT(took, 4000);
}

TEST_F(SerialLinkLine, WritesNobodyTakesAreShortThenNameThePort)
{
    test::ScratchLog log;
    const std::string flood(1 << 20, 'x');
    EXPECT_EQ(link_->Write(flood.data(), uint32_t(flood.size()), -300), E_FAIL);
    EXPECT_EQ(link_->PendingErrorId(), UINT(IDS_ERR_COM_WRITE));
    // Buffers on the way (the pty relay under Wine) may still take a little.
    for (int i = 0; i < 10 && link_->PendingErrorId() != IDS_ERR_COM_NO_ANSWER; ++i)
        link_->Write(flood.data(), 4096, -200);
    EXPECT_EQ(link_->PendingErrorId(), UINT(IDS_ERR_COM_NO_ANSWER));
    ASSERT_NE(link_->ErrorInsert(), nullptr);
    EXPECT_EQ(link_->ErrorInsert(), link_->Name());
    EXPECT_NE(log.Text().find("> [0 bytes]\r\nCOM WRITE ERROR: 4096 bytes should have been written "
                              "(code 0, timeout 200)"),
              std::string::npos);
    link_->Close();
    while (!peer_->Receive(1 << 16, 200).empty()) {
    }
}

#ifndef _WIN32
TEST_F(SerialLinkLine, OpensARawEightBitLineAtTheStoredSpeedOnly)
{
    Reopen(115200);
    termios line {};
    ASSERT_EQ(tcgetattr(peer_->Fd(), &line), 0);  // the master reports the slave's settings
    EXPECT_EQ(cfgetospeed(&line), speed_t(B115200));
    EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8 | CRTSCTS));
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);
    EXPECT_NEAR(link_->MsPerByte(), 2000.0 / 11520.0, 1e-4);

    link_->Close();
    link_->SetBaudRate(31250);
    EXPECT_EQ(link_->Open(), E_FAIL);
    EXPECT_EQ(link_->PendingErrorId(), UINT(IDS_ERR_COM_OPEN));
}

TEST_F(SerialLinkLine, HangUpFailsAWaitingReadAtOnce)
{
    test::ScratchLog log;
    std::thread hangup([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        peer_->Hangup();
    });
    char bytes[4];
    const auto start = Clock::now();
    EXPECT_EQ(link_->Read(bytes, 4, -3000), E_FAIL);
    const long long took = MsSince(start);
    hangup.join();
    EXPECT_LT(took, 1000);
    EXPECT_EQ(link_->PendingErrorId(), UINT(IDS_ERR_COM_READ));
    EXPECT_NE(log.Text().find("COM READ ERROR: code 5 (4 to read, timeout 3000)\r\n"),
              std::string::npos);
    EXPECT_EQ(link_->Write("ab", 2, -3000), E_FAIL);
    EXPECT_EQ(link_->PendingErrorId(), UINT(IDS_ERR_COM_WRITE));
    EXPECT_LT(MsSince(start), 1000);
}
#endif

#ifdef _WIN32
DCB RightLine()
{
    DCB dcb {};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = 19200;
    dcb.ByteSize = 8;
    dcb.fOutxCtsFlow = TRUE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    return dcb;
}

TEST(SerialLinkLineSettings, AnyWrongSettingResetsThemAllAndLimitsAreAlwaysSet)
{
    DCB right = RightLine();
    right.fNull = TRUE;
    right.fAbortOnError = TRUE;
    EXPECT_FALSE(SerialLink::NormalizeLineSettings(right, 4112));
    EXPECT_TRUE(right.fBinary && !right.fNull && right.fAbortOnError);
    EXPECT_EQ(right.XonLim, 257);
    EXPECT_EQ(right.XoffLim, 257);
    for (const auto& [packetSize, limit] :
         {std::pair<uint32_t, int> {0, 10}, {175, 10}, {176, 11}}) {
        DCB dcb = RightLine();
        SerialLink::NormalizeLineSettings(dcb, packetSize);
        EXPECT_EQ(dcb.XonLim, limit);
        EXPECT_EQ(dcb.XoffLim, limit);
    }

    const std::function<void(DCB&)> faults[] = {
        [](DCB& d) { d.ByteSize = 7; },
        [](DCB& d) { d.Parity = EVENPARITY; },
        [](DCB& d) { d.StopBits = TWOSTOPBITS; },
        [](DCB& d) { d.fParity = TRUE; },
        [](DCB& d) { d.fOutxCtsFlow = FALSE; },
        [](DCB& d) { d.fOutxDsrFlow = TRUE; },
        [](DCB& d) { d.fDtrControl = DTR_CONTROL_HANDSHAKE; },
        [](DCB& d) { d.fDsrSensitivity = TRUE; },
        [](DCB& d) { d.fOutX = TRUE; },
        [](DCB& d) { d.fInX = TRUE; },
        [](DCB& d) { d.fRtsControl = RTS_CONTROL_ENABLE; },
        [](DCB& d) {
            d = DCB {};
            d.DCBlength = sizeof d;
            d.BaudRate = 19200;
        },
    };
    right = RightLine();
    SerialLink::NormalizeLineSettings(right, 512);
    for (size_t i = 0; i < std::size(faults); ++i) {
        DCB dcb = RightLine();
        faults[i](dcb);
        EXPECT_TRUE(SerialLink::NormalizeLineSettings(dcb, 512)) << "fault " << i;
        EXPECT_EQ(std::memcmp(&dcb, &right, sizeof dcb), 0) << "fault " << i;
    }
}

TEST(SerialLinkRecord, DefaultIsNormalizedAndStoredRecordsAreCheckedFirst)
{
    SerialLink link("COM1", 512);
    if (!link.HasConfiguration())
        GTEST_SKIP() << "COM1 has no configuration on this machine";
    const std::vector<BYTE> good(link.ConfigurationData().begin(), link.ConfigurationData().end());
    ASSERT_GE(good.size(), sizeof(COMMCONFIG));
    COMMCONFIG head;
    std::memcpy(&head, good.data(), sizeof head);
    EXPECT_EQ(head.dwSize, good.size());
    EXPECT_EQ(link.BaudRate(), 19200u);
    EXPECT_FALSE(SerialLink::NormalizeLineSettings(head.dcb, 512));
    EXPECT_EQ(head.dcb.XonLim, 32);

    // Sizes past the data or below the header, a foreign DCB, a provider area outside.
    const std::function<void(COMMCONFIG&)> faults[] = {
        [](COMMCONFIG& c) { c.dwSize += 1; },
        [](COMMCONFIG& c) { c.dwSize = sizeof c - 1; },
        [](COMMCONFIG& c) { c.dcb.DCBlength = 12; },
        [](COMMCONFIG& c) {
            c.dwProviderOffset = c.dwSize - 4;
            c.dwProviderSize = 8;
        },
    };
    for (const auto& fault : faults) {
        std::vector<BYTE> record = good;
        reinterpret_cast<COMMCONFIG*>(record.data())->dcb.BaudRate = 1200;
        fault(*reinterpret_cast<COMMCONFIG*>(record.data()));
        EXPECT_FALSE(link.SetConfigurationData(record.data(), record.size()));
    }
    EXPECT_FALSE(link.SetConfigurationData(good.data(), 10));
    EXPECT_FALSE(link.SetConfigurationData(nullptr, 100));
    EXPECT_EQ(link.BaudRate(), 19200u);

    std::vector<BYTE> stored = good;
    stored.resize(good.size() + 16);
    reinterpret_cast<COMMCONFIG*>(stored.data())->dcb.BaudRate = 57600;
    reinterpret_cast<COMMCONFIG*>(stored.data())->dcb.Parity = EVENPARITY;
    ASSERT_TRUE(link.SetConfigurationData(stored.data(), stored.size()));
    EXPECT_EQ(link.ConfigurationData().size(), good.size());
    EXPECT_EQ(link.BaudRate(), 57600u);
    EXPECT_TRUE(link.NormalizeConfiguration());
    EXPECT_FALSE(link.NormalizeConfiguration());
}
#endif

}  // namespace
}  // namespace dm
