#include "core/temp_folder.h"

#include "support/test_files.h"

#include <gtest/gtest.h>

#include <cstdlib>

#ifdef _WIN32
#  include <windows.h>
#endif

namespace dm {
namespace {

namespace fs = std::filesystem;

class TempFolderTest : public ::testing::Test {
protected:
    // Points the user's temporary directory at a scratch folder for the test's length.
    void SetUp() override { SetTemp(scratch_.Path().string() + (kWindows ? "\\" : "/")); }
    void TearDown() override { SetTemp(saved_); }

    static void SetTemp(const std::string& dir)
    {
#ifdef _WIN32
        SetEnvironmentVariableA("TMP", dir.c_str());
        SetEnvironmentVariableA("TEMP", dir.c_str());
#else
        setenv("TMPDIR", dir.c_str(), 1);
#endif
    }

#ifdef _WIN32
    static constexpr bool kWindows = true;
#else
    static constexpr bool kWindows = false;
#endif
    const std::string saved_ = std::filesystem::temp_directory_path().string();
    test::ScratchFolder scratch_;
};

TEST_F(TempFolderTest, NumbersFoldersFromZeroAndRemovesTheWholeFolderOfAFileButNoOtherFolder)
{
    std::string folder;
    ASSERT_TRUE(CreateTempFolder(folder));
    const fs::path root(folder);
    fs::create_directories(root / "sub" / "deeper");
    test::WriteWholeFile((root / "opened.txt").string(), "x");
    test::WriteWholeFile((root / "sub" / "deeper" / "f.bin").string(), "y");
    fs::permissions(root / "opened.txt", fs::perms::owner_read);  // read-only
    std::string other;
    ASSERT_TRUE(CreateTempFolder(other));
    EXPECT_EQ(root.filename(), "Drovemark_0");
    EXPECT_EQ(fs::path(other).filename(), "Drovemark_1");

    RemoveTempFolderOf((root / "opened.txt").string());
    EXPECT_FALSE(fs::exists(root));
    EXPECT_TRUE(fs::exists(other));

    // Folders that are not ours stay.
    const fs::path mine = scratch_.Path() / "Documents";
    fs::create_directories(mine);
    test::WriteWholeFile((mine / "letter.txt").string(), "keep");
    RemoveTempFolderOf((mine / "letter.txt").string());
    RemoveTempFolderOf("letter.txt");
    RemoveTempFolderOf("");
    EXPECT_TRUE(fs::exists(mine / "letter.txt"));

    // Only the folder directly holding the file counts, in any letter case.
    ASSERT_TRUE(CreateTempFolder(folder));
    EXPECT_EQ(fs::path(folder), root) << "the freed number was not taken again";
    fs::create_directories(fs::path(folder) / "inner");
    RemoveTempFolderOf((fs::path(folder) / "inner" / "x.txt").string());
    EXPECT_TRUE(fs::exists(folder));
    const fs::path upper = scratch_.Path() / "DROVEMARK_77";
    fs::create_directories(upper);
    RemoveTempFolderOf((upper / "x.txt").string());
    EXPECT_FALSE(fs::exists(upper));
}

#ifndef _WIN32
TEST_F(TempFolderTest, NeverFollowsALinkOutOfTheFolder)
{
    const fs::path outside = scratch_.Path() / "precious";
    fs::create_directories(outside);
    test::WriteWholeFile((outside / "data.txt").string(), "keep");
    std::string folder;
    ASSERT_TRUE(CreateTempFolder(folder));
    fs::create_directory_symlink(outside, fs::path(folder) / "link");
    RemoveTempFolderOf((fs::path(folder) / "x.txt").string());
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_TRUE(fs::exists(outside / "data.txt"));
}
#endif

}  // namespace
}  // namespace dm
