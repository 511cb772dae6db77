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
    const std::string data = test::PatternBytes(8 << 20, 1);
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
    auto start = test::Clock::now();
    HRESULT result = link.Write(data.data(), uint32_t(data.size()), 0);
    EXPECT_EQ(result, S_OK);
    EXPECT_GE(test::MsSince(start), 250) << "the write should have had to wait for the reader";
    std::string back(data.size(), '\0');
    ASSERT_EQ(link.Read(back.data(), uint32_t(back.size()), 0), S_OK);
    EXPECT_TRUE(back == data);
    EXPECT_EQ(link.PendingErrorId(), 0u);

    const std::string more = test::PatternBytes(16 << 20, 2);
    start = test::Clock::now();
    result = link.Write(more.data(), uint32_t(more.size()), -300);
    const long long elapsed = test::MsSince(start);
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
    uint32_t key = 0;
    EXPECT_TRUE(link.GetHandshakeKey(key));
    EXPECT_EQ(key, kKey);
    link.Close();
    link.SetAddress("localhost");
    EXPECT_EQ(link.Open(), S_OK);
    link.Close();
    EXPECT_EQ(server.Stop(), 2);
}

}  // namespace
}  // namespace dm
