// The command line on top of the config file and the environment.
#include "cli/options.h"

#include <gtest/gtest.h>

namespace dm::cli {
namespace {

TEST(CliProfile, TheCommandLineOverridesTheBaseAndAServerChoosesTcp)
{
    ConnectionProfile base;
    base.serialDevice = "/dev/ttyUSB0";
    base.host = "from-file";
    base.packetSize = 1024;
    std::string error;
    auto options = ParseOptions({"ls"}, error, base);
    ASSERT_TRUE(options);
    EXPECT_EQ(ProfileOf(*options).serialDevice, "/dev/ttyUSB0");
    EXPECT_EQ(ProfileOf(*options).packetSize, 1024u);

    options = ParseOptions({"--port", "2000", "ls"}, error, base);
    ASSERT_TRUE(options);
    EXPECT_EQ(ProfileOf(*options).serialDevice, "");
    EXPECT_EQ(ProfileOf(*options).host, "from-file");

    options = ParseOptions({"--serial", "COM2", "--host", "amiga", "ls"}, error, base);
    ASSERT_TRUE(options);
    EXPECT_EQ(ProfileOf(*options).serialDevice, "COM2");
    EXPECT_FALSE(ParseOptions({"--log", std::string(260, 'l'), "ls"}, error));
}

}  // namespace
}  // namespace dm::cli
