#include "protocol/connection_profile.h"

#include "support/test_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

namespace dm {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using namespace std::string_literals;

EnvironmentLookup Environment(std::map<std::string, std::string> values)
{
    return [values = std::move(values)](const char* name) -> const char* {
        const auto found = values.find(name);
        return found == values.end() ? nullptr : found->second.c_str();
    };
}

TEST(ConfigText, AppliesTheGoodLinesAndNamesEachBadOne)
{
    ConnectionProfile profile;
    const auto problems = ApplyConfigText(
        "\xEF\xBB\xBF# the Amiga on the desk\r\n"
        "host = amiga.local\r\n"
        "  port=2000  \n"
        "\n"
        "retries = 0\n"
        "port = 99999\n"
        "baud = 18446744073709551617\n"
        "packet-size = 4\n"
        "colour = blue\n"
        "just words\n"
        "host =\n"
        "log = a\x01"
        "b\n"
        "password = a\0b\n"s,
        profile);
    EXPECT_EQ(profile.host, "amiga.local");
    EXPECT_EQ(profile.port, 2000);
    EXPECT_EQ(profile.maxRetries, 0u);
    EXPECT_EQ(profile.baud, 19200u);
    EXPECT_EQ(profile.packetSize, 512u);
    EXPECT_EQ(profile.logFile, "");
    EXPECT_EQ(profile.password, "Vormantic");
    EXPECT_THAT(problems,
                ElementsAre(StartsWith("line 6: port"), StartsWith("line 7: baud"),
                            StartsWith("line 8: packet-size"), "line 9: unknown setting 'colour'",
                            "line 10: expected key = value", StartsWith("line 11: host"),
                            StartsWith("line 12: log"), HasSubstr("line 13: ")));
}

TEST(ConfigText, SerialWinsWithinALevelAndAHigherLevelsServerChoosesTcp)
{
    ConnectionProfile profile;
    EXPECT_TRUE(
        ApplyConfigText("serial = /dev/ttyUSB0\nhost = amiga\nbaud = 57600\n", profile).empty());
    EXPECT_EQ(profile.serialDevice, "/dev/ttyUSB0");
    ConnectionProfile password = profile, server = profile;
    EXPECT_TRUE(ApplyEnvironment(Environment({{"DROVEMARK_PASSWORD", "x"}}), password).empty());
    EXPECT_EQ(password.serialDevice, "/dev/ttyUSB0");
    EXPECT_TRUE(ApplyEnvironment(Environment({{"DROVEMARK_HOST", "10.0.0.5"}}), server).empty());
    EXPECT_EQ(server.serialDevice, "");
    EXPECT_EQ(server.host, "10.0.0.5");
}

TEST(Environment, RefusesJunkAndTreatsEmptyAsUnset)
{
    ConnectionProfile profile;
    EXPECT_THAT(ApplyEnvironment(Environment({{"DROVEMARK_HOST", ""},
                                              {"DROVEMARK_PORT", "12ab"},
                                              {"DROVEMARK_SERIAL", "/dev/ttyS1"},
                                              {"DROVEMARK_BAUD", "0"}}),
                                 profile),
                ElementsAre(StartsWith("DROVEMARK_PORT"), StartsWith("DROVEMARK_BAUD")));
    EXPECT_EQ(profile.host, "127.0.0.1");
    EXPECT_EQ(profile.port, 356);
    EXPECT_EQ(profile.serialDevice, "/dev/ttyS1");
    EXPECT_EQ(profile.baud, 19200u);
    EXPECT_EQ(
        ApplyEnvironment(Environment({{"DROVEMARK_HOST", std::string(200, 'h')}}), profile).size(),
        1u);
}

TEST(ConfigFile, IsCheckedBeforeItIsRead)
{
    test::ScratchFolder folder;
    ConnectionProfile profile;
    EXPECT_TRUE(ApplyConfigFile(folder.File("none"), profile).empty());
    EXPECT_THAT(ApplyConfigFile(folder.Path().string(), profile),
                ElementsAre(HasSubstr("not a regular file")));
    test::WriteWholeFile(folder.File("big"), std::string(64 * 1024 + 1, '#'));
    EXPECT_THAT(ApplyConfigFile(folder.File("big"), profile), ElementsAre(HasSubstr("64 KiB")));
    test::WriteWholeFile(folder.File("config"), "port = 4000\nbogus\n");
    EXPECT_THAT(ApplyConfigFile(folder.File("config"), profile),
                ElementsAre(folder.File("config") + ": line 2: expected key = value"));
    EXPECT_EQ(profile.port, 4000);
#ifndef _WIN32
    EXPECT_EQ(DefaultConfigPath(Environment({{"HOME", "/h"}, {"XDG_CONFIG_HOME", "rel"}})),
              "/h/.config/drovemark/config");
    EXPECT_EQ(DefaultConfigPath(Environment({{"XDG_CONFIG_HOME", "/cfg"}})),
              "/cfg/drovemark/config");
#endif
}

}  // namespace
}  // namespace dm
