// The emulated Amiga that tools/with-peer starts around a test program: the process's session
// is pointed at it, and its served folders are reachable as Windows paths.
#pragma once

#include "link/tcp_link.h"
#include "protocol/connection_lock.h"
#include "protocol/session_support.h"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace dm::test {

// False when the program does not run under tools/with-peer.
inline bool UseTestPeer()
{
    const char* port = std::getenv("DROVEMARK_TEST_PEER_PORT");
    if (!port)
        return false;
    RemoteSession::Config config;
    config.load = TcpLoader(uint16_t(std::atoi(port)));
    // Each test process has an emulated Amiga of its own, so a lock of its own: the prefix's
    // lock would make a paste wait for a test running beside it, then stop on the conflict
    // message that no one answers.
    config.lockName = DefaultConnectionLockName() + "Test" + std::to_string(GetCurrentProcessId());
    // What the module's class object does before the shell gets a folder.
    return RemoteSession::Process().Configure(config) && StartSockets();
}

// A path below the served folders (work, data), as Wine shows the host's files.
inline std::string PeerHostPath(const std::string& below)
{
    std::string path = std::string("Z:") + std::getenv("DROVEMARK_TEST_PEER_ROOT") + "/" + below;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

}  // namespace dm::test
