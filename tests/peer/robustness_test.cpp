// Nothing the PC sends may crash the server, hang it or reach outside its folders, and damage on
// the line never turns into a damaged file.
#include "peer/fault_link.h"
#include "peer/metadata.h"
#include "peer_rig.h"
#include "protocol/byte_order.h"
#include "protocol/directory_record.h"
#include "support/channel_pair.h"

#include <cstring>
#include <random>

namespace dm {
namespace {

namespace fs = std::filesystem;

using test::Item;
using test::Pattern;
using test::PeerRig;
using test::ReadWholeFile;

// Plays the PC's side of any exchange from a random script, without a transport: each step
// goes ahead, is stopped by the PC, or breaks.
class RandomExchange : public peer::PeerExchange {
public:
    explicit RandomExchange(std::mt19937& random) : random_(random) {}

    std::vector<PacketType> sent;

    HRESULT Send(PacketType type, const void*, uint16_t) override
    {
        sent.push_back(type);
        return Outcome();
    }
    HRESULT WaitForAnswer(bool) override { return Outcome(); }
    HRESULT BeginFileRead(uint32_t* size) override
    {
        *size = left_ = Pick(3000);
        return Outcome();
    }
    HRESULT ReadFileData(void* buffer, uint32_t count, uint32_t* read) override
    {
        *read = std::min(count, left_);
        left_ -= *read;
        std::memset(buffer, int(Pick(256)), *read);
        return Outcome();
    }
    HRESULT EndFileRead() override { return Outcome(); }
    HRESULT BeginFileWrite(uint32_t) override { return Outcome(); }
    HRESULT WriteFileData(const void*, uint32_t, uint32_t*) override { return Outcome(); }
    HRESULT EndFileWrite() override { return Outcome(); }

private:
    uint32_t Pick(uint32_t below)
    {
        return std::uniform_int_distribution<uint32_t>(0, below - 1)(random_);
    }
    HRESULT Outcome()
    {
        const uint32_t roll = Pick(10);
        return roll == 0 ? kCancelled : roll == 1 ? E_FAIL : S_OK;
    }
    std::mt19937& random_;
    uint32_t left_ = 0;
};

// Request data that is often nearly right: paths to items that exist, or almost, with stray
// separators, dots and colons; records; spare bytes; and plain noise.
std::string RandomRequest(std::mt19937& random, PacketType type)
{
    auto pick = [&](uint32_t below) {
        return std::uniform_int_distribution<uint32_t>(0, below - 1)(random);
    };
    auto path = [&] {
        static const char* const kStarts[] = {"DH0:Work",        "DH0:Work/a", "DH0:Work/a/b",
                                              "DH0:Work/a/file", "DF1:Disk",   ":DF1:disk.adf",
                                              "::kick.rom",      "DF0",        "",
                                              "DH0:Work/out"};
        static const char* const kNames[] = {
            "a", "b", "file", "x", "Unnamed1", ".", "..", "", ".drovemark-meta", "c:d"};
        std::string text = kStarts[pick(10)];
        for (uint32_t n = pick(3); n > 0; --n)
            text += std::string("/") + kNames[pick(10)];
        if (pick(4) == 0)
            text.insert(pick(uint32_t(text.size()) + 1), 1, "/:.\0x"[pick(5)]);
        return text;
    };
    std::string data;
    const uint32_t shape = type == PacketType::CreateObject ? 1 + pick(4) % 3 : pick(5);
    switch (shape) {
    case 0:
        for (uint32_t n = pick(300); n > 0; --n)
            data += char(pick(256));
        return data;
    case 1:
        if (type == PacketType::CreateObject) {
            DirectoryEntry record;
            record.name = path();
            record.kind = ItemKind(pick(7));
            record.size = pick(3) == 0 ? 901120 : pick(2000);
            const std::vector<uint8_t> bytes = EncodeCreateRecord(record);
            data.assign(bytes.begin(), bytes.end());
            if (pick(3) == 0)
                data.resize(pick(uint32_t(data.size()) + 1));
            return data;
        }
        if (type == PacketType::Format) {
            uint8_t words[8];
            PutBigEndian32(words, 0x444F5300 + pick(9));
            PutBigEndian32(words + 4, pick(4));
            data.assign(reinterpret_cast<char*>(words), 8);
            // Mostly the floppy, and under the names the paths above use.
            const bool volume = pick(4) == 0;
            data += std::string(volume ? "DH0:" : "DF1:") + '\0' +
                    std::string(pick(5) == 0 ? ""
                                : volume     ? "Work"
                                             : "Disk") +
                    '\0';
            return data;
        }
        [[fallthrough]];
    default:
        if (type == PacketType::SetAttributes || type == PacketType::Format) {
            uint8_t word[4];
            PutBigEndian32(word, pick(2) ? 0x40000000u | pick(256) : pick(256));
            data.assign(reinterpret_cast<char*>(word), 4);
        }
        for (uint32_t fields = 1 + pick(2); fields > 0; --fields) {
            data += path();
            if (pick(8))
                data += '\0';
            if (pick(3) == 0)
                data += '\0';
        }
        if (pick(4) == 0)
            data += std::string(pick(80), 'k') + '\0';
        return data;
    }
}

TEST(PeerRobustness, ArbitraryRequestsNeverCrashOrEscape)
{
    PeerRig rig;
    rig.AddStandardDrives();
    fs::create_directories(rig.work / "a" / "b");
    test::WriteWholeFile(rig.Host("a/file"), "x");
    ASSERT_EQ(symlink(rig.outside.c_str(), rig.Host("out").c_str()), 0);
    peer::RequestHandler handler(*rig.tree);
    std::mt19937 random(20240601);
    for (int round = 0; round < 6000; ++round) {
        // Mostly commands; now and then anything at all.
        const auto type = PacketType(round % 4 == 0 ? round % 121 : 100 + round % 13);
        const std::string data = RandomRequest(random, type);
        RandomExchange exchange(random);
        handler.SetRefused(round % 97 == 0);
        handler.Handle(type, reinterpret_cast<const uint8_t*>(data.data()), data.size(), exchange);
        handler.Handle(PacketType::GetLastError, nullptr, 0, exchange);
        ASSERT_FALSE(exchange.sent.empty()) << "GetLastError is always answered";
        ASSERT_EQ(exchange.sent.back(), PacketType::ErrorReport);
        handler.Handle(type, nullptr, 0, exchange);
    }
    EXPECT_EQ(ReadWholeFile((rig.outside / "secret").string()), "outside the served folders");
    EXPECT_EQ(std::distance(fs::directory_iterator(rig.outside), fs::directory_iterator()), 1);
    EXPECT_EQ(std::distance(fs::directory_iterator(rig.scratch.Path()), fs::directory_iterator()),
              6);
    EXPECT_EQ(ReadWholeFile(rig.rom), Pattern(512 * 1024, 4));
}

// Requests the PC would never send, each answered the way the PC expects for its type.
TEST(PeerRobustness, MalformedFieldsAreRefusedWithoutBreakingTheExchange)
{
    PeerRig rig;
    rig.Start();
    struct Case {
        PacketType type;
        std::string data;
        bool replied;  // a drawer's create request is never answered
    };
    const std::string unterminated = "DH0:Work/file";
    DirectoryEntry drawer;
    drawer.kind = ItemKind::Drawer;
    drawer.name = "DH0:Work/x";
    std::vector<uint8_t> record = EncodeCreateRecord(drawer);
    record.resize(31);  // the name runs off the end
    std::vector<uint8_t> badKind = EncodeCreateRecord(drawer);
    badKind[28] = 9;
    const std::vector<Case> cases = {
        {PacketType::ListDirectory, unterminated, true},
        {PacketType::OpenFile, "", true},
        {PacketType::Delete, unterminated, true},
        {PacketType::Rename, "DH0:Work/file", true},
        {PacketType::Rename, std::string("DH0:Work/file\0new", 17), true},
        {PacketType::Move, std::string("DH0:Work\0\0DH0:Wo", 16), true},
        {PacketType::SetAttributes, "\x00\x00", true},
        {PacketType::SetAttributes, std::string("\0\0\0\0DH0:Work/f\0comment", 22), true},
        {PacketType::CountContents, unterminated, true},
        {PacketType::Format, std::string("DOS\0\0\0\0\1DF1:", 12), true},
        {PacketType::NewDrawer, unterminated, true},
        {PacketType::CreateObject, std::string(record.begin(), record.end()), false},
        {PacketType::CreateObject, std::string(badKind.begin(), badKind.end()), true},
        {PacketType::CreateObject, "short", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.type) << " " << c.data.size());
        ASSERT_EQ(test::Send(*rig.pc, c.type, c.data), S_OK);
        if (c.replied) {
            test::Received reply = test::ReadOne(*rig.pc);
            ASSERT_EQ(reply.result, S_OK);
            EXPECT_EQ(reply.type, PacketType::Abort);
        }
        EXPECT_EQ(rig.LastError().code, peer::error::NotPossible);
    }
    EXPECT_EQ(rig.List("DH0:Work").size(), 0u);
}

TEST(PeerFaults, FaultListsParseAndFaultsFollowTheirRatesAndSeed)
{
    peer::FaultPlan plan;
    std::string error;
    ASSERT_TRUE(peer::ParseFaults("bits=1e-3,answers=0.01,drop=0.5,delay=20", plan, error));
    EXPECT_EQ(plan.delayMs, 20u);
    for (const char* bad : {"bits", "bits=2", "noise=0.1", "bits=nan"})
        EXPECT_FALSE(peer::ParseFaults(bad, plan, error)) << bad;
    plan = peer::FaultPlan {};
    plan.bits = 1e-3;
    auto flipped = [&](uint64_t seed) {
        auto [near, far] = MakeMemoryLinkPair();
        near->Open();
        far->Open();
        MemoryLink* reader = far.get();
        peer::FaultLink link(std::move(near), plan, seed);
        const std::string zeros(100000, '\0');
        EXPECT_EQ(link.Write(zeros.data(), uint32_t(zeros.size()), 0), S_OK);
        std::string got(zeros.size(), '\1');
        EXPECT_EQ(reader->Read(got.data(), uint32_t(got.size()), 0), S_OK);
        uint64_t ones = 0;
        for (const char c : got)
            ones += uint64_t(__builtin_popcount(uint8_t(c)));
        EXPECT_EQ(ones, link.Injected()->flippedBits);
        EXPECT_GT(ones, 600u);  // 800 expected
        EXPECT_LT(ones, 1000u);
        return got;
    };
    const std::string first = flipped(7);
    EXPECT_EQ(flipped(7), first);
    EXPECT_NE(flipped(8), first);
}

// The whole server behind a damaging line: whatever is reported as done arrived whole. (Both
// sides of the symmetric packet layer can end up writing at once after a damaged answer word;
// a low retry limit keeps such a tangle short.)
TEST(PeerFaults, ADamagingLineNeverDeliversADamagedFile)
{
    PeerRig rig;
    rig.AddStandardDrives();
    const std::string content = Pattern(12000, 5);
    test::WriteWholeFile(rig.Host("source"), content);
    rig.handler = std::make_unique<peer::RequestHandler>(*rig.tree);
    auto [pcEnd, amigaEnd] = MakeMemoryLinkPair("PC", "Amiga");
    pcEnd->SetTimeouts(300, 0.001f);
    amigaEnd->SetTimeouts(120, 0.001f);
    pcEnd->SetDiscardWaitMs(10);
    amigaEnd->SetDiscardWaitMs(10);
    peer::FaultPlan plan;
    plan.bits = 1e-5;
    plan.answers = 0.03;
    auto faulty = std::make_unique<peer::FaultLink>(std::move(amigaEnd), plan, 11);
    const std::shared_ptr<const peer::FaultLink::Counts> injected = faulty->Injected();
    rig.pc = std::make_unique<PacketChannel>(std::move(pcEnd), 512, 8, rig.pcState);
    rig.pc->Open();
    faulty->Open();
    rig.server = std::thread([&, link = std::unique_ptr<Link>(std::move(faulty))]() mutable {
        peer::SessionOptions options;
        options.maxRetries = 8;
        peer::ServeLink(std::move(link), *rig.handler, options, rig.verdict);
    });

    std::vector<std::string> delivered;
    int downloads = 0;
    for (int attempt = 0; attempt < 10 && (delivered.size() < 2 || downloads < 2); ++attempt) {
        const std::string name = "file" + std::to_string(attempt);
        if (SUCCEEDED(rig.Upload("DH0:Work/" + name, content)))
            delivered.push_back(name);
        std::string copy;
        if (SUCCEEDED(rig.Download(Item("DH0:Work", "source"), copy))) {
            ++downloads;
            ASSERT_TRUE(copy == content);
        }
    }
    rig.Stop();
    EXPECT_GE(delivered.size(), 1u);
    EXPECT_GE(downloads, 1);
    EXPECT_GT(injected->flippedBits + injected->lostAnswers + injected->damagedAnswers, 0u);
    for (const std::string& name : delivered)
        EXPECT_TRUE(ReadWholeFile(rig.Host(name)) == content) << name;
    // An upload that failed left nothing behind, not even a part.
    for (const auto& entry : fs::directory_iterator(rig.work)) {
        const std::string name = entry.path().filename().string();
        if (name != peer::kSidecarName) {
            EXPECT_TRUE(ReadWholeFile(entry.path().string()) == content) << name;
        }
    }
}

}  // namespace
}  // namespace dm
