// Our Amiga server's request handling and packet layer, run natively against the PC's own
// packet layer and commands.
#include "amiga/server_rig.h"

#include "core/crc32.h"
#include "support/test_files.h"

#include <cstring>

#include <sys/stat.h>

namespace dm::test {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kDeleteForbidden = 0x01;

bool Exists(const fs::path& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

TEST(AmigaServer, EveryCommandOfAWorkingSessionOverTheWire)
{
    AmigaServerRig rig;
    fs::create_directories(rig.work / "Docs" / "Deep");
    WriteWholeFile((rig.work / "Docs" / "a.txt").string(), "alpha");
    WriteWholeFile((rig.work / "Docs" / "Deep" / "b.bin").string(), Bytes(3000, 2));
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
    const std::string big = Bytes(70000, 3);
    AnswerScript ask;
    EXPECT_EQ(rig.Upload("DH0:Work/Docs/big.bin", big, ask), S_OK);
    EXPECT_TRUE(ReadWholeFile((rig.work / "Docs" / "big.bin").string()) == big);
    std::string back;
    EXPECT_EQ(rig.Download(At("DH0:Work/Docs", "big.bin"), back), S_OK);
    EXPECT_TRUE(back == big) << back.size();
    bool declined = false;
    ask.answers = {OverwriteAnswer::No};
    EXPECT_EQ(rig.Upload("DH0:Work/Docs/big.bin", "other", ask, &declined), S_OK);
    EXPECT_TRUE(declined);
    EXPECT_TRUE(ReadWholeFile((rig.work / "Docs" / "big.bin").string()) == big);
    ask.answers = {OverwriteAnswer::Yes};
    EXPECT_EQ(rig.Upload("DH0:Work/Docs/big.bin", "other", ask, &declined), S_OK);
    EXPECT_EQ(rig.LastError(), 0u);
    EXPECT_EQ(ReadWholeFile((rig.work / "Docs" / "big.bin").string()).size(), 5u);
    EXPECT_EQ(ask.asked, (std::vector<std::string> {"big.bin", "big.bin"}));

    // A disk that fills up mid-file leaves nothing behind and says why.
    host_fs_fail_writes(rig.host, 1);
    EXPECT_NE(rig.Upload("DH0:Work/full.bin", big, ask), S_OK);
    host_fs_fail_writes(rig.host, 0);
    EXPECT_EQ(rig.LastError(), 3u);
    EXPECT_EQ(rig.List("DH0:Work").size(), 1u);

    // Drawer, rename, attributes, copy, move, count.
    DirectoryEntry drawer;
    drawer.kind = ItemKind::Drawer;
    drawer.name = "DH0:Work/New";
    OverwriteAnswer answer = OverwriteAnswer::Yes;
    EXPECT_EQ(rig.pc->CreateObject(drawer, RemoteItem {}, answer, 1, ask, nullptr), S_OK);
    EXPECT_EQ(rig.LastError(), 0u);
    EXPECT_TRUE(fs::is_directory(rig.work / "New"));
    EXPECT_EQ(rig.pc->NewDrawer(At("DH0:Work", "", ItemKind::Volume)), S_OK);
    EXPECT_TRUE(fs::is_directory(rig.work / "Unnamed1"));
    EXPECT_EQ(rig.pc->Rename(At("DH0:Work/Docs", "a.txt"), "b.txt"), S_OK);
    EXPECT_TRUE(Exists(rig.work / "Docs" / "b.txt"));
    EXPECT_EQ(rig.pc->Rename(At("DH0:Work/Docs", "b.txt"), "Deep"), kCancelled);
    EXPECT_EQ(rig.LastError(), 20u);
    EXPECT_EQ(rig.pc->SetAttributes(At("DH0:Work/Docs", "b.txt"), 0x10 | kDeleteForbidden,
                                    "kept"),
              S_OK);
    const auto renamed = rig.List("DH0:Work/Docs");
    ASSERT_TRUE(rig.Find(renamed, "b.txt"));
    EXPECT_EQ(rig.Find(renamed, "b.txt")->protection, 0x11u);
    EXPECT_EQ(rig.Find(renamed, "b.txt")->comment, "kept");

    ask.answers = {OverwriteAnswer::Yes};
    declined = false;
    EXPECT_EQ(rig.pc->Copy(At("DH0:Work", "Docs", ItemKind::Drawer),
                           At("DH0:Work", "New", ItemKind::Drawer), answer, 1, ask, &declined),
              S_OK);
    EXPECT_EQ(ReadWholeFile((rig.work / "New" / "Docs" / "Deep" / "b.bin").string()),
              Bytes(3000, 2));
    EXPECT_EQ(rig.pc->Copy(At("DH0:Work", "Docs", ItemKind::Drawer),
                           At("DH0:Work/Docs", "Deep", ItemKind::Drawer), answer, 1, ask, nullptr),
              E_FAIL);
    EXPECT_EQ(rig.LastError(), 8u);
    EXPECT_EQ(rig.pc->Move(At("DH0:Work/New/Docs", "Deep", ItemKind::Drawer),
                           At("DH0:Work", "Unnamed1", ItemKind::Drawer)),
              S_OK);
    EXPECT_TRUE(Exists(rig.work / "Unnamed1" / "Deep" / "b.bin"));
    EXPECT_FALSE(Exists(rig.work / "New" / "Docs" / "Deep"));

    ASSERT_EQ(rig.pc->CountContents(At("DH0:Work", "Docs", ItemKind::Drawer)), S_OK);
    uint64_t bytes = 0, drawers = 0, files = 0;
    for (bool finished = false; !finished;) {
        uint32_t b = 0, d = 0, f = 0;
        ASSERT_EQ(rig.pc->ReadProgress(b, d, f, finished, false), S_OK);
        bytes += b, drawers += d, files += f;
    }
    EXPECT_EQ(bytes, 5u + 5u + 3000u);
    EXPECT_EQ(drawers, 1u);
    EXPECT_EQ(files, 3u);

    // Delete takes a drawer with all it holds, but stops at a delete-protected file.
    EXPECT_EQ(rig.pc->Delete(At("DH0:Work", "Docs", ItemKind::Drawer)), kCancelled);
    EXPECT_EQ(rig.LastError(), 13u);
    EXPECT_TRUE(Exists(rig.work / "Docs" / "b.txt"));
    EXPECT_EQ(rig.pc->SetAttributes(At("DH0:Work/Docs", "b.txt"), 0x40000000, ""), S_OK);
    EXPECT_EQ(rig.pc->Delete(At("DH0:Work", "Docs", ItemKind::Drawer)), S_OK);
    EXPECT_FALSE(Exists(rig.work / "Docs"));
    EXPECT_EQ(rig.pc->FinishSetup(), S_OK);
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
    AnswerScript ask;
    EXPECT_EQ(rig.pc->CreateObject(drawer, RemoteItem {}, answer, 1, ask, nullptr), S_OK);
    EXPECT_EQ(rig.LastError(), 0u);
    EXPECT_TRUE(fs::is_directory(rig.work / "Later"));
    EXPECT_EQ(rig.List("DH0:Work").size(), 2u);

    for (const bool sameProcess : {false, true}) {
        rig.Stop();
        if (!sameProcess)
            rig.pcState = HandshakeState {};
        rig.pcKey = crc32("Vormantik", 9);
        rig.Start();
        rig.List("", E_FAIL);
        EXPECT_EQ(rig.LastError(), 29u) << sameProcess;
        EXPECT_EQ(rig.pc->Delete(At("DH0:Work", "keep")), kCancelled) << sameProcess;
        EXPECT_EQ(rig.LastError(), 29u) << sameProcess;
        EXPECT_TRUE(Exists(rig.work / "keep"));
    }
}

// Requests that name nothing sound, or reach for what lies outside the volume, are refused with
// a reason; the server goes on serving.
TEST(AmigaServer, BadRequestsAreRefusedWithTheirReason)
{
    AmigaServerRig rig;
    WriteWholeFile((rig.work / "file").string(), "data");
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
        EXPECT_EQ(rig.LastError(), c.code) << c.data;
    }
    EXPECT_TRUE(Exists(rig.work / "file"));
    EXPECT_TRUE(Exists(rig.scratch.Path() / "secret"));

    // A command sent again after its answer word was damaged is answered, not run twice.
    const auto raw = [](uint16_t type, const std::string& data, int32_t sequence) {
        std::string bytes(12, '\0');
        const uint8_t fields[8] = {uint8_t(type >> 8), uint8_t(type), uint8_t(data.size() >> 8),
                                   uint8_t(data.size()), uint8_t(uint32_t(sequence) >> 24),
                                   uint8_t(uint32_t(sequence) >> 16), uint8_t(uint32_t(sequence) >> 8),
                                   uint8_t(sequence)};
        std::memcpy(bytes.data(), fields, 8);
        const auto put = [](char* at, uint32_t v) {
            for (int i = 0; i < 4; ++i)
                at[i] = char(v >> (24 - 8 * i));
        };
        put(bytes.data() + 8, ComputeCrc32(bytes.data(), 8));
        if (!data.empty()) {
            bytes += data + std::string(4, '\0');
            put(bytes.data() + bytes.size() - 4, ComputeCrc32(data.data(), data.size()));
        }
        return bytes;
    };
    char answer[16] = {};
    for (const int32_t sequence : {1000, -1000}) {
        const std::string bytes =
            raw(uint16_t(PacketType::NewDrawer), std::string("DH0:Work\0", 9), sequence);
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
    EXPECT_TRUE(fs::is_directory(rig.work / "Unnamed1"));
    EXPECT_FALSE(Exists(rig.work / "Unnamed2"));
}

// Line faults of every class, in what either side writes: every upload, download and listing
// completes, right to the byte. Our server answers a request for a lost answer word also while
// it waits for the next command, so no class needs a floor below all of them.
struct FaultCase {
    const char* name;
    peer::FaultPlan plan;
};

class AmigaServerFaults : public testing::TestWithParam<std::tuple<size_t, bool>> {
public:
    static std::vector<FaultCase> Cases()
    {
        peer::FaultPlan damaged, lost, dropped, late, bits, all;
        damaged.damagedAnswers = all.damagedAnswers = 0.02;
        lost.lostAnswers = all.lostAnswers = 0.01;
        dropped.drop = all.drop = 0.005;
        late.delayMs = all.delayMs = 30;
        bits.bits = all.bits = 1e-5;
        for (peer::FaultPlan* plan : {&damaged, &lost, &dropped, &late, &bits, &all})
            plan->incoming = false;
        return {{"DamagedAnswers", damaged}, {"LostAnswers", lost}, {"LostWrites", dropped},
                {"LateWrites", late},        {"BitErrors", bits},   {"All", all}};
    }
};

TEST_P(AmigaServerFaults, EveryOperationCompletesRight)
{
    const auto [index, pcWrites] = GetParam();
    const FaultCase fault = Cases()[index];
    AmigaServerRig rig;
    const std::string content = Bytes(8000, 4);
    WriteWholeFile((rig.work / "source").string(), content);
    fs::create_directories(rig.work / "many");
    for (int i = 0; i < 60; ++i)
        WriteWholeFile((rig.work / "many" / ("entry-with-a-longish-name-" + std::to_string(i))).string(), "x");
    rig.Start(512, pcWrites ? fault.plan : peer::FaultPlan {},
              pcWrites ? peer::FaultPlan {} : fault.plan, 100 + index);
    AnswerScript ask;
    for (int round = 0; round < 1; ++round) {
        const std::string name = "up" + std::to_string(round);
        EXPECT_EQ(rig.Upload("DH0:Work/" + name, content, ask), S_OK) << name;
        rig.LastError();
        EXPECT_TRUE(ReadWholeFile((rig.work / name).string()) == content) << name;
        std::string copy;
        EXPECT_EQ(rig.Download(At("DH0:Work", "source"), copy), S_OK) << round;
        rig.LastError();
        EXPECT_TRUE(copy == content) << round;
        EXPECT_EQ(rig.List("DH0:Work/many").size(), 60u) << round;
        rig.LastError();
    }
}

INSTANTIATE_TEST_SUITE_P(Classes, AmigaServerFaults,
                         testing::Combine(testing::Range(size_t(0), size_t(6)), testing::Bool()),
                         [](const auto& info) {
                             return std::string(AmigaServerFaults::Cases()[std::get<0>(info.param)].name) +
                                    (std::get<1>(info.param) ? "FromPc" : "FromAmiga");
                         });

}  // namespace
}  // namespace dm::test
