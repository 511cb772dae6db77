// The emulated Amiga served in-process on one end of a memory link pair, over scratch folders:
// a hard-disk volume, an empty floppy drive, a floppy disk, a disk image, a partition image and
// a ROM.
#pragma once

#include "peer/peer_session.h"
#include "support/server_rig.h"

#include <optional>
#include <thread>

namespace dm::test {

class PeerRig : public ServerRig {
public:
    PeerRig()
    {
        disk = scratch.Path() / "disk";
        outside = scratch.Path() / "outside";
        for (const fs::path& folder : {disk, outside})
            fs::create_directories(folder);
        WriteWholeFile((outside / "secret").string(), "outside the served folders");
        adf = (scratch.Path() / "disk.adf").string();
        hdf = (scratch.Path() / "part.hdf").string();
        rom = (scratch.Path() / "kick.rom").string();
        WriteWholeFile(adf, PatternBytes(901120, 2));
        WriteWholeFile(hdf, "DOS\x01" + PatternBytes(32 * 512 * 4 - 4, 3));
        WriteWholeFile(rom, PatternBytes(512 * 1024, 4));
    }
    ~PeerRig() { Stop(); }

    // The standard drives; `formattable` applies to DH0.
    void AddStandardDrives(bool formattable = true)
    {
        Add({ItemKind::Volume, "DH0", "Work", work.string(), formattable, 0});
        Add({ItemKind::Floppy, "DF0", "", "", false, 0});
        Add({ItemKind::Floppy, "DF1", "Disk", disk.string(), false, 0});
        Add({ItemKind::AdfFile, "DF1", "", adf, false, 0});
        Add({ItemKind::HdfFile, "DH1", "", hdf, false, 0});
        Add({ItemKind::RomFile, "", "", rom, false, 0});
    }
    void Add(const peer::DriveConfig& config)
    {
        if (!tree)
            tree = std::make_unique<peer::ServedTree>();
        std::string reason;
        ASSERT_TRUE(tree->AddDrive(config, reason)) << reason;
    }

    // Starts serving; `pcKey` is what the PC identifies with, `expectedKey` what the server
    // wants (TCP/IP), none for a serial line.
    void Start(std::optional<uint32_t> pcKey = std::nullopt,
               std::optional<uint32_t> expectedKey = std::nullopt)
    {
        if (!tree)
            AddStandardDrives();
        handler = std::make_unique<peer::RequestHandler>(*tree);
        auto [pcEnd, amigaEnd] = MakeLine(pcKey);
        amigaLink = amigaEnd.get();
        pc = std::make_unique<PacketChannel>(std::move(pcEnd), 512, 50, pcState);
        pc->Open();
        amigaEnd->Open();  // before the PC's first read, which fails at once on a closed end
        peer::SessionOptions options;
        options.expectedKey = expectedKey;
        server = std::thread(
            [this, link = std::unique_ptr<Link>(std::move(amigaEnd)), options]() mutable {
                peer::ServeLink(std::move(link), *handler, options, verdict);
            });
    }
    void Stop()
    {
        if (pc)
            pc->Close();
        if (server.joinable())
            server.join();
        pc.reset();
    }

    fs::path disk, outside;
    std::string adf, hdf, rom;
    std::unique_ptr<peer::ServedTree> tree;
    std::unique_ptr<peer::RequestHandler> handler;
    peer::KeyVerdict verdict = peer::KeyVerdict::Unknown;
    MemoryLink* amigaLink = nullptr;
    std::thread server;
};

}  // namespace dm::test
