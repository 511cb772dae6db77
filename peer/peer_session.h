// One connection of the emulated Amiga: requests are read and answered until the link fails.
#pragma once

#include "link/link.h"
#include "peer/request_handler.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace dm::peer {

// What the PC's identification said. The PC identifies once per process, so a later connection
// from the same PC may carry none: the verdict outlives a connection.
enum class KeyVerdict { Unknown, Accepted, Refused };

struct SessionOptions {
    std::optional<uint32_t> expectedKey;  // TCP/IP: the CRC-32 of the password
    uint32_t packetSize = 512;
    uint32_t maxRetries = 50;
    // The PC side's recovery from lost answer words; off, the protocol runs exactly as written,
    // as on a real Amiga.
    bool lineRecovery = false;
};

// Returns when the link has failed several reads in a row (a closed peer fails at once).
HRESULT ServeLink(std::unique_ptr<Link> link, RequestHandler& handler,
                  const SessionOptions& options, KeyVerdict& verdict);

}  // namespace dm::peer
