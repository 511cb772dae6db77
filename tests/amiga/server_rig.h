// Our Amiga server's portable core run natively in a thread over the scratch folder served as
// DH0:Work, on the far end of the rig's memory link pair.
#pragma once

#include "amiga/native/memory_transport.h"
#include "peer/fault_link.h"
#include "support/server_rig.h"

extern "C" {
#include "amiga/native/host_disks.h"
#include "amiga/native/host_fs.h"
#include "amiga/server/crc32.h"
#include "amiga/server/server.h"
}

#include <thread>

namespace dm::test {

class AmigaServerRig : public ServerRig {
public:
    AmigaServerRig()
    {
        crc32_init();
        host = host_fs_create(work.c_str(), "Work", &fs);
        hostDisks = host_disks_create(&disks);
        fs.disks = &disks;
    }
    ~AmigaServerRig()
    {
        Stop();
        host_fs_destroy(host);
        host_disks_destroy(hostDisks);
    }

    // Faults, when given, go into what that side writes; waits are then short.
    void Start(uint16_t streamBuffer = 512, const peer::FaultPlan& pcFaults = {},
               const peer::FaultPlan& amigaFaults = {}, uint64_t seed = 1)
    {
        auto [pcEnd, amigaEnd] = MakeLine(pcKey);
        const bool faults = pcFaults.Any() || amigaFaults.Any();
        auto pcSide = std::make_unique<peer::FaultLink>(std::move(pcEnd), pcFaults, seed);
        amigaLink = std::make_unique<peer::FaultLink>(std::move(amigaEnd), amigaFaults, seed + 1);
        if (faults) {
            pcSide->SetTimeouts(600, 0.001f);
            amigaLink->SetTimeouts(600, 0.001f);
        }
        pc = std::make_unique<PacketChannel>(std::move(pcSide), 512, 50, pcState);
        pc->Open();
        amigaLink->Open();
        amiga::InitMemoryTransport(line, *amigaLink, 100000, faults ? 300 : 0);
        line.stop = false;
        channel_init(&channel, &line.base, streamBuffer);
        channel.keyed = serverKey.has_value();
        channel.key = serverKey.value_or(0);
        server_init(&server, &channel, &fs);
        thread = std::thread([this] { server_run(&server); });
    }
    void Stop()
    {
        line.stop = true;
        if (thread.joinable())
            thread.join();
        if (pc)
            pc->Close();
    }

    FileSystem fs {};
    HostFs* host = nullptr;
    DiskAccess disks {};
    HostDisks* hostDisks = nullptr;
    std::optional<uint32_t> pcKey, serverKey;  // TCP/IP's password keys
    std::unique_ptr<peer::FaultLink> amigaLink;
    amiga::MemoryTransport line;
    Channel channel {};
    Server server {};
    std::thread thread;
};

}  // namespace dm::test
