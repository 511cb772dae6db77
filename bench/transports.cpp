#include "bench/transports.h"

#include "link/memory_link.h"
#include "link/tcp_link.h"
#include "peer/socket_link.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

namespace dm::bench {

namespace {

// The PC's TcpLink connected over loopback to the Amiga side's end of an accepted socket.
TransportPair TcpLoopback()
{
    TransportPair pair;
    StartSockets();
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (listener >= 0)
            close(listener);
        return pair;
    }
    int accepted = -1;
    std::thread acceptor([&] { accepted = accept(listener, nullptr, nullptr); });
    auto pc = std::make_unique<TcpLink>(0, 65535);
    pc->SetPort(ntohs(address.sin_port));
    const HRESULT opened = pc->Open();
    acceptor.join();
    close(listener);
    if (FAILED(opened) || accepted < 0) {
        if (accepted >= 0)
            close(accepted);
        return pair;
    }
    auto amiga = std::make_unique<peer::SocketLink>(accepted, "127.0.0.1");
    amiga->Open();
    pair.pc = std::move(pc);
    pair.amiga = std::move(amiga);
    return pair;
}

}  // namespace

TransportPair MakeTransport(TransportKind kind)
{
    if (kind == TransportKind::TcpLoopback)
        return TcpLoopback();
    TransportPair pair;
    auto [pc, amiga] = MakeMemoryLinkPair();
    pc->Open();
    amiga->Open();
    pair.pc = std::move(pc);
    pair.amiga = std::move(amiga);
    return pair;
}

}  // namespace dm::bench
