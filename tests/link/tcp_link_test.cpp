#include "link/link_lines.h"

#include "core/shared_settings_section.h"
#include "resources/string_ids.h"
#include "support/loopback_server.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace dm {
namespace {

using namespace std::chrono_literals;
using test::LoopbackConnection;
using test::LoopbackServer;

constexpr uint32_t kKey = test::TcpLine::kKey;

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

TEST_F(TcpLinkTest, AClosedOrRefusedLinkRefusesIo)
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

using TcpLinkLine = test::LineTest<test::TcpLine>;

// A negative hint bounds each wait, not the whole read: 4 gaps of 100 ms outlast 250 ms.
TEST_F(TcpLinkLine, ATimeOutBoundsEachWaitNotTheWholeRead)
{
    std::thread feeder([this] {
        for (const char c : std::string("abcd")) {
            std::this_thread::sleep_for(100ms);
            line_.Send(std::string(1, c));
        }
        std::this_thread::sleep_for(150ms);
        line_.Send("late");
    });
    EXPECT_EQ(ReadString(line_.Link(), 4, -250), "abcd");
    EXPECT_EQ(ReadString(line_.Link(), 4, kNoTimeout), "late");
    feeder.join();
    EXPECT_EQ(line_.Link().PendingErrorId(), 0u) << "waiting is no error";
    uint32_t key = 0;
    EXPECT_TRUE(line_.Link().GetHandshakeKey(key));
    EXPECT_EQ(key, test::TcpLine::kKey);
}

}  // namespace
}  // namespace dm
