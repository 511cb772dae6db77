#ifdef _WIN32
#  ifndef NOMINMAX
#    define NOMINMAX
#  endif
#  include <winsock2.h>
#else
#  include <arpa/inet.h>
#  include <netinet/in.h>
#  include <sys/select.h>
#  include <sys/socket.h>
#  include <unistd.h>
#endif

#include "support/loopback_server.h"

#include <algorithm>
#include <stdexcept>

namespace dm::test {

namespace {

#ifdef _WIN32
using SocketHandle = SOCKET;
using AddressSize = int;
constexpr int kSendFlags = 0;
bool Valid(SocketHandle s)
{
    return s != INVALID_SOCKET;
}
void CloseSocket(SocketHandle s)
{
    closesocket(s);
}

// Each user holds its own Winsock reference, independent of the link's.
struct SocketsUser {
    SocketsUser()
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~SocketsUser() { WSACleanup(); }
};
#else
using SocketHandle = int;
using AddressSize = socklen_t;
#  ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#  else
constexpr int kSendFlags = 0;
#  endif
bool Valid(SocketHandle s)
{
    return s >= 0;
}
void CloseSocket(SocketHandle s)
{
    close(s);
}
struct SocketsUser {};
#endif

void UseSockets()
{
    [[maybe_unused]] static SocketsUser sockets;
}

bool WaitReadable(SocketHandle s, int timeoutMs)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval limit {};
    limit.tv_sec = timeoutMs / 1000;
    limit.tv_usec = timeoutMs % 1000 * 1000;
    return select(int(s) + 1, &set, nullptr, nullptr, &limit) > 0;
}

sockaddr_in Loopback(uint16_t port)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(0x7F000001);
    return address;
}

// Bound to 127.0.0.1 on a free port; throws when the system refuses.
SocketHandle BindLoopback(uint16_t& port)
{
    const SocketHandle s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (!Valid(s))
        throw std::runtime_error("no socket");
    sockaddr_in address = Loopback(0);
    AddressSize size = sizeof address;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        CloseSocket(s);
        throw std::runtime_error("cannot bind to 127.0.0.1");
    }
    port = ntohs(address.sin_port);
    return s;
}

}  // namespace

bool LoopbackConnection::Send(std::string_view bytes)
{
    while (!bytes.empty() && socket_ != -1) {
        const int sent = send(SocketHandle(socket_), bytes.data(),
                              int(std::min<size_t>(bytes.size(), 1 << 20)), kSendFlags);
        if (sent <= 0)
            return false;
        bytes.remove_prefix(size_t(sent));
    }
    return bytes.empty();
}

std::string LoopbackConnection::Receive(size_t count, int quietMs)
{
    std::string received;
    char piece[65536];
    while (received.size() < count && socket_ != -1 &&
           WaitReadable(SocketHandle(socket_), quietMs)) {
        const int got = recv(SocketHandle(socket_), piece,
                             int(std::min(sizeof piece, count - received.size())), 0);
        if (got <= 0)
            break;
        received.append(piece, size_t(got));
    }
    return received;
}

void LoopbackConnection::Close()
{
    if (socket_ != -1)
        CloseSocket(SocketHandle(socket_));
    socket_ = -1;
}

LoopbackServer::LoopbackServer(Serve serve, int receiveBuffer) : serve_(std::move(serve))
{
    UseSockets();
    const SocketHandle listener = BindLoopback(port_);
    if (receiveBuffer > 0)
        setsockopt(listener, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer),
                   sizeof receiveBuffer);
    if (listen(listener, 8) != 0) {
        CloseSocket(listener);
        throw std::runtime_error("cannot listen");
    }
    listener_ = intptr_t(listener);
    thread_ = std::thread([this] { Run(); });
}

LoopbackServer::~LoopbackServer()
{
    Stop();
}

int LoopbackServer::Stop()
{
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listener_ != -1)
        CloseSocket(SocketHandle(listener_));
    listener_ = -1;
    return connections_;
}

void LoopbackServer::Run()
{
    const SocketHandle listener = SocketHandle(listener_);
    for (;;) {
        const bool stopping = stopping_;
        // Once stopping, only what is already queued is still served.
        if (!WaitReadable(listener, stopping ? 0 : 20)) {
            if (stopping)
                return;
            continue;
        }
        const SocketHandle accepted = accept(listener, nullptr, nullptr);
        if (!Valid(accepted)) {
            if (stopping)
                return;
            continue;
        }
#if !defined(_WIN32) && defined(SO_NOSIGPIPE)
        const int on = 1;
        setsockopt(accepted, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
        ++connections_;
        LoopbackConnection connection {intptr_t(accepted)};
        if (serve_)
            serve_(connection);
    }
}

uint16_t UnusedLoopbackPort()
{
    UseSockets();
    uint16_t port = 0;
    CloseSocket(BindLoopback(port));
    return port;
}

}  // namespace dm::test
