// The namespace folder against the emulated Amiga (tools/with-peer): Work (DH0) with drawers
// Devs/Keymaps and Docs and four files, Data (DH1), an empty floppy drive DF0 with its disk
// image item, and a ROM image item.
#include "core/amiga_paths.h"
#include "core/live_objects.h"
#include "resources/resource_ids.h"
#include "resources/string_ids.h"
#include "shell/amiga_folder.h"
#include "shell/folder_cache.h"
#include "shell/item_id.h"
#include "shell/module_server.h"
#include "support/amiga_folders.h"
#include "support/dialog_driver.h"
#include "support/test_peer.h"

#include <shlwapi.h>

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>

using Microsoft::WRL::ComPtr;

namespace dm {
namespace {

using test::AmigaRoot;
using test::Of;

constexpr char kNamespaceName[] = "Drovemark";

class FolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::UseTestPeer())
            GTEST_SKIP() << "runs under tools/with-peer";
        const std::string key = std::string("CLSID\\") + kNamespaceClsidText;
        RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, kNamespaceName, sizeof kNamespaceName);
        objectsBefore_ = ModuleCounts::Objects();
    }

    void TearDown() override
    {
        if (!HasFatalFailure() && std::getenv("DROVEMARK_TEST_PEER_PORT")) {
            EXPECT_EQ(ModuleCounts::Objects(), objectsBefore_) << "an object was leaked";
        }
    }

    static std::vector<UniqueIdList> List(IShellFolder* folder,
                                          SHCONTF flags = SHCONTF_FOLDERS | SHCONTF_NONFOLDERS)
    {
        std::vector<UniqueIdList> items;
        ComPtr<IEnumIDList> walk;
        EXPECT_EQ(folder->EnumObjects(nullptr, flags, &walk), S_OK);
        if (!walk)
            return items;
        ITEMIDLIST* item[10] = {};
        ULONG fetched = 99;
        while (walk->Next(10, item, &fetched) == S_OK) {
            EXPECT_EQ(fetched, 1u);
            items.emplace_back(item[0]);
        }
        EXPECT_EQ(fetched, 0u);
        return items;
    }

    static std::string Shown(IShellFolder* folder, const ITEMIDLIST* item,
                             SHGDNF flags = SHGDN_INFOLDER)
    {
        STRRET name = {};
        if (FAILED(folder->GetDisplayNameOf(item, flags, &name)))
            return "(failed)";
        char text[MAX_PATH] = {};
        StrRetToBufA(&name, item, text, sizeof text);
        return text;
    }

    static std::vector<std::string> ShownNames(IShellFolder* folder,
                                               const std::vector<UniqueIdList>& items)
    {
        std::vector<std::string> names;
        for (const UniqueIdList& item : items)
            names.push_back(Shown(folder, item.get()));
        return names;
    }

    static const ITEMIDLIST* Find(const std::vector<UniqueIdList>& items, std::string_view name)
    {
        for (const UniqueIdList& item : items)
            if (DisplayName(ItemIdView(item.get()).Name(), ItemIdView(item.get()).Kind()) == name)
                return item.get();
        ADD_FAILURE() << "no item " << name;
        return nullptr;
    }

    static ComPtr<IShellFolder> Bind(IShellFolder* folder, const ITEMIDLIST* item)
    {
        ComPtr<IShellFolder> child;
        EXPECT_EQ(folder->BindToObject(item, nullptr, IID_PPV_ARGS(&child)), S_OK);
        return child;
    }

    long objectsBefore_ = 0;
};

using Names = std::vector<std::string>;

TEST_F(FolderTest, EnumerationFiltersFoldersAndTheDriveWithoutADiskIsNotOne)
{
    ComPtr<IShellFolder> root = AmigaRoot();
    // Drives first in the server's order; the empty DF0 is a file-like item, as are images.
    const std::pair<SHCONTF, Names> cases[] = {
        {SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, {"Work", "Data", "DF0", "kick.rom", "df0.adf"}},
        {SHCONTF_FOLDERS, {"Work", "Data"}},
        {SHCONTF_NONFOLDERS, {"DF0", "kick.rom", "df0.adf"}},
        {0, {}}};
    for (const auto& [flags, names] : cases)
        EXPECT_EQ(ShownNames(root.Get(), List(root.Get(), flags)), names) << flags;
}

TEST_F(FolderTest, BindingTwoLevelsDeepListsTheDrawerAndNamesItFromTheRoot)
{
    ComPtr<IShellFolder> root = AmigaRoot();
    const auto volumes = List(root.Get());
    ComPtr<IShellFolder> work = Bind(root.Get(), Find(volumes, "Work"));
    const auto workItems = List(work.Get());
    ComPtr<IShellFolder> devs = Bind(work.Get(), Find(workItems, "Devs"));
    ASSERT_TRUE(devs);
    EXPECT_EQ(Of(devs.Get()).Path(), "DH0:Work/Devs");
    // Two identifiers from the root, so notifications and Open name the right folder.
    EXPECT_EQ(IdListSize(Of(devs.Get()).RelativeList()),
              IdListSize(Find(volumes, "Work")) + IdListSize(Find(workItems, "Devs")) - 2);

    const auto keymaps = List(devs.Get());
    EXPECT_EQ(ShownNames(devs.Get(), keymaps), (Names {"Keymaps"}));
    EXPECT_EQ(Shown(devs.Get(), keymaps[0].get(), SHGDN_NORMAL), "Drovemark\\Work\\Devs\\Keymaps");
    EXPECT_EQ(Shown(root.Get(), Find(volumes, "Work"), SHGDN_FORPARSING), "Drovemark\\Work");
    EXPECT_EQ(Shown(root.Get(), nullptr, SHGDN_NORMAL), "Drovemark");
    // In-folder names of a two-item list are counted from the list the shell passed.
    UniqueIdList both(ConcatIdLists({Find(workItems, "Devs"), keymaps[0].get()}));
    EXPECT_EQ(Shown(work.Get(), both.get()), "Keymaps");

    ComPtr<IShellFolder> wrong;
    EXPECT_EQ(root->BindToObject(Find(volumes, "Work"), nullptr, IID_IShellView,
                                 reinterpret_cast<void**>(wrong.GetAddressOf())),
              E_NOINTERFACE);
    EXPECT_FALSE(wrong);
}

TEST_F(FolderTest, NamesForParsingComeBackAsTheSameItemsImagesIncluded)
{
    ComPtr<IShellFolder> root = AmigaRoot();
    const auto items = List(root.Get());
    // An image item hides its device part in every name, so its parsing name is the one shown.
    EXPECT_EQ(Shown(root.Get(), Find(items, "df0.adf"), SHGDN_FORPARSING), "Drovemark\\df0.adf");
    for (const char* name : {"df0.adf", "kick.rom", "Work", "Drovemark\\Data"}) {
        std::wstring wide(name, name + std::strlen(name));
        ITEMIDLIST* parsed = nullptr;
        ULONG eaten = 0;
        ASSERT_EQ(root->ParseDisplayName(nullptr, nullptr, wide.data(), &eaten, &parsed, nullptr),
                  S_OK)
            << name;
        UniqueIdList owned(parsed);
        const std::string shown = Shown(root.Get(), owned.get(), SHGDN_FORPARSING);
        EXPECT_EQ(shown.substr(shown.rfind('\\') + 1), std::string(name).substr(std::string(name).rfind('\\') + 1));
        EXPECT_EQ(eaten, wide.size());
    }
    // A path down two drawers gives the list from the root, and its attributes.
    std::wstring deep = L"Work\\Devs\\Keymaps";
    ITEMIDLIST* parsed = nullptr;
    SFGAOF attributes = SFGAO_FOLDER | SFGAO_CANDELETE;
    ASSERT_EQ(root->ParseDisplayName(nullptr, nullptr, deep.data(), nullptr, &parsed, &attributes),
              S_OK);
    UniqueIdList owned(parsed);
    EXPECT_EQ(ItemIdView(LastIdListItem(owned.get())).Name(), "Keymaps");
    EXPECT_EQ(attributes, SFGAO_FOLDER | SFGAO_CANDELETE);
    std::wstring missing = L"Work\\Nothing\\here";
    EXPECT_EQ(root->ParseDisplayName(nullptr, nullptr, missing.data(), nullptr, &parsed, nullptr),
              HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(parsed, nullptr);
}

// What the views' menus and toolbar do not show: a drawer's subdrawers and an HDF item's drop.
TEST_F(FolderTest, AttributesOfSubdrawersAndImagesAndOneItemAtATime)
{
    const auto attributes = [](ItemKind kind, uint32_t protection) {
        UniqueIdList item(MakeItemId("", "X", kind, 0, 0, protection, FILETIME {}, ""));
        return ItemAttributes(item.get());
    };
    EXPECT_EQ(attributes(ItemKind::Drawer, item_id::kHasSubdrawers),
              SFGAO_CANCOPY | SFGAO_FOLDER | SFGAO_DROPTARGET | SFGAO_CANRENAME |
                  SFGAO_HASSUBFOLDER | SFGAO_CANMOVE | SFGAO_CANDELETE);
    EXPECT_EQ(attributes(ItemKind::HdfFile, 0), SFGAO_CANCOPY | SFGAO_DROPTARGET);

    ComPtr<IShellFolder> root = AmigaRoot();
    const auto volumes = List(root.Get());
    const ITEMIDLIST* pair[] = {Find(volumes, "Work"), nullptr};
    SFGAOF mask = ~0u;
    EXPECT_EQ(root->GetAttributesOf(2, pair, &mask), E_INVALIDARG);
    // Nothing is dropped on a drive without a disk.
    ComPtr<IDropTarget> target;
    const ITEMIDLIST* empty[] = {Find(volumes, "DF0")};
    EXPECT_EQ(root->GetUIObjectOf(nullptr, 1, empty, IID_IDropTarget, nullptr, &target),
              E_NOINTERFACE);
}

TEST_F(FolderTest, CorruptIdentifiersFromTheShellFailCleanly)
{
    ComPtr<IShellFolder> root = AmigaRoot();
    // A plausible size with texts that run past it, then a list terminator.
    uint8_t corrupt[48] = {46, 0, 1, 2};
    corrupt[26] = 200;
    const auto* item = reinterpret_cast<const ITEMIDLIST*>(corrupt);
    ComPtr<IShellFolder> child;
    EXPECT_TRUE(FAILED(root->BindToObject(item, nullptr, IID_PPV_ARGS(&child))));
    EXPECT_EQ(Shown(root.Get(), item), "(failed)");
    EXPECT_EQ(root->CompareIDs(0, item, item), 1);
    const auto volumes = List(root.Get());
    EXPECT_EQ(root->CompareIDs(0, volumes[0].get(), volumes[0].get()), 0);
    EXPECT_EQ(root->CompareIDs(0, nullptr, nullptr), 0);
    EXPECT_EQ(root->CompareIDs(0, volumes[0].get(), nullptr), 1);
    SFGAOF mask = ~0u;
    EXPECT_EQ(root->GetAttributesOf(1, &item, &mask), S_OK);
    EXPECT_EQ(mask, 0u);
    ComPtr<IUnknown> icon;
    EXPECT_EQ(root->GetUIObjectOf(nullptr, 1, &item, kIID_IExtractIconA, nullptr, &icon),
              E_INVALIDARG);
}

TEST_F(FolderTest, DeleteConfirmsAndRemovesTheFileFromEveryFolderOfItsPathAndVolumesOnlyRename)
{
    ComPtr<IShellFolder> root = AmigaRoot();
    const auto volumes = List(root.Get());
    ComPtr<IShellFolder> first = Bind(root.Get(), Find(volumes, "Work"));
    ComPtr<IShellFolder> second = Bind(root.Get(), Find(volumes, "Work"));
    const auto items = List(first.Get());
    List(second.Get());
    const ITEMIDLIST* victim[] = {Find(items, "readme.txt")};

    std::string question;
    auto answer = [&](int button) {
        return [&question, button](HWND box) {
            for (const std::string& text : test::StaticTexts(box))
                question += text;
            test::PressButton(box, button);
        };
    };
    {
        test::DialogDriver driver(answer(IDC_YES_NO_NO));
        EXPECT_EQ(Of(first.Get()).DoCommand(ViewCommand::Delete, 1, victim, nullptr),
                  HRESULT_FROM_WIN32(ERROR_CANCELLED));
    }
    EXPECT_NE(question.find("Are you sure you want to delete 'readme.txt'?"), std::string::npos)
        << question;
    EXPECT_TRUE(std::filesystem::exists(test::PeerHostPath("work/readme.txt")));
    {
        test::DialogDriver driver(answer(IDC_YES_NO_YES));
        EXPECT_EQ(Of(first.Get()).DoCommand(ViewCommand::Delete, 1, victim, nullptr), S_OK);
    }
    EXPECT_FALSE(std::filesystem::exists(test::PeerHostPath("work/readme.txt")));
    for (IShellFolder* folder : {first.Get(), second.Get()})
        EXPECT_EQ(ShownNames(folder, List(folder)),
                  (Names {"big.bin", "Devs", "Docs", "empty.txt"}));

    // A volume cannot be deleted at all.
    const ITEMIDLIST* volume[] = {Find(volumes, "Data")};
    EXPECT_EQ(Of(root.Get()).DoCommand(ViewCommand::Delete, 1, volume, nullptr), E_UNEXPECTED);
    // Formatting takes exactly one drive.
    EXPECT_EQ(Of(root.Get()).DoCommand(ViewCommand::Format, 0, nullptr, nullptr), E_INVALIDARG);
    const ITEMIDLIST* both[] = {volume[0], volume[0]};
    EXPECT_EQ(Of(root.Get()).DoCommand(ViewCommand::Format, 2, both, nullptr), E_INVALIDARG);

    // Renaming a volume keeps its device part, and the renamed item moves to the end.
    ITEMIDLIST* renamed = nullptr;
    ASSERT_EQ(root->SetNameOf(nullptr, Find(volumes, "Work"), L"Stuff", SHGDN_INFOLDER, &renamed),
              S_OK);
    UniqueIdList owned(renamed);
    ASSERT_TRUE(owned);
    EXPECT_EQ(ItemIdView(owned.get()).Name(), "DH0:Stuff");
    EXPECT_EQ(ItemIdView(Of(root.Get()).Items().CloneAll().back().get()).Name(), "DH0:Stuff");
    EXPECT_EQ(ShownNames(root.Get(), List(AmigaRoot().Get())).front(), "Stuff");
}

TEST_F(FolderTest, ReReadTellsTheViewsOnlyWhenTheListingChanged)
{
    ComPtr<IShellFolder> data = test::OpenAmigaFolder("Data");
    List(data.Get());
    test::CountingView view;
    Of(data.Get()).AttachView(&view);
    EXPECT_EQ(ReRead(Of(data.Get())), S_OK);
    EXPECT_EQ(view.refills, 0);
    std::ofstream(test::PeerHostPath("data/new.txt")) << "new";
    ReReadByPath("dh1:data", false);
    EXPECT_EQ(view.refills, 1);
    EXPECT_EQ(Of(data.Get()).Items().Count(), 2u);

    // New Folder re-reads the folder it was made in.
    EXPECT_EQ(Of(data.Get()).DoCommand(ViewCommand::NewFolder, 0, nullptr, nullptr), S_OK);
    EXPECT_EQ(view.refills, 2);
    EXPECT_EQ(Of(data.Get()).Items().Count(), 3u);
    Of(data.Get()).DetachView(&view);
}

TEST_F(FolderTest, TheModuleUnloadsOnlyAfterTheLastObjectAndCleansUpWinsockOnce)
{
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(GetModuleClassObject(kNamespaceClsid, IID_PPV_ARGS(&factory)), S_OK);
    EXPECT_EQ(WinsockState(), 0);
    ComPtr<IUnknown> view;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IShellView,
                                      reinterpret_cast<void**>(view.GetAddressOf())),
              E_NOINTERFACE);
    ComPtr<IPersistFolder> folder;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&folder)), S_OK);
    CLSID clsid = {};
    EXPECT_EQ(folder->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, kNamespaceClsid));
    ComPtr<IShellFolder> asFolder;
    EXPECT_EQ(folder.As(&asFolder), S_OK);
    IUnknown* foreign = nullptr;
    EXPECT_EQ(GetModuleClassObject(IID_IUnknown, IID_IUnknown, reinterpret_cast<void**>(&foreign)),
              E_FAIL);
    EXPECT_EQ(foreign, nullptr);

    factory->LockServer(TRUE);
    factory.Reset();
    folder.Reset();
    EXPECT_EQ(CanUnloadModule(), S_FALSE) << "a folder and a lock are still alive";
    asFolder.Reset();
    EXPECT_EQ(CanUnloadModule(), S_FALSE) << "the lock is still held";
    ModuleCounts::Unlock();
    EXPECT_EQ(CanUnloadModule(), S_OK);
    EXPECT_EQ(WinsockState(), -1);
    EXPECT_EQ(CanUnloadModule(), S_OK);
}

}  // namespace
}  // namespace dm
