#include "protocol/remote_session.h"

#include "link/tcp_link.h"
#include "protocol/session_support.h"
#include "resources/string_ids.h"
#include "support/test_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#ifdef _WIN32
#  include <windows.h>
#endif

namespace dm {
namespace {

using namespace test;
using ::testing::Contains;

std::string LockName(const std::string& tag)
{
#ifdef _WIN32
    return "DrovemarkConnMutex-test-" + std::to_string(GetCurrentProcessId()) + "-" + tag;
#else
    static ScratchFolder folder;
    return folder.File(tag + ".lock");
#endif
}

// Whether another thread gets the lock at once.
bool FreeForOtherThreads(const std::string& lockName)
{
    bool got = false;
    std::thread([&] {
        RemoteSession other({lockName, 0, TcpLoader(1), [](UINT, const std::string&) {
                             }});
        other.AddRef();
        got = other.Open(false) != nullptr;
        other.Close();
        other.Release();
    }).join();
    return got;
}

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(StartSockets()); }

    RemoteSession::Config ConfigFor(const std::string& tag, RemoteSession::SettingsLoader load)
    {
        return {LockName(tag), 300, std::move(load), messages_.Sink()};
    }
    static HRESULT Send(PacketChannel* link)
    {
        return link ? link->WritePacket(PacketType::Progress) : E_FAIL;
    }
    static bool IsOpen(RemoteSession& session)
    {
        return static_cast<TcpLink&>(session.Settings()->Connection(0).GetLink()).IsOpen();
    }

    SharedSectionGuard shared_;
    Messages messages_;
    PacketSink amiga_;
};

TEST_F(SessionTest, KeepOpenHoldsTheLinkAcrossOperationsUntilTheLastHolderEnds)
{
    RemoteSession session(ConfigFor("keep", TcpLoader(amiga_.Port())));
    session.AddRef();
    session.KeepOpen();
    session.KeepOpen();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Send(session.Open(true)), S_OK);
        session.Close();
        EXPECT_TRUE(IsOpen(session));
    }
    session.EndKeepOpen();
    EXPECT_TRUE(IsOpen(session));
    // The last holder leaves during an operation: the operation's Close closes the link.
    PacketChannel* link = session.Open(true);
    session.EndKeepOpen();
    EXPECT_EQ(Send(link), S_OK);
    session.Close();
    EXPECT_FALSE(IsOpen(session));
    EXPECT_EQ(amiga_.opened, 1);

    // Without holders each operation has a connection of its own.
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(Send(session.Open(true)), S_OK);
        session.Close();
        EXPECT_FALSE(IsOpen(session));
    }
    EXPECT_TRUE(amiga_.WaitClosed(3));
    EXPECT_EQ(amiga_.opened, 3);
    EXPECT_EQ(amiga_.packets, 6);

    // Unmatched ends change nothing; the last Release closes a kept link and drops everything.
    session.EndKeepOpen();
    session.Close();
    EXPECT_EQ(session.KeepOpenCount(), 0u);
    EXPECT_EQ(session.OpenCount(), 0u);
    session.KeepOpen();
    EXPECT_EQ(Send(session.Open(true)), S_OK);
    session.Close();
    session.Release();
    EXPECT_EQ(session.Settings(), nullptr);
    EXPECT_TRUE(amiga_.WaitClosed(4));
}

TEST_F(SessionTest, ANestedOpenIsRefusedWhileTheOuterOperationGoesOn)
{
    RemoteSession session(ConfigFor("nested", TcpLoader(amiga_.Port())));
    session.AddRef();
    PacketChannel* outer = session.Open(true);
    ASSERT_NE(outer, nullptr);
    EXPECT_THAT(messages_.During([&] { EXPECT_EQ(session.Open(true), nullptr); }),
                Contains(Text(IDS_ERR_CONN_CONFLICT)));
    EXPECT_FALSE(FreeForOtherThreads(LockName("nested")));
    // Asking for the link without opening it, inside the operation, does not end it either.
    EXPECT_EQ(session.Open(false), outer);
    session.Close();
    EXPECT_EQ(Send(outer), S_OK);
    EXPECT_FALSE(FreeForOtherThreads(LockName("nested")));
    session.Close();
    EXPECT_TRUE(FreeForOtherThreads(LockName("nested")));
    session.Release();
}

TEST_F(SessionTest, AMissingOrUnreachableLinkIsReportedOnceAndNothingIsHeld)
{
    // "Connection" names a port that is not there.
    RemoteSession session(ConfigFor("missing", [](ConnectionSettings& settings) {
        settings.LoadProfile(ConnectionProfile {});
        return settings.SetConnectionName("COM3");
    }));
    session.AddRef();
    for (bool openLink : {true, false}) {
        EXPECT_THAT(messages_.During([&] { EXPECT_EQ(session.Open(openLink), nullptr); }),
                    Contains(Text(IDS_SRVERR_UNSPECIFIED)));
        EXPECT_TRUE(FreeForOtherThreads(LockName("missing")));
    }
    session.Release();

    // Nothing listens: the link's own message with the address, and its error cleared.
    RemoteSession refused(ConfigFor("refused", TcpLoader(UnusedLoopbackPort())));
    refused.AddRef();
    EXPECT_THAT(messages_.During([&] { EXPECT_EQ(refused.Open(true), nullptr); }),
                Contains(Text(IDS_ERR_TCP_CONNECT_LOCAL, "127.0.0.1")));
    EXPECT_EQ(refused.Settings()->Connection(0).GetLink().PendingErrorId(), 0u);
    EXPECT_EQ(refused.OpenCount(), 0u);
    EXPECT_TRUE(FreeForOtherThreads(LockName("refused")));
    refused.Release();
}

TEST_F(SessionTest, SettingsSavedSinceTheLastLoadAreReloadedWithABanner)
{
    ScratchFolder folder;
    const std::string log = folder.File("Drovemark_pc.log");
    std::atomic<int> loads {0};
    RemoteSession session(ConfigFor("stale", TcpLoader(amiga_.Port(), &loads, log)));
    session.AddRef();
    PacketChannel* first = session.Open(true);
    EXPECT_EQ(Send(first), S_OK);
    EXPECT_EQ(first->SendSequence(), 2);
    session.Close();

    // Another process saves while this thread is inside an operation: its link stays.
    PacketChannel* outer = session.Open(true);
    ++SharedSection().settingsStamp;
    EXPECT_EQ(session.Open(false), outer);
    session.Close();
    EXPECT_EQ(Send(outer), S_OK);
    session.Close();
    EXPECT_EQ(loads, 1);

    // The next operation gets new settings, a new link and a new banner.
    PacketChannel* reloaded = session.Open(true);
    ASSERT_NE(reloaded, nullptr);
    EXPECT_EQ(loads, 2);
    EXPECT_EQ(reloaded->SendSequence(), 1);
    session.Close();
    session.Release();
    EXPECT_EQ(Count(ReadWholeFile(log),
                    "\r\nDROVEMARK PROPERTIES\r\nConnection: TCP/IP (0 baud)\r\n"
                    "PacketSize: 512\r\nMaxRetries: 50\r\n\r\n"),
              2u);
}

}  // namespace
}  // namespace dm
