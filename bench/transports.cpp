#include "bench/transports.h"

#include "link/memory_link.h"

namespace dm::bench {

TransportPair MakeTransport(TransportKind kind)
{
    TransportPair pair;
    if (kind == TransportKind::Memory) {
        auto [pc, amiga] = MakeMemoryLinkPair();
        pc->Open();
        amiga->Open();
        pair.pc = std::move(pc);
        pair.amiga = std::move(amiga);
    }
    return pair;
}

}  // namespace dm::bench
