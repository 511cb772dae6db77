#include "peer/socket_link.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace dm::peer {

SocketLink::SocketLink(int socket, const std::string& peerAddress)
    : FdLink(socket, true, LinkKind::Tcp, peerAddress)
{
    UseSocketWrites();
    // Answer words are 4 bytes: they must not wait for more to fill a segment.
    const int on = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    SetTimeouts(5000, 1.0416666f);
}

std::string PeerAddressOf(int socket)
{
    sockaddr_storage address {};
    socklen_t length = sizeof address;
    if (getpeername(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return {};
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&address)->sin_addr, text, sizeof text);
    else if (address.ss_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&address)->sin6_addr, text,
                  sizeof text);
    return text;
}

}  // namespace dm::peer
