// The client's "use" command writes the settings the Explorer folder loads.
#include "cli/explorer_connection.h"
#include "core/crc32.h"
#include "core/registry.h"
#include "link/tcp_link.h"
#include "protocol/connection_settings.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace dm::cli {
namespace {

class UseInExplorerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // CTest runs the tests side by side: each gets keys of its own.
        const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        store_.productKey = "SOFTWARE\\Quenzor\\Drovemark Use Tests\\" + test;
        store_.hideIconsKey = "SOFTWARE\\Quenzor\\Drovemark Use Test Icons\\" + test;
        store_.portPresent = [](const std::string&) {
            return false;
        };
        TearDown();
        StartSockets();
    }
    void TearDown() override
    {
        DeleteKeyTree(HKEY_LOCAL_MACHINE, store_.productKey);
        DeleteKeyTree(HKEY_CURRENT_USER, store_.hideIconsKey);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, store_.hideIconsKey);
    }

    SettingsStore store_;
};

TEST_F(UseInExplorerTest, FolderLoadsTheServerPasswordAndLogAndTheDesktopIconKeepsItsState)
{
    ConnectionProfile profile;
    profile.host = "192.168.1.20";
    profile.port = 3560;
    profile.password = "secret";
    profile.logFile = "C:\\drovemark.log";
    ASSERT_TRUE(UseInExplorer(profile, store_));

    ConnectionSettings settings(store_);
    ASSERT_TRUE(settings.Load());
    EXPECT_EQ(settings.ConnectionName(), ConnectionSettings::kTcpName);
    ASSERT_NE(settings.CurrentConnection(), nullptr);
    const auto* tcp = dynamic_cast<const TcpLink*>(&settings.CurrentConnection()->GetLink());
    ASSERT_NE(tcp, nullptr);
    EXPECT_EQ(tcp->Address(), "192.168.1.20");
    EXPECT_EQ(tcp->Port(), 3560);
    EXPECT_EQ(tcp->HandshakeKey(), ComputeCrc32("secret"));
    EXPECT_TRUE(settings.LoggingEnabled());
    EXPECT_EQ(settings.LogPath(), "C:\\drovemark.log");

    // The desktop icon keeps its state.
    EXPECT_FALSE(IsDesktopIconHidden(store_));
    ASSERT_TRUE(SetDesktopIconHidden(true, store_));
    profile.port = 3561;
    ASSERT_TRUE(UseInExplorer(profile, store_));
    EXPECT_TRUE(IsDesktopIconHidden(store_));
}

}  // namespace
}  // namespace dm::cli
