// Connected link pairs for benchmarks: both ends open, the PC end first.
#pragma once

#include "link/link.h"

#include <memory>

namespace dm::bench {

enum class TransportKind { Memory, TcpLoopback };

struct TransportPair {
    std::unique_ptr<Link> pc;
    std::unique_ptr<Link> amiga;
};

// Empty when the transport cannot be set up here.
TransportPair MakeTransport(TransportKind kind);

}  // namespace dm::bench
