#include "link/tcp_link.h"

#include "core/shared_settings_section.h"
#include "resources/string_ids.h"
#include "support/loopback_server.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace dm {
namespace {

using namespace std::chrono_literals;
using test::LoopbackConnection;
using test::LoopbackServer;

constexpr uint32_t kKey = 0x1234ABCDu;

template <typename F>
long long ElapsedMs(F&& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

std::string Pattern(size_t size)
{
    std::string bytes(size, '\0');
    uint32_t state = 12345;
    for (char& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = char(state >> 23);
    }
    return bytes;
}

// The call failed and left this message for later.
::testing::AssertionResult FailedWith(HRESULT result, const Link& link, UINT id)
{
    if (result == E_FAIL && link.PendingErrorId() == id)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "result " << std::hex << result << std::dec << ", message " << link.PendingErrorId()
           << " instead of " << id;
}

std::string Insert(const Link& link)
{
    return link.ErrorInsert() ? link.ErrorInsert() : "<none>";
}

std::string ReadString(TcpLink& link, uint32_t count, int32_t hint)
{
    std::string bytes(count, '\0');
    return link.Read(bytes.data(), count, hint) == S_OK ? bytes : "<failed>";
}

class TcpLinkTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(StartSockets()); }

    static void PointAt(TcpLink& link, const LoopbackServer& server)
    {
        link.SetAddress("127.0.0.1");
        link.SetPort(server.Port());
    }
};

TEST_F(TcpLinkTest, CarriesExactBytesBothWaysAndLogsThem)
{
    test::ScratchLog log;
    std::string request;
    for (int i = 0; i < 256; ++i)
        request += char(i);
    std::string received;
    LoopbackServer server([&](LoopbackConnection& peer) {
        received = peer.Receive(256);
        peer.Send("\xAB\x01" + std::string(received.rbegin(), received.rend()));
    });
    TcpLink link(kKey);
    PointAt(link, server);
    ASSERT_EQ(link.Open(), S_OK);
    ASSERT_EQ(link.Write(request.data(), 256, 0), S_OK);
    EXPECT_EQ(ReadString(link, 2, 0), "\xAB\x01");
    EXPECT_EQ(ReadString(link, 256, 0), std::string(request.rbegin(), request.rend()));
    uint32_t key = 0;
    EXPECT_TRUE(link.GetHandshakeKey(key));
    EXPECT_EQ(key, kKey);
    EXPECT_EQ(link.Close(), S_OK);
    EXPECT_EQ(server.Stop(), 1);
    EXPECT_EQ(received, request);

    const std::string text = log.Text();
    EXPECT_NE(text.find("> [256 bytes]\r\n> 00 01 02 03 "), std::string::npos) << text;
    EXPECT_NE(text.find("< [2 bytes]\r\n< AB 01\r\n< [256 bytes]\r\n< FF FE "), std::string::npos)
        << text;
}

TEST_F(TcpLinkTest, AClosedOrRefusedLinkRefusesIoAndTheNextOpenStartsAfresh)
{
    TcpLink link(kKey);
    link.SetPort(test::UnusedLoopbackPort());
    char byte = 'x';
    EXPECT_TRUE(FailedWith(link.Read(&byte, 1, 0), link, IDS_ERR_READ_CLOSED));
    EXPECT_TRUE(FailedWith(link.Write(&byte, 1, 0), link, IDS_ERR_WRITE_CLOSED));
    StopSockets();
    EXPECT_TRUE(FailedWith(link.Open(), link, IDS_ERR_NO_WINSOCK));
    ASSERT_TRUE(StartSockets());

    EXPECT_TRUE(FailedWith(link.Open(), link, IDS_ERR_TCP_CONNECT_LOCAL));
    EXPECT_EQ(Insert(link), "127.0.0.1");
    EXPECT_FALSE(link.IsOpen());
    link.SetAddress("127.0.0.2");
    EXPECT_TRUE(FailedWith(link.Open(), link, IDS_ERR_TCP_CONNECT));
    EXPECT_EQ(Insert(link), "127.0.0.2");
    EXPECT_FALSE(link.IsOpen());

    // A second Open of an open link does not connect again.
    std::string received;
    LoopbackServer server([&](LoopbackConnection& peer) { received = peer.Receive(2); });
    PointAt(link, server);
    ASSERT_EQ(link.Open(), S_OK);
    ASSERT_EQ(link.Open(), S_OK);
    EXPECT_EQ(link.Write("ok", 2, 0), S_OK);
    EXPECT_EQ(link.Close(), S_OK);
    EXPECT_EQ(link.Close(), S_OK);
    EXPECT_TRUE(FailedWith(link.Read(&byte, 1, 0), link, IDS_ERR_READ_CLOSED));
    EXPECT_EQ(server.Stop(), 1);
    EXPECT_EQ(received, "ok");
}

TEST_F(TcpLinkTest, ReadWaitsForBytesArrivingOneAtATime)
{
    // Each round starts when the link asks for it, so the gaps are the server's alone.
    LoopbackServer server([](LoopbackConnection& peer) {
        for (const auto gap : {60ms, 100ms}) {
            if (peer.Receive(1).empty())
                return;
            for (const char c : std::string("abcd")) {
                std::this_thread::sleep_for(gap);
                peer.Send(std::string(1, c));
            }
        }
        if (peer.Receive(1).empty())
            return;
        std::this_thread::sleep_for(150ms);
        peer.Send("late");
    });
    TcpLink link(kKey);
    PointAt(link, server);
    ASSERT_EQ(link.Open(), S_OK);

    ASSERT_EQ(link.Write("1", 1, 0), S_OK);
    EXPECT_EQ(ReadString(link, 4, 0), "abcd");

    // A negative hint bounds each wait, not the whole read: 4 gaps of 100 ms outlast 250 ms.
    ASSERT_EQ(link.Write("2", 1, 0), S_OK);
    EXPECT_EQ(ReadString(link, 4, -250), "abcd");

    ASSERT_EQ(link.Write("3", 1, 0), S_OK);
    EXPECT_EQ(ReadString(link, 4, kNoTimeout), "late");
    EXPECT_EQ(link.PendingErrorId(), 0u) << "waiting is no error";
}

TEST_F(TcpLinkTest, SilentServerTimesOutAfterTheHint)
{
    test::ScratchLog log;
    LoopbackServer server([](LoopbackConnection& peer) {
        if (peer.Receive(1).empty())
            return;
        peer.Send("\x11\x22");
        peer.Receive(1);
    });
    TcpLink link(kKey);
    PointAt(link, server);
    ASSERT_EQ(link.Open(), S_OK);
    char bytes[4];
    HRESULT result = S_OK;
    const long long elapsed = ElapsedMs([&] { result = link.Read(bytes, 4, -300); });
    EXPECT_TRUE(FailedWith(result, link, IDS_ERR_TCP_READ_TIMEOUT));
    EXPECT_GE(elapsed, 280);
    EXPECT_LT(elapsed, 3000);
    std::string text = log.Text();
    const size_t line = text.find("TCP/IP READ TIMEOUT: code ");
    ASSERT_NE(line, std::string::npos) << text;
    EXPECT_NE(text.find(" (4 to read, timeout 300)\r\n", line), std::string::npos) << text;
    EXPECT_EQ(text.find("< ["), std::string::npos) << "nothing arrived, nothing to dump";

    // Half a read: what did arrive is shown.
    ASSERT_EQ(link.Write("x", 1, 0), S_OK);
    EXPECT_TRUE(FailedWith(link.Read(bytes, 4, -200), link, IDS_ERR_TCP_READ_TIMEOUT));
    text = log.Text();
    EXPECT_NE(text.find("< [2 bytes]\r\n< 11 22\r\nTCP/IP READ ERROR: 4 bytes expected (code "),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(", timeout 200)\r\n"), std::string::npos) << text;
}

TEST_F(TcpLinkTest, ClosedPeerFailsReadAtOnceAndWritesSoonAfter)
{
    test::ScratchLog log;
    LoopbackServer server([](LoopbackConnection&) {});
    TcpLink link(kKey);
    PointAt(link, server);
    ASSERT_EQ(link.Open(), S_OK);
    char bytes[4];
    HRESULT result = S_OK;
    const long long elapsed = ElapsedMs([&] { result = link.Read(bytes, 4, 0); });
    EXPECT_TRUE(FailedWith(result, link, IDS_ERR_TCP_READ));
    EXPECT_LT(elapsed, 2000) << "well before the 5 s minimum time-out";
    EXPECT_NE(log.Text().find("TCP/IP READ ERROR (DISCONNECT): code "), std::string::npos);

    // The first write may still be taken by the system; a later one meets the reset, and
    // must fail rather than kill the process with SIGPIPE.
    result = S_OK;
    for (int i = 0; i < 100 && result == S_OK; ++i) {
        result = link.Write("data", 4, -500);
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(FailedWith(result, link, IDS_ERR_TCP_WRITE));
}

TEST_F(TcpLinkTest, LargeTransfersArriveWholeAndAStuckReaderTimesOut)
{
    // More than the system buffers hold, to a reader that starts late: the link has to wait.
    const std::string data = Pattern(8 << 20);
    std::string received;
    std::atomic<bool> done {false};
    LoopbackServer server(
        [&](LoopbackConnection& peer) {
            std::this_thread::sleep_for(300ms);
            while (received.size() < data.size()) {
                const std::string piece = peer.Receive(256 << 10);
                if (piece.empty())
                    return;
                received += piece;
            }
            peer.Send(received);
            for (int i = 0; i < 500 && !done; ++i)  // and reads no more
                std::this_thread::sleep_for(10ms);
        },
        8192);
    TcpLink link(kKey, 512);
    PointAt(link, server);
    ASSERT_EQ(link.Open(), S_OK);
    HRESULT result = E_FAIL;
    long long elapsed =
        ElapsedMs([&] { result = link.Write(data.data(), uint32_t(data.size()), 0); });
    EXPECT_EQ(result, S_OK);
    EXPECT_GE(elapsed, 250) << "the write should have had to wait for the reader";
    std::string back(data.size(), '\0');
    ASSERT_EQ(link.Read(back.data(), uint32_t(back.size()), 0), S_OK);
    EXPECT_TRUE(back == data);
    EXPECT_EQ(link.PendingErrorId(), 0u);

    const std::string more = Pattern(16 << 20);
    elapsed = ElapsedMs([&] { result = link.Write(more.data(), uint32_t(more.size()), -300); });
    done = true;
    EXPECT_TRUE(FailedWith(result, link, IDS_ERR_TCP_WRITE_TIMEOUT));
    EXPECT_GE(elapsed, 280);
    EXPECT_LT(elapsed, 3000);
    server.Stop();
    EXPECT_TRUE(received == data);
}

TEST_F(TcpLinkTest, OnlyNamesAreLookedUp)
{
    LoopbackServer server([](LoopbackConnection& peer) { peer.Receive(1, 1000); });
    TcpLink link(kKey);
    link.SetPort(server.Port());

    // Malformed dotted addresses are never taken for something else (inet_addr would read
    // "1.2.3" as 1.2.0.3 and an error as 255.255.255.255).
    for (const char* address :
         {"1.2.3.999", "300.1.1.1", "1.2.3", "1.2.3.4.5", "0x7f.0.0.1", "127.0.0.1x", "", " "}) {
        link.SetAddress(address);
        link.ClearPendingError();
        EXPECT_TRUE(FailedWith(link.Open(), link, IDS_ERR_HOST_NOT_FOUND)) << address;
        EXPECT_FALSE(link.IsOpen()) << address;
    }
    link.SetAddress("no-such-host.invalid");
    EXPECT_TRUE(FailedWith(link.Open(), link, IDS_ERR_HOST_NOT_FOUND));

    link.SetAddress("127.0.0.1 ");
    EXPECT_EQ(link.Open(), S_OK);
    link.Close();
    link.SetAddress("localhost");
    EXPECT_EQ(link.Open(), S_OK);
    link.Close();
    EXPECT_EQ(server.Stop(), 2);
}

TEST_F(TcpLinkTest, DiscardDrainsOnlyWhatIsPending)
{
    test::ScratchLog log;
    const std::string junk = Pattern(300);
    LoopbackServer server([&](LoopbackConnection& peer) {
        peer.Send(junk);
        if (peer.Receive(1) == "g")
            peer.Send("next");
        if (peer.Receive(1) == "h")
            peer.Send("stale");
        peer.Receive(1);
    });
    TcpLink link(kKey);
    PointAt(link, server);
    ASSERT_EQ(link.Open(), S_OK);
    EXPECT_EQ(link.Discard(), S_OK);
    ASSERT_EQ(link.Write("g", 1, 0), S_OK);
    EXPECT_EQ(ReadString(link, 4, 0), "next");

    const std::string text = log.Text();
    const size_t first = text.find("DISCARDING UNEXPECTED DATA\r\n! [256 bytes]\r\n");
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_NE(text.find("DISCARDING UNEXPECTED DATA\r\n! [44 bytes]\r\n", first), std::string::npos)
        << text;

    // A quiet line costs the settling pause and one wait, and logs nothing.
    const size_t before = log.Text().size();
    HRESULT result = E_FAIL;
    const long long elapsed = ElapsedMs([&] { result = link.Discard(); });
    EXPECT_EQ(result, S_OK);
    EXPECT_GE(elapsed, 280);
    EXPECT_LT(elapsed, 2000);
    EXPECT_EQ(log.Text().find("DISCARDING", before), std::string::npos);

    // Without waiting: only what has arrived, and whether there was any.
    EXPECT_EQ(link.DiscardArrived(), S_FALSE);
    ASSERT_EQ(link.Write("h", 1, 0), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(link.DiscardArrived(), S_OK);
    EXPECT_NE(log.Text().find("DISCARDING UNEXPECTED DATA\r\n! [5 bytes]\r\n", before),
              std::string::npos);
    EXPECT_EQ(link.DiscardArrived(), S_FALSE);
    link.Write("x", 1, 0);

    link.Close();
    EXPECT_LT(ElapsedMs([&] { EXPECT_EQ(link.Discard(), S_OK); }), 50);
}

TEST_F(TcpLinkTest, DiscardGivesUpOnAnEndlessStream)
{
    LoopbackServer server([](LoopbackConnection& peer) {
        const std::string block(1024, '\x55');
        for (int i = 0; i < 100000 && peer.Send(block); ++i) {
        }
    });
    TcpLink link(kKey);
    PointAt(link, server);
    ASSERT_EQ(link.Open(), S_OK);
    const long long elapsed = ElapsedMs([&] { EXPECT_EQ(link.Discard(), S_OK); });
    EXPECT_GE(elapsed, static_cast<long long>(TcpLink::kDiscardLimitMs));
    EXPECT_LT(elapsed, 4000);
    link.Close();
}

}  // namespace
}  // namespace dm
