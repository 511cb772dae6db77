#include "core/diag_log.h"

#include "core/shared_settings_section.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <cstring>

#ifdef _WIN32
#  include <windows.h>
#else
#  include <fcntl.h>
#  include <sys/file.h>
#  include <unistd.h>
#endif

namespace dm {
namespace {

class DiagLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        path_ = scratch_.File("Drovemark_pc.log");
        std::snprintf(SharedSection().logPath, sizeof SharedSection().logPath, "%s", path_.c_str());
    }
    void TearDown() override { SharedSection().logPath[0] = 0; }

    // The file without its leading system information banner, which must be there exactly once.
    std::string Body() const
    {
        const std::string text = test::ReadWholeFile(path_);
        const std::string head = "\r\nSYSTEM INFORMATION\r\nPlatformId: ";
        EXPECT_EQ(text.compare(0, head.size(), head), 0) << text;
        const size_t end = text.find("\r\n\r\n", head.size());
        EXPECT_NE(end, std::string::npos);
        const std::string banner = text.substr(0, end + 4);
        for (const char* field : {"\r\nVersion: ", "\r\nBuildNumber: 0x",
                                  "\r\nCSDVersion: ", "\r\nShell32: ", "\r\nDrovemark: "})
            EXPECT_NE(banner.find(field), std::string::npos) << field;
        const std::string body = text.substr(end + 4);
        EXPECT_EQ(body.find("SYSTEM INFORMATION"), std::string::npos);
        return body;
    }

    static std::string Bytes(int count)
    {
        std::string bytes;
        for (int i = 0; i < count; ++i)
            bytes += char(i * 7 + 1);
        return bytes;
    }

    static std::string HexLine(const std::string& prefix, const std::string& bytes, int from,
                               int count)
    {
        std::string line = prefix;
        for (int i = 0; i < count; ++i) {
            char pair[4];
            std::snprintf(pair, sizeof pair, "%02X",
                          static_cast<unsigned char>(bytes[size_t(from + i)]));
            line += (i ? " " : "") + std::string(pair);
        }
        return line + "\r\n";
    }

    test::ScratchFolder scratch_;
    std::string path_;
};

// Only the format's line breaks get carriage returns, not those of inserted texts.
TEST_F(DiagLogTest, BannerStartsOnlyAnEmptyFileAndOnlyTheFormatGetsCarriageReturns)
{
    LogLine("Opening %s\n", "COM1");
    LogLine("Packet %d of %d\n", 3, 4);
    LogLine("%s|\n", "inserted\ntext");
    LogLine("no end");
    LogLine("\n\n");
    EXPECT_EQ(Body(), "Opening COM1\r\nPacket 3 of 4\r\ninserted\ntext|\r\nno end\r\n\r\n");

    test::WriteWholeFile(path_, "kept\r\n");
    LogLine("next\n");
    EXPECT_EQ(test::ReadWholeFile(path_), "kept\r\nnext\r\n");

    test::WriteWholeFile(path_, "");
    LogLine("after emptying\n");
    EXPECT_EQ(Body(), "after emptying\r\n");
}

TEST_F(DiagLogTest, HexDumpsShowAtMostFirstAndLastTwentyBytes)
{
    LogHexDump("< ", nullptr, 0);
    std::string expected = "< [0 bytes]\r\n";

    for (int count : {12, 20, 21, 40, 41, 100}) {
        const std::string bytes = Bytes(count);
        LogHexDump("> ", bytes.data(), count);
        expected += "> [" + std::to_string(count) + " bytes]\r\n";
        expected += HexLine("> ", bytes, 0, std::min(count, 20));
        if (count > 40) {
            expected += "> ...\r\n" + HexLine("> ", bytes, count - 20, 20);
        } else if (count > 20) {
            expected += HexLine("> ", bytes, 20, count - 20);
        }
    }
    const std::string bytes = Bytes(3);
    LogHexDump(nullptr, bytes.data(), 3);
    expected += "[3 bytes]\r\n" + HexLine("", bytes, 0, 3);
    LogHexDump("! ", bytes.data(), -5);
    expected += "! [-5 bytes]\r\n";

    EXPECT_EQ(Body(), expected);
}

TEST_F(DiagLogTest, EntriesMeetingAHeldFileOrABadPathAreDropped)
{
    LogLine("first\n");
#ifdef _WIN32
    HANDLE held = CreateFileA(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    LogLine("lost\n");
    LogHexDump("< ", "xy", 2);
    CloseHandle(held);
#else
    const int held = open(path_.c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    LogLine("lost\n");
    LogHexDump("< ", "xy", 2);
    close(held);
#endif
    LogLine("second\n");
    EXPECT_EQ(Body(), "first\r\nsecond\r\n");

    std::snprintf(SharedSection().logPath, sizeof SharedSection().logPath, "%s",
                  scratch_.File("missing-folder/x.log").c_str());
    LogLine("nowhere\n");
    LogHexDump("< ", "xy", 2);
    EXPECT_FALSE(std::filesystem::exists(scratch_.File("missing-folder")));
}

}  // namespace
}  // namespace dm
