// Winsock must come before windows.h, which platform.h pulls in through link.h.
#ifdef _WIN32
#  ifndef NOMINMAX
#    define NOMINMAX
#  endif
#  include <winsock2.h>
#endif

#include "link/tcp_link.h"

#include "core/diag_log.h"
#include "core/shared_settings_section.h"
#include "resources/string_ids.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#ifndef _WIN32
#  include <arpa/inet.h>
#  include <fcntl.h>
#  include <netdb.h>
#  include <netinet/in.h>
#  include <netinet/tcp.h>
#  include <poll.h>
#  include <sys/socket.h>
#  include <unistd.h>

#  include <cerrno>
#endif

namespace dm {

namespace {

#ifdef _WIN32
using SocketHandle = SOCKET;
constexpr int kSendFlags = 0;
int LastSocketError()
{
    return WSAGetLastError();
}
bool IsWouldBlock(int code)
{
    return code == WSAEWOULDBLOCK;
}
bool IsInterrupted(int)
{
    return false;
}
constexpr int kAlreadyConnecting = WSAEALREADY;
#else
using SocketHandle = int;
#  ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;  // a closed peer must not raise SIGPIPE
#  else
constexpr int kSendFlags = 0;  // SO_NOSIGPIPE is set on the socket instead
#  endif
int LastSocketError()
{
    return errno;
}
bool IsWouldBlock(int code)
{
    return code == EWOULDBLOCK || code == EAGAIN;
}
bool IsInterrupted(int code)
{
    return code == EINTR;
}
constexpr int kAlreadyConnecting = EALREADY;
#endif

std::mutex g_socketsLock;
bool g_socketsStarted = false;

bool Logging()
{
    return SharedSection().loggingEnabled != 0;
}

// The time-out as the log shows it: 0 for no limit.
int LoggedTimeout(std::optional<uint32_t> timeoutMs)
{
    return timeoutMs ? int(*timeoutMs) : 0;
}

// recv and send take an int; larger transfers go in pieces.
int Piece(uint32_t outstanding)
{
    return int(std::min<uint32_t>(outstanding, 1u << 30));
}

SocketHandle Handle(intptr_t socket)
{
    return SocketHandle(socket);
}

void CloseSocket(SocketHandle socket)
{
#ifdef _WIN32
    closesocket(socket);
#else
    close(socket);
#endif
}

bool IsAsciiLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Exactly four decimal numbers up to 255, as "192.168.1.20"; trailing blanks are tolerated.
// Stricter than inet_addr, which takes "1.2.3" as 1.2.0.3, reads "010" as octal and cannot tell
// an error from 255.255.255.255.
bool ParseDottedQuad(std::string_view text, uint32_t& address)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    address = 0;
    size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at >= text.size() || text[at] != '.')
                return false;
            ++at;
        }
        uint32_t value = 0;
        size_t digits = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4) {
            value = value * 10 + uint32_t(text[at] - '0');
            ++at;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255)
            return false;
        address = (address << 8) | value;
    }
    return at == text.size();
}

// A name (first character a letter) is looked up; anything else must be a dotted address.
bool ResolveAddress(const std::string& text, in_addr& address)
{
    if (text.empty() || !IsAsciiLetter(text[0])) {
        uint32_t value = 0;
        if (!ParseDottedQuad(text, value))
            return false;
        address.s_addr = htonl(value);
        return true;
    }
#ifdef _WIN32
    const hostent* host = gethostbyname(text.c_str());
    if (host == nullptr || host->h_addrtype != AF_INET || host->h_length != 4 ||
        host->h_addr_list == nullptr || host->h_addr_list[0] == nullptr)
        return false;
    std::memcpy(&address, host->h_addr_list[0], 4);
    return true;
#else
    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(text.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
        return false;
    const bool ok = found->ai_family == AF_INET && found->ai_addr != nullptr &&
                    found->ai_addrlen >= sizeof(sockaddr_in);
    if (ok)
        address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return ok;
#endif
}

bool MakeNonBlocking(SocketHandle socket)
{
#ifdef _WIN32
    u_long on = 1;
    return ioctlsocket(socket, FIONBIO, &on) == 0;
#else
    const int flags = fcntl(socket, F_GETFL, 0);
    return flags != -1 && fcntl(socket, F_SETFL, flags | O_NONBLOCK) == 0;
#endif
}

bool SetIntOption(SocketHandle socket, int level, int option, int value)
{
    return setsockopt(socket, level, option, reinterpret_cast<const char*>(&value), sizeof value) ==
           0;
}

// Room for at least `size` bytes. Never shrinks: buffers below the system's own stall a
// stream on Linux (and so under Wine), whose window updates wait for a whole segment of room.
void GrowBuffer(SocketHandle socket, int option, int size)
{
    int current = 0;
#ifdef _WIN32
    int length = sizeof current;
#else
    socklen_t length = sizeof current;
#endif
    if (getsockopt(socket, SOL_SOCKET, option, reinterpret_cast<char*>(&current), &length) == 0 &&
        current >= size)
        return;
    SetIntOption(socket, SOL_SOCKET, option, size);
}

enum class Wait { Ready, TimedOut, Failed };

// Waits until the socket can be read (or written); no time-out waits as long as it takes.
Wait WaitForSocket(SocketHandle socket, bool forWriting, std::optional<uint32_t> timeoutMs,
                   int& code)
{
#ifdef _WIN32
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    timeval limit {};
    if (timeoutMs) {
        limit.tv_sec = long(*timeoutMs / 1000);
        limit.tv_usec = long(*timeoutMs % 1000 * 1000);
    }
    const int ready = select(0, forWriting ? nullptr : &set, forWriting ? &set : nullptr, nullptr,
                             timeoutMs ? &limit : nullptr);
    if (ready == SOCKET_ERROR) {
        code = LastSocketError();
        return Wait::Failed;
    }
    return ready == 0 ? Wait::TimedOut : Wait::Ready;
#else
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    pollfd entry {socket, short(forWriting ? POLLOUT : POLLIN), 0};
    for (;;) {
        // poll takes an int, and a signal may cut a wait short: wait out what remains.
        int64_t remaining = -1;
        if (timeoutMs) {
            const auto elapsed =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
            remaining = std::max<int64_t>(int64_t(*timeoutMs) - elapsed.count(), 0);
        }
        const int ready = poll(&entry, 1, int(std::min<int64_t>(remaining, INT_MAX)));
        if (ready > 0)
            return Wait::Ready;
        if (ready == 0 && remaining <= INT_MAX)
            return Wait::TimedOut;
        if (ready < 0 && !IsInterrupted(errno)) {
            code = errno;
            return Wait::Failed;
        }
    }
#endif
}

}  // namespace

bool StartSockets()
{
    const std::lock_guard<std::mutex> lock(g_socketsLock);
    if (g_socketsStarted)
        return true;
#ifdef _WIN32
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0)
        return false;
#endif
    g_socketsStarted = true;
    return true;
}

void StopSockets()
{
    const std::lock_guard<std::mutex> lock(g_socketsLock);
    if (!g_socketsStarted)
        return;
#ifdef _WIN32
    WSACleanup();
#endif
    g_socketsStarted = false;
}

bool SocketsStarted()
{
    const std::lock_guard<std::mutex> lock(g_socketsLock);
    return g_socketsStarted;
}

TcpLink::TcpLink(uint32_t handshakeKey, uint32_t packetSize)
    : Link(LinkKind::Tcp, "TCP/IP"), packetSize_(packetSize), handshakeKey_(handshakeKey)
{
    SetTimeoutBasis(kMinTimeoutMs, kMsPerByte);
}

TcpLink::~TcpLink()
{
    CloseConnection();
}

bool TcpLink::IsOpen() const
{
    return socket_ != -1;
}

void TcpLink::SetAddress(std::string_view address)
{
    address_ = address.substr(0, kMaxAddressLength);
}

void TcpLink::CloseConnection()
{
    if (IsOpen())
        CloseSocket(Handle(socket_));
    socket_ = -1;
    aheadAt_ = aheadEnd_ = 0;
}

uint32_t TcpLink::TakeAhead(char* bytes, uint32_t count)
{
    const uint32_t n = std::min(count, aheadEnd_ - aheadAt_);
    std::memcpy(bytes, ahead_.data() + aheadAt_, n);
    aheadAt_ += n;
    if (aheadAt_ == aheadEnd_)
        aheadAt_ = aheadEnd_ = 0;
    return n;
}

HRESULT TcpLink::Open()
{
    if (IsOpen())
        return S_OK;
    if (!SocketsStarted()) {
        SetPendingError(IDS_ERR_NO_WINSOCK);
        return E_FAIL;
    }

    sockaddr_in peer {};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port_);
    if (!ResolveAddress(address_, peer.sin_addr)) {
        SetPendingError(IDS_ERR_HOST_NOT_FOUND);
        return E_FAIL;
    }

    const SocketHandle socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
#ifdef _WIN32
    const bool created = socket != INVALID_SOCKET;
#else
    const bool created = socket >= 0;
#endif
    if (!created) {
        SetPendingError(IDS_ERR_SOCKET_CREATE);
        return E_FAIL;
    }
    socket_ = intptr_t(socket);
#if !defined(_WIN32) && defined(SO_NOSIGPIPE)
    SetIntOption(socket, SOL_SOCKET, SO_NOSIGPIPE, 1);
#endif

    // Blocking, with the system's own connect time-out.
    if (connect(socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        if (LastSocketError() == kAlreadyConnecting)
            SetPendingError(IDS_ERR_CONN_CONFLICT);
        else
            SetPendingError(
                address_ == "127.0.0.1" ? IDS_ERR_TCP_CONNECT_LOCAL : IDS_ERR_TCP_CONNECT,
                address_);
        CloseConnection();
        return E_FAIL;
    }

    // Strict request and answer with 4-byte answer words: no Nagle delay; buffers of two packets.
    if (!MakeNonBlocking(socket) || !SetIntOption(socket, IPPROTO_TCP, TCP_NODELAY, 1)) {
        SetPendingError(IDS_ERR_SOCKET_INIT);
        CloseConnection();
        return E_FAIL;
    }
    const int buffer = int(std::min<uint64_t>(uint64_t(packetSize_) * 2, INT_MAX));
    GrowBuffer(socket, SO_SNDBUF, buffer);
    GrowBuffer(socket, SO_RCVBUF, buffer);
    NoteOpened();
    return S_OK;
}

HRESULT TcpLink::Close()
{
    CloseConnection();
    return S_OK;
}

// What differs between receiving and sending: the messages and the log lines.
struct TcpLink::Direction {
    bool sending;
    UINT closedId, errorId, timeoutId;
    const char* dumpPrefix;
    const char* disconnectLine;
    const char* errorLine;
    const char* timeoutLine;
    const char* selectErrorLine;
    const char* shortLine;
};

const TcpLink::Direction TcpLink::kReceiving = {
    false,
    IDS_ERR_READ_CLOSED,
    IDS_ERR_TCP_READ,
    IDS_ERR_TCP_READ_TIMEOUT,
    "< ",
    "TCP/IP READ ERROR (DISCONNECT): code %d (%d to read, timeout %d)\n",
    "TCP/IP READ ERROR: code %d (%d to read, timeout %d)\n",
    "TCP/IP READ TIMEOUT: code %d (%d to read, timeout %d)\n",
    "TCP/IP READ SELECT ERROR: code %d (%d to read, timeout %d)\n",
    "TCP/IP READ ERROR: %d bytes expected (code %d, timeout %d)\n"};

const TcpLink::Direction TcpLink::kSending = {
    true,
    IDS_ERR_WRITE_CLOSED,
    IDS_ERR_TCP_WRITE,
    IDS_ERR_TCP_WRITE_TIMEOUT,
    "> ",
    "TCP/IP WRITE ERROR (DISCONNECT): code %d (%d to write, timeout %d)\n",
    "TCP/IP WRITE ERROR: code %d (%d to write, timeout %d)\n",
    "TCP/IP WRITE TIMEOUT: code %d (%d to write, timeout %d)\n",
    "TCP/IP WRITE SELECT ERROR: code %d (%d to write, timeout %d)\n",
    "TCP/IP WRITE ERROR: %d bytes should have been written (code %d, timeout %d)\n"};

HRESULT TcpLink::Read(void* buffer, uint32_t count, int32_t hint)
{
    return Transfer(kReceiving, static_cast<char*>(buffer), count, hint);
}

HRESULT TcpLink::Write(const void* buffer, uint32_t count, int32_t hint)
{
    // Sending never writes into the buffer.
    return Transfer(kSending, const_cast<char*>(static_cast<const char*>(buffer)), count, hint);
}

HRESULT TcpLink::Transfer(const Direction& way, char* bytes, uint32_t count, int32_t hint)
{
    if (!IsOpen()) {
        SetPendingError(way.closedId);
        return E_FAIL;
    }
    const SocketHandle socket = Handle(socket_);
    uint32_t done = 0;
    int code = 0;
    UINT failure = 0;
    const char* failureLine = nullptr;
    std::optional<uint32_t> timeout = TimeoutMs(count, hint);
    if (!way.sending)
        done = TakeAhead(bytes, count);
    while (done < count && failure == 0) {
        // With hint 0 the wait shrinks with the bytes still outstanding.
        timeout = TimeoutMs(count - done, hint);
        // Small reads fill the read-ahead and take their part of it.
        const bool viaAhead = !way.sending && count - done < ahead_.size();
        const int moved = way.sending ? send(socket, bytes + done, Piece(count - done), kSendFlags)
                          : viaAhead  ? recv(socket, ahead_.data(), int(ahead_.size()), 0)
                                      : recv(socket, bytes + done, Piece(count - done), 0);
        if (moved > 0 && viaAhead) {
            aheadEnd_ = uint32_t(moved);
            done += TakeAhead(bytes + done, count - done);
            continue;
        }
        if (moved > 0) {
            done += uint32_t(moved);
            continue;
        }
        if (moved == 0) {
            failure = way.errorId;
            failureLine = way.disconnectLine;
            break;
        }
        code = LastSocketError();
        if (IsInterrupted(code))
            continue;
        if (!IsWouldBlock(code)) {
            failure = way.errorId;
            failureLine = way.errorLine;
            break;
        }
        switch (WaitForSocket(socket, way.sending, timeout, code)) {
        case Wait::Ready: break;
        case Wait::TimedOut:
            failure = way.timeoutId;
            failureLine = way.timeoutLine;
            break;
        case Wait::Failed:
            failure = way.errorId;
            failureLine = way.selectErrorLine;
            break;
        }
    }
    if (Logging()) {
        if (failureLine)
            LogLine(failureLine, code, int(count), LoggedTimeout(timeout));
        // A failure shows whatever part did get through.
        if (failure == 0 || done > 0) {
            LogHexDump(way.dumpPrefix, bytes, int32_t(std::min<uint32_t>(done, INT32_MAX)));
            if (done != count)
                LogLine(way.shortLine, int(count), code, LoggedTimeout(timeout));
        }
    }
    if (failure == 0)
        return S_OK;
    SetPendingError(failure);
    return E_FAIL;
}

HRESULT TcpLink::Discard()
{
    if (!IsOpen())
        return S_OK;
    using Clock = std::chrono::steady_clock;
    DropAhead();
    const SocketHandle socket = Handle(socket_);
    const uint32_t waitMs = std::max<uint32_t>(uint32_t(MsPerByte()), 200);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto giveUp = Clock::now() + std::chrono::milliseconds(kDiscardLimitMs);

    bool more = true;
    while (more) {
        // A chunk ends when the line stays quiet for the wait time.
        char chunk[256];
        int size = 0;
        while (size < int(sizeof chunk)) {
            if (Clock::now() >= giveUp) {
                more = false;
                break;
            }
            const int got = recv(socket, chunk + size, 1, 0);
            if (got == 1) {
                ++size;
                continue;
            }
            if (got == 0)
                break;
            int code = LastSocketError();
            if (IsInterrupted(code))
                continue;
            if (!IsWouldBlock(code) || WaitForSocket(socket, false, waitMs, code) != Wait::Ready)
                break;
        }
        if (size == 0)
            break;
        if (Logging()) {
            LogLine("DISCARDING UNEXPECTED DATA\n");
            LogHexDump("! ", chunk, size);
        }
    }
    return S_OK;
}

bool TcpLink::DropAhead()
{
    if (aheadAt_ == aheadEnd_)
        return false;
    if (Logging()) {
        LogLine("DISCARDING UNEXPECTED DATA\n");
        LogHexDump("! ", ahead_.data() + aheadAt_, int32_t(aheadEnd_ - aheadAt_));
    }
    aheadAt_ = aheadEnd_ = 0;
    return true;
}

HRESULT TcpLink::DiscardArrived()
{
    if (!IsOpen())
        return S_FALSE;
    const SocketHandle socket = Handle(socket_);
    bool dropped = DropAhead();
    // Bounded, as Discard is, against a peer that never stops sending.
    for (uint32_t total = 0; total < kDiscardLimitBytes;) {
        char chunk[256];
        const int got = recv(socket, chunk, int(sizeof chunk), 0);
        if (got <= 0) {
            if (got < 0 && IsInterrupted(LastSocketError()))
                continue;
            break;  // nothing more has arrived, or the connection ended
        }
        dropped = true;
        total += uint32_t(got);
        if (Logging()) {
            LogLine("DISCARDING UNEXPECTED DATA\n");
            LogHexDump("! ", chunk, got);
        }
    }
    return dropped ? S_OK : S_FALSE;
}

bool TcpLink::GetHandshakeKey(uint32_t& key)
{
    key = handshakeKey_;
    return true;
}

}  // namespace dm
