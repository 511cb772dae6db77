// Line faults of each class, injected into what one side writes, over TCP/IP against the
// emulated Amiga running the protocol exactly as written: every upload, download and listing
// completes with every byte right, or (where a class allows it) fails; none ever completes
// wrong. Each class has a floor of completed operations.
//
// DROVEMARK_FAULT_ROUNDS (operations of each kind, default 2), DROVEMARK_FAULT_SIZE (bytes,
// default 12000) and DROVEMARK_FAULT_AS_WRITTEN=1 (the PC without its line recovery, floors not
// asserted) measure more; every run prints its line of the table.
#include "support/fault_classes.h"
#include "link/tcp_link.h"
#include "peer/fault_link.h"
#include "peer/socket_link.h"
#include "peer_rig.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>

namespace dm::test {
namespace {

enum class Way { PcToAmiga, AmigaToPc };

// Shorter than the links' own five seconds, so that a hit time-out costs a second.
constexpr uint32_t kWaitMs = 1000;
constexpr float kMsPerByte = 1.0416666f;

size_t EnvNumber(const char* name, size_t fallback)
{
    const char* text = std::getenv(name);
    return text && std::atol(text) > 0 ? size_t(std::atol(text)) : fallback;
}

// The emulated Amiga on a thread of its own, one connection over TCP/IP; the PC's packet
// channel on the other end. The faults go into one side's writes. The serial links' own
// draining is covered by the link tests.
class LineRig {
public:
    LineRig(PeerRig& rig, const peer::FaultPlan& pcFaults, const peer::FaultPlan& amigaFaults,
            uint64_t seed)
        : rig_(rig)
    {
        rig.AddStandardDrives();
        rig.handler = std::make_unique<peer::RequestHandler>(*rig.tree);
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        EXPECT_EQ(bind(listener_, reinterpret_cast<sockaddr*>(&address), size), 0);
        EXPECT_EQ(listen(listener_, 1), 0);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        EXPECT_TRUE(StartSockets());
        auto pcLink = std::make_unique<TcpLink>(0);
        pcLink->SetPort(ntohs(address.sin_port));
        server_ = std::thread([this, amigaFaults, seed] {
            const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0)
                return;
            auto link = std::make_unique<peer::SocketLink>(connection, "PC");
            auto faulty = std::make_unique<peer::FaultLink>(std::move(link), amigaFaults, seed);
            faulty->SetTimeouts(kWaitMs, kMsPerByte);
            peer::ServeLink(std::move(faulty), *rig_.handler, peer::SessionOptions {},
                            rig_.verdict);
        });
        auto faulty = std::make_unique<peer::FaultLink>(std::move(pcLink), pcFaults, seed + 1);
        faulty->SetTimeouts(kWaitMs, kMsPerByte);
        rig.pc = std::make_unique<PacketChannel>(std::move(faulty), 512, 50, rig.pcState);
        rig.pc->SetLineRecovery(!std::getenv("DROVEMARK_FAULT_AS_WRITTEN"));
        EXPECT_EQ(rig.pc->Open(), S_OK);
    }
    ~LineRig()
    {
        rig_.pc->Close();
        if (server_.joinable())
            server_.join();
        if (listener_ >= 0)
            close(listener_);
    }

private:
    PeerRig& rig_;
    int listener_ = -1;
    std::thread server_;
};

using Case = std::tuple<Way, size_t>;

class FaultClasses : public testing::TestWithParam<Case> {};

TEST_P(FaultClasses, EveryOperationCompletesRightOrFailsAboveItsFloor)
{
    const auto [way, index] = GetParam();
    const FaultClass fault = LineFaults()[index];
    const size_t rounds = EnvNumber("DROVEMARK_FAULT_ROUNDS", 2);
    const std::string content = PatternBytes(EnvNumber("DROVEMARK_FAULT_SIZE", 12000), 4);
    PeerRig rig;
    PrepareFaultRun(rig, content);
    const peer::FaultPlan none;
    LineRig connection(rig, way == Way::PcToAmiga ? fault.plan : none,
                       way == Way::AmigaToPc ? fault.plan : none, 100 + index);
    const Tally tally = RunOperations(rig, rounds, content);
    std::printf("%-26s %-12s %2d/%-2d %5.1fs\n", fault.name,
                way == Way::PcToAmiga ? "PC to Amiga" : "Amiga to PC", tally.completed,
                tally.attempted, tally.seconds);
    if (!std::getenv("DROVEMARK_FAULT_AS_WRITTEN")) {
        EXPECT_GE(tally.completed, int(fault.floor * tally.attempted));
    }
}

std::string CaseName(const testing::TestParamInfo<Case>& info)
{
    return std::string("Tcp") +
           (std::get<0>(info.param) == Way::PcToAmiga ? "PcToAmiga" : "AmigaToPc") +
           LineFaults()[std::get<1>(info.param)].id;
}

INSTANTIATE_TEST_SUITE_P(Lines, FaultClasses,
                         testing::Combine(testing::Values(Way::PcToAmiga, Way::AmigaToPc),
                                          testing::Range(size_t(0), LineFaults().size())),
                         CaseName);

}  // namespace
}  // namespace dm::test
