// The line faults of each class, injected on the emulated Amiga's side: bit errors in packets
// must never cost a byte; lost or damaged answer words, lost or late writes may fail an
// operation, but only with an error, within a bounded time, and never with a wrong byte.
#include "peer/fault_link.h"
#include "peer_rig.h"

#include <chrono>
#include <cstdio>

namespace dm::test {
namespace {

// A rig whose Amiga side talks through a fault-injecting link.
void StartFaulty(PeerRig& rig, const peer::FaultPlan& plan, uint64_t seed)
{
    rig.AddStandardDrives();
    rig.handler = std::make_unique<peer::RequestHandler>(*rig.tree);
    auto [pcEnd, amigaEnd] = MakeMemoryLinkPair("PC", "Amiga");
    pcEnd->SetTimeouts(400, 0.001f);
    amigaEnd->SetTimeouts(150, 0.001f);
    pcEnd->SetDiscardWaitMs(5);
    amigaEnd->SetDiscardWaitMs(5);
    auto faulty = std::make_unique<peer::FaultLink>(std::move(amigaEnd), plan, seed);
    rig.pc = std::make_unique<PacketChannel>(std::move(pcEnd), 512, 50, rig.pcState);
    rig.pc->Open();
    faulty->Open();
    rig.server = std::thread([&rig, link = std::unique_ptr<Link>(std::move(faulty))]() mutable {
        peer::ServeLink(std::move(link), *rig.handler, peer::SessionOptions {}, rig.verdict);
    });
}

TEST(FaultClasses, BitErrorsInPacketsNeverCostAByte)
{
    PeerRig rig;
    peer::FaultPlan plan;
    plan.bits = 1e-4;
    StartFaulty(rig, plan, 7);
    const std::string content = Pattern(1 << 20, 9);
    ASSERT_EQ(rig.Upload("DH0:Work/noisy.bin", content), S_OK);
    std::string back;
    ASSERT_EQ(rig.Download(Item("DH0:Work", "noisy.bin"), back), S_OK);
    rig.Stop();
    EXPECT_TRUE(back == content);
    EXPECT_TRUE(ReadWholeFile(rig.Host("noisy.bin")) == content);
}

TEST(FaultClasses, OtherFaultsFailCleanlyOrComplete)
{
    struct Class {
        const char* name;
        peer::FaultPlan plan;
    };
    std::vector<Class> classes(4);
    classes[0] = {"lost or damaged answer words (2%)", {}};
    classes[0].plan.answers = 0.02;
    classes[1] = {"lost writes (0.5%)", {}};
    classes[1].plan.drop = 0.005;
    classes[2] = {"late writes (up to 30 ms)", {}};
    classes[2].plan.delayMs = 30;
    classes[3] = {"all of them with bit errors (1e-5)", {}};
    classes[3].plan = {1e-5, 0.02, 0.005, 30};

    const std::string content = Pattern(12000, 4);
    for (size_t c = 0; c < classes.size(); ++c) {
        SCOPED_TRACE(classes[c].name);
        PeerRig rig;
        StartFaulty(rig, classes[c].plan, 100 + c);
        WriteWholeFile(rig.Host("source"), content);
        int attempts = 0, completed = 0;
        for (int i = 0; i < 8; ++i) {
            const auto start = std::chrono::steady_clock::now();
            std::string copy;
            ++attempts;
            if (i % 2 == 0) {
                const std::string name = "up" + std::to_string(i);
                if (SUCCEEDED(rig.Upload("DH0:Work/" + name, content))) {
                    ++completed;
                    EXPECT_TRUE(ReadWholeFile(rig.Host(name)) == content) << name;
                }
            } else if (SUCCEEDED(rig.Download(Item("DH0:Work", "source"), copy))) {
                ++completed;
                EXPECT_TRUE(copy == content);
            }
            const auto took = std::chrono::steady_clock::now() - start;
            EXPECT_LT(took, std::chrono::seconds(30));
        }
        rig.Stop();
        // Failed uploads leave nothing: every file present is whole.
        for (const auto& entry : fs::directory_iterator(rig.work)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("up", 0) == 0) {
                EXPECT_TRUE(ReadWholeFile(entry.path().string()) == content) << name;
            }
        }
        std::printf("fault class %-36s %2d of %2d operations completed\n", classes[c].name,
                    completed, attempts);
        RecordProperty(std::string("completed_") + std::to_string(c), completed);
    }
}

}  // namespace
}  // namespace dm::test
