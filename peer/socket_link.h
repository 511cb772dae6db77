// The server's end of an accepted TCP/IP connection.
#pragma once

#include "peer/fd_link.h"

#include <string>

namespace dm::peer {

class SocketLink : public FdLink {
public:
    // Takes the accepted socket; `peerAddress` names the PC in the log.
    SocketLink(int socket, const std::string& peerAddress);
};

// The address of the connection's other end ("127.0.0.1", "::1"), empty when unknown.
std::string PeerAddressOf(int socket);

}  // namespace dm::peer
