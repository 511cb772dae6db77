// Our Amiga server's request handling and packet layer, run natively against the PC's own
// packet layer and commands.
#include "amiga/server_rig.h"
#include "support/fault_classes.h"

#include "support/channel_pair.h"

namespace dm::test {
namespace {

constexpr uint32_t kDeleteForbidden = 0x01;

TEST(AmigaServer, EveryCommandOfAWorkingSessionOverTheWire)
{
    AmigaServerRig rig;
    fs::create_directories(rig.work / "Docs" / "Deep");
    WriteWholeFile(rig.Host("Docs/a.txt"), "alpha");
    WriteWholeFile(rig.Host("Docs/Deep/b.bin"), PatternBytes(3000, 2));
    // A slow machine: every look at the clock finds 2.5 s gone.
    rig.fs.milliseconds = [](void*) {
        static std::atomic<uint32_t> now {0};
        return now += 2500;
    };
    rig.Start();

    // The drives, then a drawer with its sizes.
    const auto root = rig.List("");
    ASSERT_EQ(root.size(), 2u);
    EXPECT_EQ(root[0].name, "DH0:Work");
    EXPECT_EQ(root[0].kind, ItemKind::Volume);
    EXPECT_EQ(root[1].name, "DF0");
    EXPECT_EQ(root[1].kind, ItemKind::Floppy);
    const auto docs = rig.List("DH0:Work/Docs");
    ASSERT_EQ(docs.size(), 2u);
    ASSERT_TRUE(rig.Find(docs, "a.txt"));
    EXPECT_EQ(rig.Find(docs, "a.txt")->size, 5u);
    EXPECT_EQ(rig.Find(docs, "Deep")->kind, ItemKind::Drawer);

    // Both ways, byte for byte, across many packets; a second upload asks before replacing.
    const std::string big = PatternBytes(70000, 3);
    ScriptedQuestions ask;
    EXPECT_EQ(rig.Upload("DH0:Work/Docs/big.bin", big, ask), S_OK);
    EXPECT_TRUE(ReadWholeFile(rig.Host("Docs/big.bin")) == big);
    std::string back;
    EXPECT_EQ(rig.Download(Item("DH0:Work/Docs", "big.bin"), back), S_OK);
    EXPECT_TRUE(back == big) << back.size();
    bool declined = false;
    ask.answers = {OverwriteAnswer::No};
    EXPECT_EQ(rig.Upload("DH0:Work/Docs/big.bin", "other", ask, &declined), S_OK);
    EXPECT_TRUE(declined);
    EXPECT_TRUE(ReadWholeFile(rig.Host("Docs/big.bin")) == big);
    ask.answers = {OverwriteAnswer::Yes};
    EXPECT_EQ(rig.Upload("DH0:Work/Docs/big.bin", "other", ask, &declined), S_OK);
    EXPECT_EQ(rig.LastError().code, 0u);
    EXPECT_EQ(ReadWholeFile(rig.Host("Docs/big.bin")).size(), 5u);
    EXPECT_EQ(ask.asked, (std::vector<std::string> {"big.bin", "big.bin"}));

    // A disk that fills up mid-file leaves nothing behind and says why.
    host_fs_fail_writes(rig.host, 1);
    EXPECT_TRUE(rig.Failed(rig.Upload("DH0:Work/full.bin", big, ask), 3));
    host_fs_fail_writes(rig.host, 0);
    EXPECT_EQ(rig.List("DH0:Work").size(), 1u);

    // Drawer, rename, attributes, copy, move, count.
    DirectoryEntry drawer;
    drawer.kind = ItemKind::Drawer;
    drawer.name = "DH0:Work/New";
    OverwriteAnswer answer = OverwriteAnswer::Yes;
    EXPECT_EQ(rig.pc->CreateObject(drawer, RemoteItem {}, answer, 1, ask, nullptr), S_OK);
    EXPECT_EQ(rig.LastError().code, 0u);
    EXPECT_TRUE(fs::is_directory(rig.work / "New"));
    EXPECT_EQ(rig.pc->NewDrawer(Item("DH0:Work", "", ItemKind::Volume)), S_OK);
    EXPECT_TRUE(fs::is_directory(rig.work / "Unnamed1"));
    EXPECT_EQ(rig.pc->Rename(Item("DH0:Work/Docs", "a.txt"), "b.txt"), S_OK);
    EXPECT_TRUE(rig.HostExists("Docs/b.txt"));
    EXPECT_TRUE(rig.Failed(rig.pc->Rename(Item("DH0:Work/Docs", "b.txt"), "Deep"), 20));
    EXPECT_EQ(
        rig.pc->SetAttributes(Item("DH0:Work/Docs", "b.txt"), 0x10 | kDeleteForbidden, "kept"),
        S_OK);
    const auto renamed = rig.List("DH0:Work/Docs");
    ASSERT_TRUE(rig.Find(renamed, "b.txt"));
    EXPECT_EQ(rig.Find(renamed, "b.txt")->protection, 0x11u);
    EXPECT_EQ(rig.Find(renamed, "b.txt")->comment, "kept");

    ask.answers = {OverwriteAnswer::Yes};
    declined = false;
    EXPECT_EQ(rig.pc->Copy(Item("DH0:Work", "Docs", ItemKind::Drawer),
                           Item("DH0:Work", "New", ItemKind::Drawer), answer, 1, ask, &declined),
              S_OK);
    EXPECT_EQ(ReadWholeFile(rig.Host("New/Docs/Deep/b.bin")), PatternBytes(3000, 2));
    EXPECT_TRUE(rig.Failed(
        rig.pc->Copy(Item("DH0:Work", "Docs", ItemKind::Drawer),
                     Item("DH0:Work/Docs", "Deep", ItemKind::Drawer), answer, 1, ask, nullptr),
        8, E_FAIL));
    EXPECT_EQ(rig.pc->Move(Item("DH0:Work/New/Docs", "Deep", ItemKind::Drawer),
                           Item("DH0:Work", "Unnamed1", ItemKind::Drawer)),
              S_OK);
    EXPECT_TRUE(rig.HostExists("Unnamed1/Deep/b.bin"));
    EXPECT_FALSE(rig.HostExists("New/Docs/Deep"));

    ASSERT_EQ(rig.pc->CountContents(Item("DH0:Work", "Docs", ItemKind::Drawer)), S_OK);
    uint64_t bytes = 0, drawers = 0, files = 0, steps = 0;
    for (bool finished = false; !finished; ++steps) {
        uint32_t b = 0, d = 0, f = 0;
        ASSERT_EQ(rig.pc->ReadProgress(b, d, f, finished, false), S_OK);
        bytes += b, drawers += d, files += f;
    }
    EXPECT_EQ(bytes, 5u + 5u + 3000u);
    EXPECT_EQ(drawers, 1u);
    EXPECT_EQ(files, 3u);
    // Beyond one Progress a drawer: the PC hears from a long walk before its wait runs out.
    EXPECT_GT(steps, 3u);

    // Delete takes a drawer with all it holds, but stops at a delete-protected file.
    EXPECT_TRUE(rig.Failed(rig.pc->Delete(Item("DH0:Work", "Docs", ItemKind::Drawer)), 13));
    EXPECT_TRUE(rig.HostExists("Docs/b.txt"));
    EXPECT_EQ(rig.pc->SetAttributes(Item("DH0:Work/Docs", "b.txt"), 0x40000000, ""), S_OK);
    EXPECT_EQ(rig.pc->Delete(Item("DH0:Work", "Docs", ItemKind::Drawer)), S_OK);
    EXPECT_FALSE(rig.HostExists("Docs"));
    EXPECT_EQ(rig.pc->FinishSetup(), S_OK);
}

uint32_t Long(const std::string& disk, size_t at)
{
    return GetBigEndian32(reinterpret_cast<const uint8_t*>(disk.data()) + at);
}

uint32_t BlockSum(const std::string& disk, uint32_t block)
{
    uint32_t sum = 0;
    for (size_t i = 0; i < 128; ++i)
        sum += Long(disk, block * 512 + i * 4);
    return sum;
}

// What AmigaDOS checks before it mounts a floppy: the boot block's type and end-around-carry
// sum, a root block in the middle whose hash table, name and bitmap pointers are sound, and a
// bitmap that frees every block but the file system's own.
void ExpectEmptyVolume(const std::string& disk, uint32_t dosType, bool bootable,
                       const std::string& name)
{
    ASSERT_EQ(disk.size(), 901120u);
    EXPECT_EQ(Long(disk, 0), dosType);
    uint32_t boot = 0;
    for (size_t i = 0; i < 256; ++i) {
        const uint32_t before = boot;
        boot += Long(disk, i * 4);
        if (boot < before)
            ++boot;
    }
    EXPECT_EQ(boot == 0xFFFFFFFF, bootable) << std::hex << boot;
    const size_t root = 880 * 512;
    EXPECT_EQ(Long(disk, root), 2u);
    EXPECT_EQ(Long(disk, root + 12), 72u);
    EXPECT_EQ(Long(disk, root + 508), 1u);
    EXPECT_EQ(BlockSum(disk, 880), 0u);
    EXPECT_EQ(Long(disk, root + 312), 0xFFFFFFFFu);
    EXPECT_EQ(disk.substr(root + 433, size_t(uint8_t(disk[root + 432]))), name);
    EXPECT_EQ(Long(disk, root + 420), 17000u);
    EXPECT_EQ(Long(disk, root + 484), 17000u);
    const bool dircache = (dosType & 0xFF) >= 4;
    EXPECT_EQ(Long(disk, root + 504), dircache ? 882u : 0u);
    const uint32_t bitmap = Long(disk, root + 316);
    ASSERT_EQ(bitmap, 881u);
    EXPECT_EQ(Long(disk, root + 320), 0u);
    EXPECT_EQ(BlockSum(disk, bitmap), 0u);
    uint32_t free = 0;
    for (uint32_t block = 2; block < 1760; ++block) {
        const uint32_t bit = block - 2;
        if (Long(disk, bitmap * 512 + 4 + bit / 32 * 4) >> (bit % 32) & 1)
            ++free;
        else
            EXPECT_TRUE(block == 880 || block == 881 || (dircache && block == 882)) << block;
    }
    EXPECT_EQ(free, dircache ? 1755u : 1756u);
    if (dircache) {
        EXPECT_EQ(Long(disk, 882 * 512), 33u);
        EXPECT_EQ(Long(disk, 882 * 512 + 8), 880u);
        EXPECT_EQ(BlockSum(disk, 882), 0u);
    }
}

// The drives as images: listed at the top, read whole, written back and verified, and
// formatted to an empty volume that AmigaDOS would mount.
TEST(AmigaServer, DiskImagesAndFormatOverTheWire)
{
    AmigaServerRig rig;
    const std::string adf = (rig.scratch.Path() / "df0.adf").string();
    const std::string hdf = (rig.scratch.Path() / "dh1.hdf").string();
    WriteWholeFile(adf, PatternBytes(901120, 5));
    WriteWholeFile(hdf, PatternBytes(4 * 32 * 512, 6));
    std::string rom = PatternBytes(262144, 7);
    rom.replace(0, 2, "\x11\x11");
    rom.replace(12, 4, std::string("\0\x22\0\x05", 4));
    host_disks_add(rig.hostDisks, "DF0", adf.c_str(), 1, 0);
    host_disks_add(rig.hostDisks, "DF1", "", 1, 0);
    host_disks_add(rig.hostDisks, "DH1", hdf.c_str(), 0, 4);
    host_disks_set_rom(rig.hostDisks, reinterpret_cast<const uint8_t*>(rom.data()),
                       uint32_t(rom.size()));
    rig.Start();

    const auto root = rig.List("");
    ASSERT_EQ(root.size(), 5u);
    const auto floppy = rig.Find(root, ":DF0:DF0.adf");
    const auto partition = rig.Find(root, ":DH1:DH1.hdf");
    const auto kickstart = rig.Find(root, "::Kickstart 34.5.rom");
    ASSERT_TRUE(floppy && partition && kickstart);
    EXPECT_EQ(floppy->kind, ItemKind::AdfFile);
    EXPECT_EQ(floppy->size, 901120u);
    EXPECT_EQ(partition->kind, ItemKind::HdfFile);
    EXPECT_EQ(partition->size, 65536u);
    EXPECT_EQ(partition->comment, ":32 :1 :2 :0 :512 :3 :0x444F5300");
    EXPECT_EQ(kickstart->kind, ItemKind::RomFile);
    EXPECT_EQ(kickstart->size, 262144u);
    EXPECT_EQ(kickstart->comment, "ROM image\xA0\xA0" "256 KB");

    std::string back;
    EXPECT_EQ(rig.Download(Item("", ":DF0:DF0.adf", ItemKind::AdfFile), back), S_OK);
    EXPECT_TRUE(back == ReadWholeFile(adf)) << back.size();
    EXPECT_EQ(rig.Download(Item("", "::Kickstart 34.5.rom", ItemKind::RomFile), back), S_OK);
    EXPECT_TRUE(back == rom);
    EXPECT_EQ(rig.Download(Item("", ":DH1:DH1.hdf", ItemKind::HdfFile), back), S_OK);
    EXPECT_TRUE(back == ReadWholeFile(hdf));

    // An image goes back only whole, only after the question, and only if it reads back right.
    ScriptedQuestions ask;
    EXPECT_TRUE(rig.Failed(rig.Upload(":DF0:DF0.adf", PatternBytes(901119, 8), ask), 26, E_FAIL));
    ask.answers = {OverwriteAnswer::Yes, OverwriteAnswer::Yes};
    const std::string disk = PatternBytes(901120, 9);
    EXPECT_EQ(rig.Upload(":DF0:DF0.adf", disk, ask), S_OK);
    EXPECT_EQ(rig.LastError().code, 0u);
    EXPECT_TRUE(ReadWholeFile(adf) == disk);
    int inhibited = 0;
    EXPECT_EQ(host_disks_inhibited(rig.hostDisks, &inhibited), 1);
    EXPECT_EQ(inhibited, 0);
    host_disks_damage_writes(rig.hostDisks, 1);
    EXPECT_TRUE(rig.Failed(rig.Upload(":DF0:DF0.adf", PatternBytes(901120, 10), ask), 25));
    host_disks_damage_writes(rig.hostDisks, 0);
    EXPECT_EQ(ask.asked, (std::vector<std::string> {"DF0.adf", "DF0.adf"}));

    // Format: the question names the disk; every file system variant, quick and full.
    const struct {
        uint32_t dosType;
        bool quick, bootable;
        uint32_t steps;
        const char* name;
    } formats[] = {
        {0x444F5300, true, false, 1, "Empty"},
        {0x444F5301, false, true, 81, "Work Disk"},
        {0x444F5305, true, true, 1, "Cached"},
    };
    ask.formatAnswer = true;
    for (const auto& format : formats) {
        ask.asked.clear();
        uint32_t steps = 0;
        ASSERT_EQ(rig.pc->Format(Item("", "DF0", ItemKind::Floppy), format.name, format.dosType,
                                 format.quick, format.bootable, steps, ask),
                  S_OK);
        EXPECT_EQ(steps, format.steps);
        for (uint32_t step = 0; step < steps; ++step)
            ASSERT_EQ(rig.pc->FormatStep(false), S_OK) << step;
        EXPECT_EQ(rig.LastError().code, 0u);
        EXPECT_EQ(ask.asked.size(), 1u);
        SCOPED_TRACE(format.name);
        EXPECT_EQ(rig.Download(Item("", ":DF0:DF0.adf", ItemKind::AdfFile), back), S_OK);
        ExpectEmptyVolume(back, format.dosType, format.bootable, format.name);
        if (!format.quick) {
            EXPECT_EQ(back.find_first_not_of('\0', 1024), 880u * 512 + 3);
        }
    }
    EXPECT_TRUE(rig.Find(rig.List(""), ":DF0:Cached.adf").has_value());

    // Refused before anything is written: a bad name, no disk, a write-protected disk.
    uint32_t steps = 0;
    const std::string formatted = ReadWholeFile(adf);
    const auto formatFloppy = [&](const char* drive, const char* name) {
        return rig.pc->Format(Item("", drive, ItemKind::Floppy), name, 0x444F5300, true, false,
                              steps, ask);
    };
    EXPECT_TRUE(rig.Failed(formatFloppy("DF0", "a:b"), 9, E_FAIL));
    EXPECT_TRUE(rig.Failed(formatFloppy("DF1", "x"), 19, E_FAIL));
    host_disks_write_protect(rig.hostDisks, 1);
    EXPECT_TRUE(rig.Failed(formatFloppy("DF0", "x"), 15, E_FAIL));
    EXPECT_TRUE(ReadWholeFile(adf) == formatted);
}

// Over TCP/IP the PC's identification carries the password key. A PC identifies itself once per
// process, so a later connection is asked to identify itself by the server, also one that opens
// with a request the PC expects no answer to; a wrong key is refused with its reason.
TEST(AmigaServer, OnlyAPcWithThePasswordKeyIsServedOverTcp)
{
    AmigaServerRig rig;
    WriteWholeFile((rig.work / "keep").string(), "data");
    rig.pcKey = rig.serverKey = crc32("Vormantic", 9);
    rig.Start();
    EXPECT_EQ(rig.List("").size(), 2u);

    rig.Stop();
    rig.Start();  // the same process, a new connection
    DirectoryEntry drawer;
    drawer.kind = ItemKind::Drawer;
    drawer.name = "DH0:Work/Later";
    OverwriteAnswer answer = OverwriteAnswer::Yes;
    ScriptedQuestions ask;
    EXPECT_EQ(rig.pc->CreateObject(drawer, RemoteItem {}, answer, 1, ask, nullptr), S_OK);
    EXPECT_EQ(rig.LastError().code, 0u);
    EXPECT_TRUE(fs::is_directory(rig.work / "Later"));
    EXPECT_EQ(rig.List("DH0:Work").size(), 2u);

    for (const bool sameProcess : {false, true}) {
        rig.Stop();
        if (!sameProcess)
            rig.pcState = HandshakeState {};
        rig.pcKey = crc32("Vormantik", 9);
        rig.Start();
        rig.List("", E_FAIL);
        EXPECT_EQ(rig.LastError().code, 29u) << sameProcess;
        EXPECT_TRUE(rig.Failed(rig.pc->Delete(Item("DH0:Work", "keep")), 29)) << sameProcess;
        EXPECT_TRUE(rig.HostExists("keep"));
    }
}

// Requests that name nothing sound, or reach for what lies outside the volume, are refused with
// a reason; the server goes on serving.
TEST(AmigaServer, BadRequestsAreRefusedWithTheirReason)
{
    AmigaServerRig rig;
    WriteWholeFile(rig.Host("file"), "data");
    WriteWholeFile((rig.scratch.Path() / "secret").string(), "outside the volume");
    rig.Start();
    struct Case {
        PacketType type;
        std::string data;
        uint32_t code;
    };
    const Case cases[] = {
        {PacketType::Delete, std::string("DH0:Work//file\0", 15), 5},
        {PacketType::Delete, std::string("DH0:Work/a:b\0", 13), 5},
        {PacketType::Delete, std::string("DH0:Work/\x01x\0", 12), 5},
        {PacketType::Delete, std::string("DH0:Work/file", 13), 8},  // no terminator
        {PacketType::Delete, std::string("DF0\0", 4), 19},
        {PacketType::Delete, std::string("DH0:Work\0", 9), 8},
        {PacketType::Delete, std::string("XY7:x/file\0", 11), 12},
        {PacketType::Rename, std::string("DH0:Work/file\0\0../x\0", 20), 5},
        {PacketType::Delete, std::string("DH0:Work/../secret\0", 19), 12},
        {PacketType::Move, std::string("DH0:Work/nothing\0DH0:Work\0", 26), 6},
        {PacketType::SetAttributes, std::string("\0\0", 2), 8},
        {PacketType::Format, std::string(20, 'x'), 8},
        {PacketType(99), "", 28},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(rig.pc->WritePacket(c.type, c.data.data(), uint16_t(c.data.size())), S_OK);
        const HRESULT answered = rig.pc->WaitForAnswer(0);
        EXPECT_EQ(answered, c.code ? kCancelled : S_OK) << c.data;
        EXPECT_EQ(rig.LastError().code, c.code) << c.data;
    }
    EXPECT_TRUE(rig.HostExists("file"));
    EXPECT_TRUE(fs::exists(rig.scratch.Path() / "secret"));

    // A command sent again after its answer word was damaged is answered, not run twice.
    char answer[16] = {};
    for (const int32_t sequence : {1000, -1000}) {
        const std::string bytes =
            RawPacket(PacketType::NewDrawer, std::string("DH0:Work\0", 9), sequence);
        ASSERT_EQ(rig.pcLink->Write(bytes.data(), uint32_t(bytes.size()), 0), S_OK);
        ASSERT_EQ(rig.pcLink->Read(answer, 4, -2000), S_OK);
        EXPECT_EQ(std::string(answer, 4), "PkOk");
        if (sequence > 0) {
            ASSERT_EQ(rig.pcLink->Read(answer, 12, -2000), S_OK);  // the server's Ok
            EXPECT_EQ(rig.pcLink->Write("PkOk", 4, 0), S_OK);
        } else {
            EXPECT_NE(rig.pcLink->Read(answer, 1, -300), S_OK) << "a second reply";
        }
    }
    // Asked by sequence for a lost answer while waiting for a command: the packet it took last
    // was taken, the next one never arrived.
    for (const auto& [sequence, reply] :
         {std::pair {"\0\0\x03\xe8", "PkOk"}, {"\0\0\x03\xe9", "PkRs"}}) {
        ASSERT_EQ(rig.pcLink->Write(sequence, 4, 0), S_OK);
        ASSERT_EQ(rig.pcLink->Read(answer, 4, -2000), S_OK);
        EXPECT_EQ(std::string(answer, 4), reply);
    }
    EXPECT_TRUE(fs::is_directory(rig.work / "Unnamed1"));
    EXPECT_FALSE(rig.HostExists("Unnamed2"));

    // Sent twice as new, the PC having heard nothing while the server was busy: run once and
    // replied to once, and the second copy is not a new command.
    const std::string once = RawPacket(PacketType::NewDrawer, std::string("DH0:Work\0", 9), 1001);
    ASSERT_EQ(rig.pcLink->Write((once + once).data(), uint32_t(2 * once.size()), 0), S_OK);
    ASSERT_EQ(rig.pcLink->Read(answer, 4, -2000), S_OK);
    EXPECT_EQ(std::string(answer, 4), "PkOk");
    ASSERT_EQ(rig.pcLink->Read(answer, 12, -2000), S_OK);
    EXPECT_EQ(rig.pcLink->Write("PkOk", 4, 0), S_OK);
    EXPECT_NE(rig.pcLink->Read(answer, 1, -300), S_OK) << "a second reply";
    EXPECT_TRUE(fs::is_directory(rig.work / "Unnamed2"));
    EXPECT_FALSE(rig.HostExists("Unnamed3"));
}

// Every line fault class, in what either side writes: our server answers a request for a lost
// answer word also while it waits for the next command, so every operation completes.
class AmigaServerFaults : public testing::TestWithParam<std::tuple<size_t, bool>> {};

TEST_P(AmigaServerFaults, EveryOperationCompletesRight)
{
    const auto [index, pcWrites] = GetParam();
    const peer::FaultPlan plan = LineFaults()[index].plan;
    const std::string content = PatternBytes(8000, 4);
    AmigaServerRig rig;
    PrepareFaultRun(rig, content);
    rig.Start(512, pcWrites ? plan : peer::FaultPlan {}, pcWrites ? peer::FaultPlan {} : plan,
              100 + index);
    const Tally tally = RunOperations(rig, 1, content);
    EXPECT_EQ(tally.completed, tally.attempted);
}

INSTANTIATE_TEST_SUITE_P(Classes, AmigaServerFaults,
                         testing::Combine(testing::Range(size_t(0), LineFaults().size()),
                                          testing::Bool()),
                         [](const auto& info) {
                             return std::string(LineFaults()[std::get<0>(info.param)].id) +
                                    (std::get<1>(info.param) ? "FromPc" : "FromAmiga");
                         });

}  // namespace
}  // namespace dm::test
