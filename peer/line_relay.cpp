// A faulty stretch of serial cable between the PC and an emulated Amiga: a pseudo-terminal for
// the PC on one side, the emulator's serial socket on the other, and faults injected into the
// bytes on their way: answer words damaged or lost, chunks of writes lost, bits flipped.
//   amiga-line-relay PTY-LINK PORT [--faults LIST] [--seed N] [--to-pc | --to-amiga]
// LIST as for amiga-peer: damaged=P,lost=P,drop=P,bits=P. Faults go into what the Amiga sends
// (--to-pc, the default) or what the PC sends (--to-amiga). DROVEMARK_RELAY_TRACE=FILE writes a
// line per chunk passed on (milliseconds, direction, bytes), to see where a line's time goes.
#include "peer/fault_link.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace {

using dm::peer::FaultPlan;

struct Injector {
    FaultPlan plan;
    std::mt19937_64 random;
    std::string pending;  // the last bytes seen, to spot answer words across reads

    bool Chance(double p) { return p > 0 && std::uniform_real_distribution<double>(0, 1)(random) < p; }

    // Applies the plan to one chunk on its way; may shorten or empty it.
    void Apply(std::string& bytes)
    {
        if (Chance(plan.drop)) {
            bytes.clear();
            return;
        }
        for (size_t at = 0; at + 4 <= bytes.size(); ++at) {
            if (bytes.compare(at, 4, "PkOk") != 0 && bytes.compare(at, 4, "PkRs") != 0)
                continue;
            if (Chance(plan.lostAnswers)) {
                bytes.erase(at, 4);
                --at;
            } else if (Chance(plan.damagedAnswers)) {
                bytes[at + 2] = char(bytes[at + 2] ^ 0x20);
            }
        }
        if (plan.bits > 0) {
            for (char& c : bytes) {
                for (int bit = 0; bit < 8; ++bit) {
                    if (Chance(plan.bits))
                        c = char(c ^ (1 << bit));
                }
            }
        }
    }
};

int OpenPty(const std::string& link)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return -1;
    termios raw {};
    tcgetattr(master, &raw);
    cfmakeraw(&raw);
    tcsetattr(master, TCSANOW, &raw);
    unlink(link.c_str());
    if (symlink(ptsname(master), link.c_str()) != 0)
        return -1;
    // Held open here too, so that the master side never sees the last client leave.
    open(ptsname(master), O_RDWR | O_NOCTTY);
    return master;
}

int Connect(int port)
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // A short answer word must not wait for the acknowledgement of the packet before it.
    const int on = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? s : -1;
}

bool WriteAll(int fd, const std::string& bytes)
{
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

// The emulator hands the Amiga's writes over a few bytes at a time as it emulates them: what
// follows within a moment belongs to the same write, and a lost write loses all of it.
void GatherBurst(int fd, std::string& bytes)
{
    constexpr int kGapMs = 8;
    constexpr size_t kMost = 2048;
    char more[512];
    pollfd p {fd, POLLIN, 0};
    while (bytes.size() < kMost && poll(&p, 1, kGapMs) > 0 && (p.revents & POLLIN)) {
        const ssize_t n = read(fd, more, sizeof more);
        if (n <= 0)
            break;
        bytes.append(more, size_t(n));
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: amiga-line-relay PTY-LINK PORT [--faults LIST] [--seed N] "
                             "[--to-pc | --to-amiga]\n");
        return 2;
    }
    Injector toPc, toAmiga;
    bool intoAmiga = false;
    uint64_t seed = 1;
    FaultPlan plan;
    for (int i = 3; i < argc; ++i) {
        const std::string option = argv[i];
        std::string error;
        if (option == "--faults" && i + 1 < argc) {
            if (!dm::peer::ParseFaults(argv[++i], plan, error)) {
                std::fprintf(stderr, "amiga-line-relay: %s\n", error.c_str());
                return 2;
            }
        } else if (option == "--seed" && i + 1 < argc) {
            seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (option == "--to-amiga") {
            intoAmiga = true;
        } else if (option != "--to-pc") {
            std::fprintf(stderr, "amiga-line-relay: unknown option %s\n", option.c_str());
            return 2;
        }
    }
    (intoAmiga ? toAmiga : toPc).plan = plan;
    toPc.random.seed(seed);
    toAmiga.random.seed(seed + 1);
    signal(SIGPIPE, SIG_IGN);
    const int amiga = Connect(std::atoi(argv[2]));
    const int pc = amiga >= 0 ? OpenPty(argv[1]) : -1;
    if (pc < 0) {
        std::fprintf(stderr, "amiga-line-relay: cannot %s\n", amiga < 0 ? "connect" : "make the pty");
        return 1;
    }
    const char* tracePath = std::getenv("DROVEMARK_RELAY_TRACE");
    FILE* trace = tracePath ? std::fopen(tracePath, "w") : nullptr;
    const auto start = std::chrono::steady_clock::now();
    pollfd fds[2] = {{pc, POLLIN, 0}, {amiga, POLLIN, 0}};
    char buffer[4096];
    for (;;) {
        if (poll(fds, 2, -1) < 0)
            return 1;
        for (int side = 0; side < 2; ++side) {
            if (!(fds[side].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t n = read(fds[side].fd, buffer, sizeof buffer);
            if (n <= 0) {
                if (side == 1)
                    return 0;  // the emulator has gone
                continue;
            }
#ifdef TCP_QUICKACK
            // The emulator's socket holds back a write until its last one is acknowledged
            // (Nagle): a delayed acknowledgement would stall every answer by some 40 ms, which
            // no serial cable does. Linux drops out of quick mode by itself, so it is set anew.
            if (side == 1) {
                const int on = 1;
                setsockopt(amiga, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
            }
#endif
            std::string bytes(buffer, size_t(n));
            // Gathering costs every burst a quiet gap: only a relay that injects faults needs it.
            if (side == 1 && toPc.plan.Any())
                GatherBurst(amiga, bytes);
            (side == 0 ? toAmiga : toPc).Apply(bytes);
            if (trace) {
                const std::chrono::duration<double, std::milli> ms =
                    std::chrono::steady_clock::now() - start;
                std::fprintf(trace, "%.2f %s %zu\n", ms.count(), side == 0 ? ">" : "<", bytes.size());
                std::fflush(trace);
            }
            if (!WriteAll(side == 0 ? amiga : pc, bytes))
                return 1;
        }
    }
}
