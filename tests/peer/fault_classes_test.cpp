// Line faults of each class, injected into what one side writes, over TCP/IP and over a paced
// pseudo-terminal, against the emulated Amiga running the protocol exactly as written: every
// upload, download and listing completes with every byte right, or (where a class allows it)
// fails; none ever completes wrong. Each class has a floor of completed operations.
//
// DROVEMARK_FAULT_ROUNDS (operations of each kind, default 2), DROVEMARK_FAULT_SIZE (bytes,
// default 12000) and DROVEMARK_FAULT_AS_WRITTEN=1 (the PC without its line recovery, floors not
// asserted) measure more; every run prints its line of the table.
#include "support/fault_classes.h"
#include "link/serial_link.h"
#include "link/tcp_link.h"
#include "peer/fault_link.h"
#include "peer/pty_link.h"
#include "peer/socket_link.h"
#include "peer_rig.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdio>

namespace dm::test {
namespace {

enum class Line { Tcp, Pty };
enum class Way { PcToAmiga, AmigaToPc };

// Shorter than the links' own five seconds, so that a hit time-out costs a second.
constexpr uint32_t kWaitMs = 1000;
constexpr float kMsPerByte = 1.0416666f;
constexpr uint32_t kBaud = 115200;

size_t EnvNumber(const char* name, size_t fallback)
{
    const char* text = std::getenv(name);
    return text && std::atol(text) > 0 ? size_t(std::atol(text)) : fallback;
}

// The emulated Amiga on a thread of its own, one connection over the line; the PC's packet
// channel on the other end. The faults go into one side's writes.
class LineRig {
public:
    LineRig(PeerRig& rig, Line line, const peer::FaultPlan& pcFaults,
            const peer::FaultPlan& amigaFaults, uint64_t seed)
        : rig_(rig)
    {
        rig.AddStandardDrives();
        rig.handler = std::make_unique<peer::RequestHandler>(*rig.tree);
        std::unique_ptr<Link> pcLink;
        if (line == Line::Tcp) {
            listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address {};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t size = sizeof address;
            EXPECT_EQ(bind(listener_, reinterpret_cast<sockaddr*>(&address), size), 0);
            EXPECT_EQ(listen(listener_, 1), 0);
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
            EXPECT_TRUE(StartSockets());
            auto tcp = std::make_unique<TcpLink>(0);
            tcp->SetPort(ntohs(address.sin_port));
            pcLink = std::move(tcp);
        } else {
            std::string error;
            EXPECT_TRUE(pty_.Create((rig.scratch.Path() / "line").string(), error)) << error;
            auto serial = std::make_unique<SerialLink>(pty_.ClientPath(), 512);
            serial->SetBaudRate(kBaud);
            pcLink = std::move(serial);
        }
        server_ = std::thread([this, line, amigaFaults, seed] {
            std::unique_ptr<Link> link;
            if (line == Line::Tcp) {
                const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                if (connection < 0)
                    return;
                link = std::make_unique<peer::SocketLink>(connection, "PC");
            } else {
                if (!pty_.WaitForClient(&stop_))
                    return;
                link = pty_.MakeLink(kBaud);
            }
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
        stop_ = true;
        if (server_.joinable())
            server_.join();
        if (listener_ >= 0)
            close(listener_);
    }

private:
    PeerRig& rig_;
    int listener_ = -1;
    peer::PtyEndpoint pty_;
    std::atomic<bool> stop_ {false};
    std::thread server_;
};

using Case = std::tuple<Line, Way, size_t>;

class FaultClasses : public testing::TestWithParam<Case> {};

TEST_P(FaultClasses, EveryOperationCompletesRightOrFailsAboveItsFloor)
{
    const auto [line, way, index] = GetParam();
    const FaultClass fault = LineFaults()[index];
    const size_t rounds = EnvNumber("DROVEMARK_FAULT_ROUNDS", 2);
    const std::string content = PatternBytes(EnvNumber("DROVEMARK_FAULT_SIZE", 12000), 4);
    PeerRig rig;
    PrepareFaultRun(rig, content);
    const peer::FaultPlan none;
    LineRig connection(rig, line, way == Way::PcToAmiga ? fault.plan : none,
                       way == Way::AmigaToPc ? fault.plan : none, 100 + index);
    const Tally tally = RunOperations(rig, rounds, content);
    std::printf("%-26s %-12s %-7s %2d/%-2d %5.1fs\n", fault.name,
                way == Way::PcToAmiga ? "PC to Amiga" : "Amiga to PC",
                line == Line::Tcp ? "TCP/IP" : "pty", tally.completed, tally.attempted,
                tally.seconds);
    if (!std::getenv("DROVEMARK_FAULT_AS_WRITTEN")) {
        EXPECT_GE(tally.completed, int(fault.floor * tally.attempted));
    }
}

std::string CaseName(const testing::TestParamInfo<Case>& info)
{
    return std::string(std::get<0>(info.param) == Line::Tcp ? "Tcp" : "Pty") +
           (std::get<1>(info.param) == Way::PcToAmiga ? "PcToAmiga" : "AmigaToPc") +
           LineFaults()[std::get<2>(info.param)].id;
}

INSTANTIATE_TEST_SUITE_P(Lines, FaultClasses,
                         testing::Combine(testing::Values(Line::Tcp, Line::Pty),
                                          testing::Values(Way::PcToAmiga, Way::AmigaToPc),
                                          testing::Range(size_t(0), LineFaults().size())),
                         CaseName);

}  // namespace
}  // namespace dm::test
