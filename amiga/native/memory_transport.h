// Our Amiga server's byte line over one end of an in-memory link pair, so that it can be run
// natively against the PC's packet layer.
#pragma once

#include "link/link.h"

extern "C" {
#include "amiga/server/transport.h"
}

#include <atomic>

namespace dm::amiga {

struct MemoryTransport {
    Transport base;  // first: the server sees only this
    Link* link = nullptr;
    std::atomic<bool> stop {false};
};

void InitMemoryTransport(MemoryTransport& transport, Link& link, uint32_t bytesPerSecond,
                         uint32_t answerWaitMs = 0);

}  // namespace dm::amiga
