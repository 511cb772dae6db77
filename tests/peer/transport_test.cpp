// The server over real transports: a TCP/IP socket and a pseudo-terminal, in-process and as the
// amiga-peer program, with the PC's own links on the other end.
#include "core/crc32.h"
#include "link/serial_link.h"
#include "link/tcp_link.h"
#include "peer/pty_link.h"
#include "peer/socket_link.h"
#include "peer_rig.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>

extern char** environ;

namespace dm {
namespace {

namespace fs = std::filesystem;

using test::Item;
using test::Pattern;
using test::PeerRig;
using test::ReadWholeFile;
using Clock = std::chrono::steady_clock;

// Connects, sends half a packet header and hangs up.
void DropAConnection(uint16_t port)
{
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    ASSERT_EQ(connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(send(s, "\0\x65\0\0\0\x01", 6, MSG_NOSIGNAL), 6);
    close(s);
}

std::unique_ptr<PacketChannel> TcpChannel(uint16_t port, const std::string& password,
                                          HandshakeState& state)
{
    EXPECT_TRUE(StartSockets());
    auto link = std::make_unique<TcpLink>(ComputeCrc32(password));
    link->SetAddress("127.0.0.1");
    link->SetPort(port);
    auto channel = std::make_unique<PacketChannel>(std::move(link), 512, 50, state);
    EXPECT_EQ(channel->Open(), S_OK);
    return channel;
}

// A round trip of a file through the server, as the PC does it.
void CheckRoundTrip(PeerRig& rig, const std::string& name, size_t size)
{
    const std::string content = Pattern(size, 77);
    ASSERT_EQ(rig.Upload("DH0:Work/" + name, content), S_OK);
    EXPECT_TRUE(ReadWholeFile(rig.Host(name)) == content);
    std::string back;
    ASSERT_EQ(rig.Download(Item("DH0:Work", name), back), S_OK);
    EXPECT_TRUE(back == content);
}

// Paced at 38400 baud: 3840 bytes a second each way, whoever holds the line.
TEST(PeerTransport, ServesAPacedPseudoTerminalToClientsThatComeAndGo)
{
    PeerRig rig;
    rig.AddStandardDrives();
    rig.handler = std::make_unique<peer::RequestHandler>(*rig.tree);
    peer::PtyEndpoint pty;
    std::string error;
    const std::string linkPath = (rig.scratch.Path() / "ttyAmiga").string();
    ASSERT_TRUE(pty.Create(linkPath, error)) << error;
    std::atomic<bool> stop {false};
    rig.server = std::thread([&] {
        while (pty.WaitForClient(&stop))
            peer::ServeLink(pty.MakeLink(38400), *rig.handler, {}, rig.verdict);
    });
    for (int client = 0; client < 2; ++client) {
        SCOPED_TRACE(client);
        rig.pc = std::make_unique<PacketChannel>(std::make_unique<SerialLink>(linkPath, 512), 512,
                                                 50, rig.pcState);
        // A client right after another is not taken for the one before (whose last answer
        // word the closing may have swallowed).
        const auto start = Clock::now();
        ASSERT_EQ(rig.pc->Open(), S_OK);
        EXPECT_EQ(rig.List("").size(), 6u);
        CheckRoundTrip(rig, "over-pty" + std::to_string(client), 1900);
        const auto elapsed = Clock::now() - start;
        EXPECT_GE(elapsed, std::chrono::milliseconds(900));  // 2 x 1900 bytes and their packets
        EXPECT_LT(elapsed, std::chrono::seconds(5));
        rig.pc->Close();
        rig.pc.reset();
    }
    stop = true;
    rig.server.join();
}

// The amiga-peer program, started and stopped by the test.
class PeerProgram {
public:
    PeerProgram(const std::vector<std::string>& arguments, const fs::path& output)
    {
        std::vector<std::string> all = {AMIGA_PEER_PATH};
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& argument : all)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (posix_spawn(&pid_, AMIGA_PEER_PATH, &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~PeerProgram()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool Started() const { return pid_ > 0; }
    // The exit code, or -1 when the program is still running after `ms`.
    int WaitForExit(int ms)
    {
        for (const auto end = Clock::now() + std::chrono::milliseconds(ms); Clock::now() < end;) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

private:
    pid_t pid_ = -1;
};

bool WaitForPath(const fs::path& path)
{
    for (const auto end = Clock::now() + std::chrono::seconds(5); Clock::now() < end;) {
        std::error_code ignored;
        if (fs::exists(fs::symlink_status(path, ignored)) && fs::file_size(path, ignored) > 0)
            return true;
        if (fs::is_symlink(path, ignored))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(PeerProgram, ServesTcpConnectionsOneAfterAnotherAndChecksThePassword)
{
    PeerRig rig;
    const fs::path portFile = rig.scratch.Path() / "port";
    PeerProgram program({"--listen", "127.0.0.1:0", "--port-file", portFile.string(), "--volume",
                         "DH0:Work=" + rig.work.string(), "--rom", rig.rom, "--password", "secret"},
                        rig.scratch.Path() / "output");
    ASSERT_TRUE(program.Started());
    ASSERT_TRUE(WaitForPath(portFile));
    const uint16_t port = uint16_t(std::stoi(ReadWholeFile(portFile.string())));

    DropAConnection(port);
    {
        rig.pc = TcpChannel(port, "secret", rig.pcState);
        EXPECT_EQ(rig.List("").size(), 2u);
        CheckRoundTrip(rig, "from-program", 5000);
        rig.pc->Close();
    }
    {
        HandshakeState state;
        rig.pc = TcpChannel(port, "guessed", state);
        rig.List("", kCancelled);
        EXPECT_EQ(rig.LastError().code, peer::error::Handshake);
        rig.pc->Close();
    }
    {
        HandshakeState state;
        rig.pc = TcpChannel(port, "secret", state);
        EXPECT_EQ(rig.List("DH0:Work").size(), 1u);
        rig.pc->Close();
    }
    rig.pc.reset();
    EXPECT_EQ(program.WaitForExit(50), -1) << "still serving";
}

TEST(PeerProgram, ServesAPseudoTerminalOnceThenExits)
{
    PeerRig rig;
    const fs::path link = rig.scratch.Path() / "ttyPeer";
    PeerProgram program(
        {"--pty", link.string(), "--once", "--volume", "DH0:Work=" + rig.work.string()},
        rig.scratch.Path() / "output");
    ASSERT_TRUE(program.Started());
    ASSERT_TRUE(WaitForPath(link));
    rig.pc = std::make_unique<PacketChannel>(std::make_unique<SerialLink>(link.string(), 512), 512,
                                             50, rig.pcState);
    ASSERT_EQ(rig.pc->Open(), S_OK);
    const std::vector<DirectoryEntry> root = rig.List("");
    ASSERT_EQ(root.size(), 1u);
    EXPECT_EQ(root[0].name, "DH0:Work");
    rig.pc->Close();
    rig.pc.reset();
    EXPECT_EQ(program.WaitForExit(5000), 0);
    EXPECT_FALSE(fs::is_symlink(link)) << "the link goes with the program";
}

TEST(PeerProgram, RefusesWhatItCannotServe)
{
    PeerRig rig;
    const std::string work = "DH0=" + rig.work.string();
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"--volume", "DH0:Work=" + (rig.scratch.Path() / "missing").string()},
        {"--volume", work, "--volume", "dh0=" + rig.disk.string()},
        {"--adf", "DF0=" + rig.work.string()},
        {"--volume", work, "--listen", ":0"},
    };
    for (const auto& arguments : bad) {
        PeerProgram program(arguments, rig.scratch.Path() / "output");
        ASSERT_TRUE(program.Started());
        const int code = program.WaitForExit(5000);
        EXPECT_GT(code, 0) << ReadWholeFile((rig.scratch.Path() / "output").string());
    }
}

}  // namespace
}  // namespace dm
