#include "shell/amiga_folder.h"
#include "shell/amiga_icon_provider.h"
#include "shell/item_id.h"
#include "shell/item_id_list.h"
#include "shell/item_image_lists.h"

#include "core/live_objects.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace dm {
namespace {

using OwnedId = UniqueIdList;

OwnedId MakeItem(std::string_view name, ItemKind kind)
{
    return OwnedId(MakeItemId("Work:", name, kind, 0, 0, 0, FILETIME {}, ""));
}

struct ReleaseDeleter {
    void operator()(IUnknown* object) const { object->Release(); }
};
using ProviderRef = std::unique_ptr<IExtractIconA, ReleaseDeleter>;

ProviderRef Provider(std::string_view name, ItemKind kind)
{
    void* out = nullptr;
    EXPECT_EQ(AmigaIconProvider::Create(name, kind, kIID_IExtractIconA, &out), S_OK);
    return ProviderRef(static_cast<IExtractIconA*>(out));
}

struct Location {
    std::string text;
    int index = -1;
    UINT flags = 0;
};

Location LocationOf(std::string_view name, ItemKind kind, UINT request = GIL_FORSHELL)
{
    char buffer[260];
    Location location;
    EXPECT_EQ(
        Provider(name, kind)
            ->GetIconLocation(request, buffer, sizeof buffer, &location.index, &location.flags),
        S_OK);
    location.text = buffer;
    return location;
}

std::string ModulePath()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    return path;
}

int IconWidth(HICON icon)
{
    ICONINFO info {};
    if (!GetIconInfo(icon, &info))
        return 0;
    BITMAP bitmap {};
    GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

TEST(IconLocation, ModuleIconsAndPerKindKeys)
{
    const std::string module = ModulePath();
    const struct {
        ItemKind kind;
        int index;
    } drives[] = {{ItemKind::Volume, -5},
                  {ItemKind::Floppy, -2},
                  {ItemKind::RomFile, -6},
                  {ItemKind::AdfFile, -7},
                  {ItemKind::HdfFile, -8}};
    for (const auto& drive : drives) {
        const Location location = LocationOf("DH0:Work", drive.kind, GIL_FORSHELL | GIL_OPENICON);
        EXPECT_EQ(location.text, module);
        EXPECT_EQ(location.index, drive.index);
        EXPECT_EQ(location.flags, UINT(GIL_PERCLASS));
    }

    const Location drawer = LocationOf("Devs", ItemKind::Drawer);
    EXPECT_EQ(drawer.text, "DROVEMARK::2");
    EXPECT_EQ(drawer.index, 0);
    EXPECT_EQ(drawer.flags, 12u);
    EXPECT_EQ(LocationOf("Devs", ItemKind::Drawer, GIL_OPENICON).index, 1);
    EXPECT_EQ(LocationOf("readme", ItemKind::File).text, "DROVEMARK::3");
    EXPECT_EQ(LocationOf("notes.unregistered-here", ItemKind::File).text, "DROVEMARK::3");
    EXPECT_EQ(LocationOf("Work:dir.x\\readme", ItemKind::File).text, "DROVEMARK::3");
}

TEST(IconLocation, ARegisteredExtensionGivesItsUpperCaseKeyUnlessTheBufferIsTooSmall)
{
    // An extension of our own under HKEY_CLASSES_ROOT for the length of the test.
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, ".dmlha", REG_SZ, "dmlhafile", 9), ERROR_SUCCESS);
    EXPECT_EQ(LocationOf("archive.dmlha", ItemKind::File).text, "DROVEMARK::.DMLHA");
    EXPECT_EQ(LocationOf("archive.DMLHA", ItemKind::File).text, "DROVEMARK::.DMLHA");
    EXPECT_EQ(LocationOf(".dmlha", ItemKind::File).text, "DROVEMARK::.DMLHA");
    EXPECT_EQ(LocationOf("archive.dmlha", ItemKind::File, GIL_OPENICON).index, 1);

    // "DROVEMARK::.DMLHA" needs 18 bytes: one fewer falls back to the per-kind key.
    ProviderRef provider = Provider("archive.dmlha", ItemKind::File);
    char buffer[24];
    int index;
    UINT flags;
    EXPECT_EQ(provider->GetIconLocation(0, buffer, 17, &index, &flags), S_OK);
    EXPECT_STREQ(buffer, "DROVEMARK::3");
    // Too small even for that: an error, and nothing written past the buffer.
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_TRUE(FAILED(provider->GetIconLocation(0, buffer, 12, &index, &flags)));
    EXPECT_EQ(buffer[12], 'x');
    EXPECT_TRUE(FAILED(
        Provider("DH0:Work", ItemKind::Volume)->GetIconLocation(0, buffer, 8, &index, &flags)));
    EXPECT_EQ(buffer[8], 'x');
    RegDeleteKeyA(HKEY_CLASSES_ROOT, ".dmlha");
}

TEST(IconExtract, ModuleAndShellIcons)
{
    for (ItemKind kind : {ItemKind::Volume, ItemKind::Floppy, ItemKind::RomFile, ItemKind::AdfFile,
                          ItemKind::HdfFile, ItemKind::Drawer, ItemKind::File}) {
        for (UINT request : {0u, UINT(GIL_OPENICON)}) {
            const Location location = LocationOf("disk.adf", kind, request);
            HICON large = nullptr;
            HICON small = nullptr;
            ASSERT_EQ(Provider("disk.adf", kind)
                          ->Extract(location.text.c_str(), location.index, &large, &small,
                                    MAKELONG(32, 16)),
                      S_OK)
                << int(kind);
            ASSERT_TRUE(large && small) << int(kind);
            if (location.flags == GIL_PERCLASS) {
                EXPECT_EQ(IconWidth(large), 32);
                EXPECT_EQ(IconWidth(small), 16);
            }
            EXPECT_TRUE(DestroyIcon(large));
            EXPECT_TRUE(DestroyIcon(small));
        }
    }

    HICON large = HICON(1);
    HICON small = HICON(1);
    EXPECT_EQ(Provider("Devs", ItemKind::Drawer)->Extract("DROVEMARK::2", 2, &large, &small, 0),
              E_INVALIDARG);
    EXPECT_EQ(large, nullptr);
    EXPECT_EQ(small, nullptr);

    // Only the ANSI interface: the shell must not call a wide method through it.
    void* out = HICON(1);
    EXPECT_EQ(AmigaIconProvider::Create("a", ItemKind::File, kIID_IExtractIconW, &out),
              E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
}

TEST(ItemImageLists, OneEntryPerDistinctIcon)
{
    IShellFolder* folder = nullptr;
    ASSERT_EQ(AmigaFolder::Create(IID_IShellFolder, reinterpret_cast<void**>(&folder)), S_OK);
    const long before = ModuleCounts::Objects();
    ItemImageLists lists;
    ASSERT_EQ(lists.Create(), S_OK);
    const OwnedId devs = MakeItem("Devs", ItemKind::Drawer);
    const OwnedId libs = MakeItem("Libs", ItemKind::Drawer);
    const OwnedId readme = MakeItem("readme", ItemKind::File);
    const OwnedId volume = MakeItem("DH0:Work", ItemKind::Volume);

    const int drawer = lists.IndexForItem(folder, devs.get());
    ASSERT_GE(drawer, 0);
    EXPECT_EQ(lists.IndexForItem(folder, libs.get()), drawer);
    const int file = lists.IndexForItem(folder, readme.get());
    const int disk = lists.IndexForItem(folder, volume.get());
    EXPECT_GE(file, 0);
    EXPECT_GE(disk, 0);
    EXPECT_NE(file, drawer);
    EXPECT_NE(disk, file);
    EXPECT_EQ(ImageList_GetImageCount(lists.Large()), 3);
    EXPECT_EQ(ImageList_GetImageCount(lists.Small()), 3);
    EXPECT_EQ(lists.IndexForItem(nullptr, devs.get()), -1);
    EXPECT_EQ(ModuleCounts::Objects(), before) << "an icon provider was leaked";
    folder->Release();
}

}  // namespace
}  // namespace dm
