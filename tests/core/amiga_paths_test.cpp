#include "core/amiga_paths.h"

#include <gtest/gtest.h>

namespace dm {
namespace {

TEST(DisplayPrefix, HidesTheDevicePartOfVolumesAndImages)
{
    EXPECT_EQ(DisplayName("DH0:Work", ItemKind::Volume), "Work");
    EXPECT_EQ(DisplayName(":Work", ItemKind::Volume), "Work");
    EXPECT_EQ(DisplayName("DF0:", ItemKind::Floppy), "");
    EXPECT_EQ(DisplayName("Work/DH0:x", ItemKind::Volume), "Work/DH0:x");  // "/" first
    EXPECT_EQ(DisplayName("NoDevice", ItemKind::Volume), "NoDevice");
    EXPECT_EQ(DisplayName(":DF0:Disk.adf", ItemKind::AdfFile), "Disk.adf");
    EXPECT_EQ(DisplayName("::kick.rom", ItemKind::RomFile), "kick.rom");
    EXPECT_EQ(DisplayName(":DH0/x:y", ItemKind::HdfFile), ":DH0/x:y");
    EXPECT_EQ(DisplayName("DF0:Disk.adf", ItemKind::AdfFile), "DF0:Disk.adf");
    EXPECT_EQ(DisplayName("a:b", ItemKind::Drawer), "a:b");
    EXPECT_EQ(DisplayName("a:b", ItemKind::File), "a:b");
}

TEST(AmigaPath, ShowsTheVolumeNameWithAColon)
{
    EXPECT_EQ(AmigaPath("DH0:Work", "Devs"), "Work:Devs");
    EXPECT_EQ(AmigaPath("", "DH0:Work"), "Work:");
    EXPECT_EQ(AmigaPath("DH0:Work/Devs", "file"), "Work:Devs/file");
    EXPECT_EQ(AmigaPath("", ":DF0:Disk.adf"), ":DF0:Disk.adf");
    EXPECT_EQ(FolderPath("", "DH0:Work"), "DH0:Work");
    EXPECT_EQ(FolderPath("DH0:Work", "Devs"), "DH0:Work/Devs");
    EXPECT_TRUE(AmigaPath(std::string(128, 'p'), std::string(129, 'n')));
    EXPECT_FALSE(AmigaPath(std::string(128, 'p'), std::string(130, 'n')));
}

TEST(AttributeText, ListsFlagsWhenSetAndRightsWhenClear)
{
    EXPECT_EQ(AttributeText(0), "RWED");
    EXPECT_EQ(AttributeText(0xFF), "HSPA");
    EXPECT_EQ(AttributeText(0x10 | 0x05), "ARE");
    EXPECT_EQ(AttributeText(0x80000000u | 0x20000000u | 0x08000000u | 0x40), "SRWED");
}

}  // namespace
}  // namespace dm
