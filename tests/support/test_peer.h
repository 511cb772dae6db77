// The emulated Amiga that tools/with-peer starts around a test program: the process's session
// is pointed at it, and its served folders are reachable as Windows paths.
#pragma once

#include "link/tcp_link.h"
#include "protocol/connection_profile.h"
#include "protocol/connection_lock.h"
#include "protocol/session_support.h"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace dm::test {

// False when the program does not run under tools/with-peer. DROVEMARK_TEST_PEER_SERIAL (a COM
// port) replaces TCP/IP.
inline bool UseTestPeer()
{
    const char* port = std::getenv("DROVEMARK_TEST_PEER_PORT");
    const char* serial = std::getenv("DROVEMARK_TEST_PEER_SERIAL");
    if (!port && !serial)
        return false;
    // An emulated Amiga is slower than the peer: larger packets over TCP/IP, the serial line as
    // a user would set it up.
    ConnectionProfile profile;
    if (port)
        profile.port = uint16_t(std::atoi(port));
    if (serial)
        profile.serialDevice = serial;
    if (const char* log = std::getenv("DROVEMARK_TEST_PEER_PC_LOG"))
        profile.logFile = log;
    if (const char* packet = std::getenv("DROVEMARK_TEST_PEER_PACKET"))
        profile.packetSize = uint32_t(std::atoi(packet));
    RemoteSession::Config config;
    config.load = [profile](ConnectionSettings& settings) { return settings.LoadProfile(profile); };
    // Each test process has an emulated Amiga of its own, so a lock of its own: the prefix's
    // lock would make a paste wait for a test running beside it, then stop on the conflict
    // message that no one answers.
    config.lockName = DefaultConnectionLockName() + "Test" + std::to_string(GetCurrentProcessId());
    // What the module's class object does before the shell gets a folder.
    return RemoteSession::Process().Configure(config) && StartSockets();
}

// The size of the large file a test sends: smaller where the line is slow.
inline size_t PeerBigFileBytes()
{
    const char* bytes = std::getenv("DROVEMARK_TEST_PEER_BIG_BYTES");
    return bytes ? size_t(std::atol(bytes)) : size_t(1) << 20;
}

// True when the emulated Amiga runs our own server: its disk in DF1 is the image file df1.adf
// below the served folders, read through the drive, and the item of an unnamed disk is DF1.adf.
inline bool PeerServesDiskImages()
{
    return std::getenv("DROVEMARK_TEST_PEER_IMAGES") != nullptr;
}

// A path below the served folders (work, data), as Wine shows the host's files.
inline std::string PeerHostPath(const std::string& below)
{
    std::string path = std::string("Z:") + std::getenv("DROVEMARK_TEST_PEER_ROOT") + "/" + below;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

}  // namespace dm::test
