// What the PC sees of the served folders: the drives at the root, the drawers and files below,
// with their metadata, and nothing of the server's own files or of what lies outside.
#include "core/amiga_dates.h"
#include "peer/metadata.h"
#include "peer/served_tree.h"
#include "peer_rig.h"

#include <sys/stat.h>
#include <unistd.h>

namespace dm {
namespace {

namespace fs = std::filesystem;

using test::Item;
using test::PeerRig;
using test::WriteWholeFile;

TEST(PeerListing, TheRootShowsEveryDriveAndAFolderItsFilesAndDrawersWithTheirMetadata)
{
    PeerRig rig;
    WriteWholeFile(rig.Host("Readme"), "hello");
    fs::create_directories(rig.work / "Devs" / "Keymaps");
    fs::create_directories(rig.work / "empty");
    // Neither links nor special files are shown; nor is the server's own sidecar.
    ASSERT_EQ(symlink(rig.outside.c_str(), rig.Host("outside-link").c_str()), 0);
    ASSERT_EQ(symlink((rig.outside / "secret").c_str(), rig.Host("file-link").c_str()), 0);
    ASSERT_EQ(mkfifo(rig.Host("fifo").c_str(), 0600), 0);
    struct stat st;
    ASSERT_EQ(stat(rig.Host("Readme").c_str(), &st), 0);
    rig.Start();
    const std::vector<DirectoryEntry> root = rig.List("");
    ASSERT_EQ(root.size(), 6u);

    const auto volume = rig.Find(root, "DH0:Work");
    ASSERT_TRUE(volume);
    EXPECT_EQ(volume->kind, ItemKind::Volume);
    EXPECT_NE(volume->size, 0u);
    EXPECT_LE(volume->inUse, volume->size);
    EXPECT_EQ(volume->protection & 0xF0000000u,
              peer::kCapabilityBit | peer::kFormattableBit | peer::kHasSubdrawersBit);

    const auto empty = rig.Find(root, "DF0");
    ASSERT_TRUE(empty) << "a drive without a disk shows its device alone";
    EXPECT_EQ(empty->kind, ItemKind::Floppy);
    EXPECT_EQ(empty->inUse, 0xFFFFFFFFu);
    EXPECT_TRUE(empty->protection & peer::kFormattableBit);

    const auto floppy = rig.Find(root, "DF1:Disk");
    ASSERT_TRUE(floppy);
    EXPECT_EQ(floppy->kind, ItemKind::Floppy);
    EXPECT_EQ(floppy->size, 901120u);
    EXPECT_EQ(floppy->inUse, 0u);
    EXPECT_TRUE(floppy->protection & peer::kFormattableBit);
    EXPECT_FALSE(floppy->protection & peer::kHasSubdrawersBit);

    // Image names start with ":" and hide the part up to the second ":" (or "::").
    const auto adf = rig.Find(root, ":DF1:disk.adf");
    ASSERT_TRUE(adf);
    EXPECT_EQ(adf->kind, ItemKind::AdfFile);
    EXPECT_EQ(adf->size, 901120u);
    const auto hdf = rig.Find(root, ":DH1:part.hdf");
    ASSERT_TRUE(hdf);
    EXPECT_EQ(hdf->kind, ItemKind::HdfFile);
    EXPECT_EQ(hdf->comment, ":32 :1 :2 :0 :512 :3 :0x444F5301");
    const auto rom = rig.Find(root, "::kick.rom");
    ASSERT_TRUE(rom);
    EXPECT_EQ(rom->kind, ItemKind::RomFile);
    EXPECT_EQ(rom->size, 512u * 1024);
    EXPECT_EQ(rom->comment,
              "ROM image\xA0\xA0"
              "512 KB");

    const std::vector<DirectoryEntry> entries = rig.List("DH0:Work");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "Devs");  // sorted without regard to case
    EXPECT_EQ(entries[0].kind, ItemKind::Drawer);
    EXPECT_EQ(entries[0].protection, peer::kHasSubdrawersBit);
    EXPECT_EQ(entries[1].name, "empty");
    EXPECT_EQ(entries[1].protection, 0u);
    EXPECT_EQ(entries[2].name, "Readme");
    EXPECT_EQ(entries[2].kind, ItemKind::File);
    EXPECT_EQ(entries[2].size, 5u);
    EXPECT_EQ(entries[2].date, FileTimeToDateStamp(peer::FileTimeFromTimespec(st.st_mtim)));

    EXPECT_EQ(rig.List("DH0:Work/Devs/Keymaps").size(), 0u);
    // A bare device or volume name is the volume mounted there, as the Amiga answers it.
    for (const char* bare : {"DH0:", "dh0:", "Work:"}) {
        const std::vector<DirectoryEntry> same = rig.List(bare);
        ASSERT_EQ(same.size(), entries.size()) << bare;
        EXPECT_EQ(same[2].name, "Readme") << bare;
    }
    EXPECT_EQ(rig.List("dh0:work/DEVS").size(), 1u) << "Amiga names ignore case";

    // Links, drives without a usable medium and what is no drawer refuse to list.
    const auto list = [&](const std::string& path) {
        return rig.pc->ListDirectory(path, [&](const DirectoryEntry&) { return true; });
    };
    EXPECT_TRUE(rig.Failed(list("DH0:Work/outside-link"), peer::error::NotFound));
    EXPECT_TRUE(rig.Failed(list("DF0"), peer::error::DiskNotMounted));
    EXPECT_TRUE(rig.Failed(list("DF0:"), peer::error::DiskNotMounted));
    EXPECT_TRUE(rig.Failed(list("DH7:"), peer::error::VolumeNotMounted));
    EXPECT_TRUE(rig.Failed(list("DH7:Nowhere"), peer::error::VolumeNotMounted));
    EXPECT_TRUE(rig.Failed(list(":DF1:disk.adf"), peer::error::NotPossible));
    EXPECT_TRUE(rig.Failed(list("DH0:Work/Readme"), peer::error::NotPossible));
    EXPECT_TRUE(rig.Failed(list("DH0:Work"), 0, S_OK));
}

}  // namespace
}  // namespace dm
