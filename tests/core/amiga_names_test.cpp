#include "core/amiga_names.h"

#include "core/amiga_dates.h"

#include <gtest/gtest.h>

namespace dm {
namespace {

// What a hostile server can name a file must stay one component inside the target folder, and
// no component may be a name Windows reserves for a device.
TEST(MakeWindowsName, MapsRefusedCharactersAndDeviceNamesAndKeepsEveryNameInsideItsFolder)
{
    const struct {
        const char* amiga;
        const char* pc;
    } cases[] = {
        {"a:b", "a_b"},
        {"Work/Devs/x.info", "Work\\Devs\\x.info"},
        {"a\\b*c?d\"e<f>g|h", "a_b_c_d'e_f_g_h"},
        {"plain name.txt", "plain name.txt"},
        {"aux.txt", "_aux.txt"},
        {"COM1", "_COM1"},
        {"dir/con.tar.gz", "dir\\_con.tar.gz"},
        {"Prn/lpt9.x", "_Prn\\_lpt9.x"},
        {"nul", "_nul"},
        {"COMX", "COMX"},
        {"COM10", "COM10"},
        {"console", "console"},
        {"...", "___"},
        {"a/../b", "a\\__\\b"},
        {".info", ".info"},
        {"/evil-root", "_\\evil-root"},
        {"//host/share/x", "_\\_\\host\\share\\x"},
        {"a//b/", "a\\_\\b\\_"},
        {"", "_"},
        {"aux.", "_aux_"},
        {"con .txt", "_con .txt"},
        {"tab\there\x01\x1f", "tab_here__"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MakeWindowsName(c.amiga), c.pc) << c.amiga;
    EXPECT_EQ(PcNameOf("x/../y"), "x_.._y");
    for (const char* impossible : {"", "a/b", "/", "bell\a", "new\nline"})
        EXPECT_FALSE(IsPossibleAmigaName(impossible)) << impossible;
    for (const char* possible : {"..", "a:b", "trail ", "\xe9t\xe9", "DH0:Work"})
        EXPECT_TRUE(IsPossibleAmigaName(possible)) << possible;
}

TEST(MakeWindowsName, FailsWhenTheResultReaches260Characters)
{
    EXPECT_EQ(MakeWindowsName(std::string(259, 'x'))->size(), 259u);
    EXPECT_FALSE(MakeWindowsName(std::string(260, 'x')));
    // The inserted underscore counts.
    EXPECT_FALSE(MakeWindowsName("aux." + std::string(255, 'x')));
    EXPECT_TRUE(MakeWindowsName("aux." + std::string(254, 'x')));
}

TEST(SameVolume, ComparesTheDevicePartOfParentOrName)
{
    EXPECT_TRUE(SameVolume({"DH0:Work", "a"}, {"DH0:", "b"}));
    EXPECT_TRUE(SameVolume({"", "DH0:Work"}, {"DH0:Work/Devs", "x"}));
    EXPECT_FALSE(SameVolume({"DH0:Work", "a"}, {"DH1:Work", "a"}));
    EXPECT_FALSE(SameVolume({"DH0:", "a"}, {"DH00:", "a"}));
    EXPECT_FALSE(SameVolume({"Work", "a"}, {"Work", "b"}));  // no device at all
    EXPECT_FALSE(SameVolume({"", ""}, {"", ""}));
}

class MakeCreateRecordTest : public ::testing::Test {
protected:
    static PcFileDescriptor File(const std::string& name, DWORD attributes = 0, DWORD size = 0)
    {
        PcFileDescriptor file;
        file.name = name;
        file.attributes = attributes;
        file.sizeLow = size;
        file.lastWriteTime = DateStampToFileTime({17000, 600, 150});
        return file;
    }
};

TEST_F(MakeCreateRecordTest, NamesTheFileBelowTheDestinationRelativeToTheBaseFolder)
{
    const PcFileDescriptor first = File("x\\", FILE_ATTRIBUTE_DIRECTORY);
    DirectoryEntry record;
    ASSERT_EQ(MakeCreateRecord(File("x\\y\\z.txt"), &first, {"DH0:Work", "Devs"}, record), S_OK);
    EXPECT_EQ(record.name, "DH0:Work/Devs/y/z.txt");

    const PcFileDescriptor top = File("C:\\data\\x");
    ASSERT_EQ(MakeCreateRecord(File("C:\\DATA\\X\\y\\z.txt"), &top, {"", "DH0:Work"}, record),
              S_OK);
    EXPECT_EQ(record.name, "DH0:Work/X/y/z.txt");

    // No separator in the first name: nothing is removed.
    const PcFileDescriptor single = File("x");
    ASSERT_EQ(MakeCreateRecord(File("x\\y\\z.txt"), &single, {"DH0:Work", ""}, record), S_OK);
    EXPECT_EQ(record.name, "DH0:Work/x/y/z.txt");
    ASSERT_EQ(MakeCreateRecord(File("a/b:c.txt"), nullptr, {"DH0:Work", ""}, record), S_OK);
    EXPECT_EQ(record.name, "DH0:Work/a_b_c.txt");
}

TEST_F(MakeCreateRecordTest, RefusesWhatCannotBeSent)
{
    DirectoryEntry record;
    const PcFileDescriptor first = File("base\\a.txt");
    EXPECT_EQ(MakeCreateRecord(File("other\\b.txt"), &first, {"DH0:", ""}, record), E_FAIL);
    EXPECT_EQ(MakeCreateRecord(File("bas"), &first, {"DH0:", ""}, record), E_FAIL);

    PcFileDescriptor huge = File("big.bin");
    huge.sizeHigh = 1;
    EXPECT_EQ(MakeCreateRecord(huge, nullptr, {"DH0:", ""}, record), E_FAIL);

    // "DH0:/" is 5 characters: with the name the path must stay below 260.
    EXPECT_EQ(MakeCreateRecord(File(std::string(254, 'n')), nullptr, {"DH0:", ""}, record), S_OK);
    EXPECT_EQ(MakeCreateRecord(File(std::string(255, 'n')), nullptr, {"DH0:", ""}, record), E_FAIL);
}

}  // namespace
}  // namespace dm
