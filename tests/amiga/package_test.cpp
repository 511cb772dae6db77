// The files the installer ships to the Amiga, read back as the Amiga reads them: each icon walked
// field by field as icon.library loads a ".info" file, and the program's own icon's tool types
// through the settings code that reads the Shell's arguments too.
extern "C" {
#include "amiga/server/settings.h"
}

#include "support/test_files.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace dm::test {
namespace {

// A cursor that fails the test instead of reading past the end.
struct Reader {
    const std::string& bytes;
    size_t at = 0;
    uint32_t Get(size_t size)
    {
        if (at + size > bytes.size())
            throw std::string("truncated at ") + std::to_string(at);
        uint32_t value = 0;
        for (size_t i = 0; i < size; ++i)
            value = value << 8 | uint8_t(bytes[at++]);
        return value;
    }
    std::string Text()
    {
        const uint32_t length = Get(4);
        if (length == 0 || at + length > bytes.size() || bytes[at + length - 1] != 0)
            throw std::string("bad text at ") + std::to_string(at);
        std::string text = bytes.substr(at, length - 1);
        at += length;
        return text;
    }
};

struct Icon {
    uint8_t type = 0;
    uint16_t width = 0, height = 0;
    uint32_t stack = 0;
    std::string defaultTool;
    std::vector<std::string> toolTypes;
    bool imageInked = false;  // some pixel is not the background
};

Icon ReadIcon(const std::string& bytes)
{
    Reader r {bytes};
    Icon icon;
    if (r.Get(2) != 0xE310 || r.Get(2) != 1)
        throw std::string("not an icon");
    r.Get(4);
    r.Get(4);
    icon.width = uint16_t(r.Get(2));
    icon.height = uint16_t(r.Get(2));
    const uint32_t flags = r.Get(2);
    r.Get(4);
    const uint32_t render = r.Get(4), select = r.Get(4);
    r.Get(4 + 4 + 4 + 2);
    const uint32_t userData = r.Get(4);
    icon.type = uint8_t(r.Get(1));
    r.Get(1);
    const uint32_t defaultTool = r.Get(4), toolTypes = r.Get(4);
    r.Get(8);
    const uint32_t drawerData = r.Get(4), toolWindow = r.Get(4);
    icon.stack = r.Get(4);
    if (!(flags & 4) || !render || drawerData || toolWindow || (userData & 0xFF) != 0)
        throw std::string("an icon this reader does not expect");
    for (uint32_t image = 0; image < (select ? 2u : 1u); ++image) {
        r.Get(4);
        const uint32_t width = r.Get(2), height = r.Get(2), depth = r.Get(2);
        if (width != icon.width || height != icon.height || depth == 0 || depth > 8 || !r.Get(4))
            throw std::string("image and gadget disagree");
        r.Get(2 + 4);
        const size_t size = (width + 15) / 16 * 2 * height * depth;
        if (r.at + size > bytes.size())
            throw std::string("planes run past the end");
        icon.imageInked |= bytes.find_first_not_of('\0', r.at) < r.at + size;
        r.at += size;
    }
    if (defaultTool)
        icon.defaultTool = r.Text();
    if (toolTypes) {
        const uint32_t count = r.Get(4) / 4;
        for (uint32_t i = 0; i + 1 < count; ++i)
            icon.toolTypes.push_back(r.Text());
    }
    if (r.at != bytes.size())
        throw std::string("bytes after the icon");
    return icon;
}

ServerSettings Defaults()
{
    ServerSettings s;
    settings_defaults(&s);
    return s;
}

TEST(AmigaPackage, IconsReadAsWorkbenchReadsThemAndTheToolTypesSetUpTheServer)
{
#ifndef DROVEMARK_AMIGA_PACKAGE
    GTEST_SKIP() << "no m68k cross compiler: the Amiga package is not built";
#else
    const std::filesystem::path package = DROVEMARK_AMIGA_PACKAGE;
    Icon tool, text;
    try {
        tool = ReadIcon(ReadWholeFile((package / "Drovemark.info").string()));
        text = ReadIcon(ReadWholeFile((package / "ReadMe.txt.info").string()));
    } catch (const std::string& problem) {
        FAIL() << problem;
    }
    EXPECT_EQ(tool.type, 3);  // a tool: Workbench runs it
    EXPECT_TRUE(tool.imageInked);
    EXPECT_GE(tool.stack, 4000u);
    EXPECT_EQ(text.type, 4);  // a project: Workbench opens it with its default tool
    EXPECT_EQ(text.defaultTool, "SYS:Utilities/More");
    EXPECT_TRUE(text.imageInked);

    // Every tool type that is switched on is the server's own and gives what it would use
    // anyway; the switched-off ones show the syntax and are passed over.
    ServerSettings s = Defaults();
    std::vector<std::string> on, off;
    for (const std::string& type : tool.toolTypes) {
        const int taken = settings_word(&s, type.c_str(), type.size());
        (taken == SETTING_TAKEN ? on : off).push_back(type);
        EXPECT_NE(taken, SETTING_BAD) << type;
    }
    EXPECT_EQ(on, (std::vector<std::string> {"BAUD=19200", "BUFFER=512", "HANDSHAKE=RTSCTS"}));
    ASSERT_EQ(off.size(), 2u);
    for (const std::string& type : off) {
        ASSERT_EQ(type.front(), '(');
        const std::string inner = type.substr(1, type.size() - 2);
        EXPECT_EQ(settings_word(&s, inner.c_str(), inner.size()), SETTING_TAKEN) << type;
    }
    const ServerSettings defaults = Defaults();
    EXPECT_EQ(s.baud, defaults.baud);
    EXPECT_EQ(s.buffer, defaults.buffer);
    EXPECT_EQ(s.handshake, defaults.handshake);
    EXPECT_EQ(s.tcp_port, defaults.tcp_port);
    EXPECT_STREQ(s.password, defaults.password);
#endif
}

TEST(AmigaPackage, ArgumentLinesAreTakenWholeOrRefusedAtTheirFirstBadWord)
{
    struct Case {
        std::string line, bad;
        uint32_t baud;
        uint16_t buffer;
        uint8_t handshake;
        std::string password;
    };
    const Case cases[] = {
        {"\n", "", 19200, 512, 1, "Vormantic"},
        {"BAUD=38400 buffer=1024 NOHANDSHAKE\n", "", 38400, 1024, 0, "Vormantic"},
        {"HANDSHAKE=none PASSWORD=\"two words\" PORT=2000\n", "", 19200, 512, 0, "two words"},
        {"PASSWORD= BAUD=9600", "", 9600, 512, 1, ""},
        {"BAUD=96OO BUFFER=1024", "BAUD=96OO", 19200, 512, 1, "Vormantic"},
        {"BUFFER=8193", "BUFFER=8193", 19200, 512, 1, "Vormantic"},
        {"BUFFER=4 BAUD=9600", "BUFFER=4", 19200, 512, 1, "Vormantic"},
        {"BAUD=9600 HANDSHAKE=XON", "HANDSHAKE=XON", 9600, 512, 1, "Vormantic"},
        {"PORT=0", "PORT=0", 19200, 512, 1, "Vormantic"},
        {"PASSWORD=" + std::string(100, 'x'), "PASSWORD=" + std::string(100, 'x'), 19200, 512, 1,
         "Vormantic"},
        {"VERBOSE", "VERBOSE", 19200, 512, 1, "Vormantic"},
    };
    for (const Case& c : cases) {
        ServerSettings s = Defaults();
        const char* bad = nullptr;
        size_t badLength = 0;
        const int good = settings_line(&s, c.line.c_str(), c.line.size(), &bad, &badLength);
        EXPECT_EQ(good, c.bad.empty()) << c.line;
        if (!good) {
            EXPECT_EQ(std::string(bad, badLength), c.bad) << c.line;
        }
        EXPECT_EQ(s.baud, c.baud) << c.line;
        EXPECT_EQ(s.buffer, c.buffer) << c.line;
        EXPECT_EQ(s.handshake, c.handshake) << c.line;
        EXPECT_EQ(s.password, c.password) << c.line;
    }
}

}  // namespace
}  // namespace dm::test
