// Line faults of each class, injected into what one side writes, over TCP/IP and over a paced
// pseudo-terminal, against the emulated Amiga running the protocol exactly as written: every
// upload, download and listing completes with every byte right, or (where a class allows it)
// fails; none ever completes wrong. Each class has a floor of completed operations.
//
// DROVEMARK_FAULT_ROUNDS (operations of each kind, default 2), DROVEMARK_FAULT_SIZE (bytes,
// default 12000) and DROVEMARK_FAULT_AS_WRITTEN=1 (the PC without its line recovery, floors not
// asserted) measure more; every run prints its line of the table.
#include "link/serial_link.h"
#include "link/tcp_link.h"
#include "peer/fault_link.h"
#include "peer/pty_link.h"
#include "peer/socket_link.h"
#include "peer_rig.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdio>

namespace dm::test {
namespace {

using Clock = std::chrono::steady_clock;

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

struct FaultClass {
    const char* name;
    peer::FaultPlan plan;
    // Completed operations of every 3 * rounds, with the PC's line recovery.
    double floor;
};

std::vector<FaultClass> Classes()
{
    peer::FaultPlan damaged, lost, dropped, late, bits, all;
    damaged.damagedAnswers = all.damagedAnswers = 0.02;
    lost.lostAnswers = all.lostAnswers = 0.01;
    dropped.drop = all.drop = 0.005;
    late.delayMs = all.delayMs = 30;
    bits.bits = all.bits = 1e-5;
    for (peer::FaultPlan* plan : {&damaged, &lost, &dropped, &late, &bits, &all})
        plan->incoming = false;
    // Where the Amiga follows a packet of the PC's with nothing but its answer word (an upload's
    // FileEnd), the PC cannot tell a lost answer from a lost packet: as written, the Amiga
    // answers a request for a lost answer only while it is writing, and it would take the
    // packet twice if it were sent again. Such an exchange fails, cleanly.
    return {
        {"no faults", {}, 1.0},
        {"answer words damaged 2%", damaged, 1.0},
        {"answer words lost 1%", lost, 0.8},
        {"writes lost 0.5%", dropped, 0.8},
        {"late writes up to 30 ms", late, 1.0},
        {"bit errors 1e-5", bits, 1.0},
        {"all of them at once", all, 0.8},
    };
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

struct Tally {
    int attempted = 0;
    int completed = 0;
    double seconds = 0;
};

// Uploads, downloads and listings in turn; a completed one must be right to the byte.
Tally RunOperations(PeerRig& rig, size_t rounds, const std::string& content)
{
    Tally tally;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(rig.work))
        names.push_back(entry.path().filename().string());
    const auto start = Clock::now();
    for (size_t i = 0; i < rounds; ++i) {
        const std::string name = "up" + std::to_string(i);
        tally.attempted += 3;
        if (SUCCEEDED(rig.Upload("DH0:Work/" + name, content))) {
            ++tally.completed;
            EXPECT_TRUE(ReadWholeFile(rig.Host(name)) == content) << "upload " << i;
        }
        std::string copy;
        const HRESULT downloaded = rig.Download(Item("DH0:Work", "source"), copy);
        uint32_t code = 0;
        std::string text;
        rig.pc->GetLastError(code, text);
        if (SUCCEEDED(downloaded)) {
            ++tally.completed;
            EXPECT_TRUE(copy == content) << "download " << i;
        }
        std::vector<std::string> listed;
        const HRESULT hr = rig.pc->ListDirectory("DH0:Work/many", [&](const DirectoryEntry& e) {
            listed.push_back(e.name);
            return true;
        });
        rig.pc->GetLastError(code, text);
        if (SUCCEEDED(hr)) {
            ++tally.completed;
            EXPECT_EQ(listed.size(), 60u) << "listing " << i;
        }
    }
    tally.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    // Failed uploads leave nothing: every file present is whole.
    for (const auto& entry : fs::directory_iterator(rig.work)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("up", 0) == 0) {
            EXPECT_TRUE(ReadWholeFile(entry.path().string()) == content) << name;
        }
    }
    return tally;
}

void Prepare(PeerRig& rig, const std::string& content)
{
    WriteWholeFile(rig.Host("source"), content);
    fs::create_directories(rig.work / "many");
    for (int i = 0; i < 60; ++i)
        WriteWholeFile(rig.Host("many/entry-with-a-longish-name-" + std::to_string(i)), "x");
}

using Case = std::tuple<Line, Way, size_t>;

class FaultClasses : public testing::TestWithParam<Case> {};

TEST_P(FaultClasses, EveryOperationCompletesRightOrFailsAboveItsFloor)
{
    const auto [line, way, index] = GetParam();
    const FaultClass fault = Classes()[index];
    const size_t rounds = EnvNumber("DROVEMARK_FAULT_ROUNDS", 2);
    const std::string content = Pattern(EnvNumber("DROVEMARK_FAULT_SIZE", 12000), 4);
    PeerRig rig;
    Prepare(rig, content);
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
    static const char* const kNames[] = {"None",       "DamagedAnswers", "LostAnswers", "LostWrites",
                                         "LateWrites", "BitErrors",      "All"};
    return std::string(std::get<0>(info.param) == Line::Tcp ? "Tcp" : "Pty") +
           (std::get<1>(info.param) == Way::PcToAmiga ? "PcToAmiga" : "AmigaToPc") +
           kNames[std::get<2>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Lines, FaultClasses,
                         testing::Combine(testing::Values(Line::Tcp, Line::Pty),
                                          testing::Values(Way::PcToAmiga, Way::AmigaToPc),
                                          testing::Range(size_t(0), Classes().size())),
                         CaseName);

}  // namespace
}  // namespace dm::test
