#include "cli/options.h"
#include "cli/protection_letters.h"
#include "cli/remote_tree.h"
#include "cli/text_encoding.h"

#include <gtest/gtest.h>

namespace dm::cli {
namespace {

std::optional<Options> Parse(std::vector<std::string> args, std::string* error = nullptr)
{
    std::string ignored;
    return ParseOptions(args, error ? *error : ignored);
}

TEST(CliOptions, TakesOptionsBeforeAndAfterTheCommand)
{
    const auto options = Parse({"--host", "amiga", "--port", "2000", "put", "-r", "a", "b",
                                "Work:", "--packet-size", "4096"});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->host, "amiga");
    EXPECT_EQ(options->port, 2000);
    EXPECT_EQ(options->command, "put");
    EXPECT_TRUE(options->recursive);
    EXPECT_EQ(options->packetSize, 4096u);
    EXPECT_EQ(options->arguments, (std::vector<std::string> {"a", "b", "Work:"}));

    // After the command, what is no option of ours is an argument: protect's "-w".
    const auto protect = Parse({"protect", "Work:x", "-w", "--port", "99"});
    ASSERT_TRUE(protect);
    EXPECT_EQ(protect->arguments, (std::vector<std::string> {"Work:x", "-w"}));
    EXPECT_EQ(protect->port, 99);
    // Even the bits that are also options of ours; and "--" ends the options.
    for (const char* bits : {"-r", "-h", "-y"}) {
        const auto taken = Parse({"protect", "Work:x", bits});
        ASSERT_TRUE(taken);
        EXPECT_FALSE(taken->recursive || taken->help || taken->assumeYes) << bits;
        EXPECT_EQ(taken->arguments.back(), bits);
    }
    const auto literal = Parse({"--wait", "3", "rename", "--", "Work:x", "-r"});
    ASSERT_TRUE(literal);
    EXPECT_EQ(literal->waitSeconds, 3u);
    EXPECT_FALSE(literal->recursive);
    EXPECT_EQ(literal->arguments, (std::vector<std::string> {"Work:x", "-r"}));
}

TEST(CliOptions, RefusesWhatItCannotUse)
{
    std::string error;
    EXPECT_FALSE(Parse({"ls", "--port", "70000"}, &error));
    EXPECT_FALSE(Parse({"ls", "--port", "0"}, &error));
    EXPECT_FALSE(Parse({"ls", "--port"}, &error));
    EXPECT_EQ(error, "--port needs a value");
    EXPECT_FALSE(Parse({"ls", "--packet-size", "4"}, &error));
    EXPECT_FALSE(Parse({"ls", "--packet-size", "-5"}, &error));
    EXPECT_FALSE(Parse({"--frobnicate", "ls"}, &error));
    EXPECT_FALSE(Parse({}, &error));
    EXPECT_TRUE(Parse({"--help"}));
}

// The command line on top of the config file and the environment.
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

TEST(ProtectionLetters, SetExactlyOrChangeSome)
{
    // R W E D are rights (a set bit forbids), H S P A flags (a set bit means on).
    EXPECT_EQ(ApplyProtection(0xFF, "rwed"), 0x00u);
    EXPECT_EQ(ApplyProtection(0x00, "re"), 0x05u);  // W and D forbidden
    EXPECT_EQ(ApplyProtection(0x00, "hsparwed"), 0xF0u);
    EXPECT_EQ(ApplyProtection(0x00, "-w"), 0x04u);
    EXPECT_EQ(ApplyProtection(0x04, "+w"), 0x00u);
    EXPECT_EQ(ApplyProtection(0x00, "+s-d"), 0x41u);
    EXPECT_EQ(ApplyProtection(0x1234, "+a"), 0x34u);  // only the low eight bits come back
    EXPECT_FALSE(ApplyProtection(0, "rwx"));
    EXPECT_EQ(ApplyProtection(0x00, ""), 0x0Fu);
}

// Amiga names are ISO-8859-1; the terminal's text is UTF-8 here, the ANSI code page on Windows.
TEST(AmigaText, ConvertsBothWaysAndRefusesWhatItLacks)
{
#ifdef _WIN32
    const std::string greeting = "Gr\xFC\xDF" "e", euro = "\x80";
#else
    const std::string greeting = "Gr\xC3\xBC\xC3\x9F" "e", euro = "\xE2\x82\xAC";
#endif
    std::string refused;
    const auto amiga = ToAmigaText(greeting, TextSide::Arguments, refused);
    ASSERT_TRUE(amiga);
    EXPECT_EQ(*amiga, "Gr\xFC\xDF" "e");
    EXPECT_EQ(FromAmigaText(*amiga, TextSide::FileNames), greeting);
    EXPECT_FALSE(ToAmigaText("Price " + euro, TextSide::Arguments, refused));
    EXPECT_EQ(refused, euro);
#ifndef _WIN32
    // Bytes that are not UTF-8: a stray continuation, an overlong "/", a surrogate, a cut end.
    for (const char* bad : {"\x80", "\xC0\xAF", "\xED\xA0\x80", "Gr\xC3"})
        EXPECT_FALSE(ToAmigaText(bad, TextSide::Arguments, refused)) << bad;
    EXPECT_FALSE(ToAmigaText("\xF0\x9F\x98\x80", TextSide::Arguments, refused));
#endif
    // The Amiga ignores case, accented letters included; the multiplication sign is no letter.
    EXPECT_TRUE(SameAmigaName("Gr\xFC\xDF" "e", "GR\xDC\xDF" "E"));
    EXPECT_FALSE(SameAmigaName("\xD7", "\xF7"));
}

TEST(UserPaths, SplitIntoVolumeAndComponents)
{
    std::string volume;
    std::vector<std::string> parts;
    ASSERT_TRUE(SplitUserPath("Work:Devs/file", volume, parts));
    EXPECT_EQ(volume, "Work");
    EXPECT_EQ(parts, (std::vector<std::string> {"Devs", "file"}));
    ASSERT_TRUE(SplitUserPath("DH0:", volume, parts));
    EXPECT_EQ(volume, "DH0");
    EXPECT_TRUE(parts.empty());
    ASSERT_TRUE(SplitUserPath("Work:a//b/", volume, parts));
    EXPECT_EQ(parts, (std::vector<std::string> {"a", "b"}));
    EXPECT_FALSE(SplitUserPath("kick.rom", volume, parts));
    EXPECT_FALSE(SplitUserPath(":odd", volume, parts));
}

}  // namespace
}  // namespace dm::cli
