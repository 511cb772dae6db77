// The "General" page of Amiga items against the emulated Amiga (tools/with-peer --transfer-tree):
// opened on its own thread by the folder's Properties, showing what each kind of item has,
// sending an edit once to the Amiga and to every open folder, and counting drawers until closed.
#include "core/live_objects.h"
#include "module/ui_objects.h"
#include "pages/item_property_page.h"
#include "pages/properties_thread.h"
#include "resources/resource_ids.h"
#include "shell/module_server.h"
#include "support/amiga_folders.h"
#include "support/dialog_driver.h"
#include "support/test_peer.h"

#include <commctrl.h>
#include <prsht.h>
#include <shlobj.h>

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <thread>

using Microsoft::WRL::ComPtr;

namespace dm {
namespace {

using test::FindItem;
using test::Of;
using test::PumpUntil;

class ItemPagesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::UseTestPeer())
            GTEST_SKIP() << "runs under tools/with-peer --transfer-tree";
        RegisterUiObjects();
        objectsBefore_ = ModuleCounts::Objects();
    }
    void TearDown() override
    {
        if (!HasFatalFailure() && std::getenv("DROVEMARK_TEST_PEER_PORT")) {
            EXPECT_EQ(ModuleCounts::Objects(), objectsBefore_) << "an object was leaked";
        }
    }

    static ComPtr<IShellFolder> Work() { return test::OpenAmigaFolder("Work"); }

    // Opens the properties of `items` and waits for the sheet titled `title`.
    static HWND Open(IShellFolder* folder, std::vector<const ITEMIDLIST*> items,
                     const char* title)
    {
        EXPECT_EQ(Of(folder).DoCommand(ViewCommand::Properties, UINT(items.size()), items.data(),
                                       nullptr),
                  S_OK);
        HWND sheet = nullptr;
        PumpUntil([&] { return (sheet = FindWindowA(nullptr, title)) != nullptr; });
        EXPECT_TRUE(sheet) << "no window " << title;
        return sheet;
    }

    static HWND Page(HWND sheet)
    {
        return reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
    }

    static std::string Text(HWND page, int id) { return test::WindowText(GetDlgItem(page, id)); }

    static void Close(HWND sheet, int button)
    {
        PostMessageA(sheet, PSM_PRESSBUTTON, button, 0);
        EXPECT_TRUE(PumpUntil([] { return OpenPropertiesWindows() == 0; })) << "the window stayed";
    }

    long objectsBefore_ = 0;
};

TEST_F(ItemPagesTest, EachKindGetsItsPageAndSeveralItemsAreSummedUp)
{
    ComPtr<IShellFolder> work = Work();
    const UniqueIdList readme = FindItem(work.Get(), "readme.txt");
    const UniqueIdList big = FindItem(work.Get(), "big.bin");
    const UniqueIdList docs = FindItem(work.Get(), "Docs");
    EXPECT_EQ(ItemPageFor({}), 0u);

    HWND sheet = Open(work.Get(), {readme.get()}, "readme.txt Properties");
    ASSERT_TRUE(sheet);
    HWND page = Page(sheet);
    EXPECT_EQ(Text(page, IDC_ITEM_NAME), "readme.txt");
    EXPECT_EQ(Text(page, IDC_ITEM_TYPE), std::string(ItemIdView(readme.get()).TypeText()));
    EXPECT_EQ(Text(page, IDC_ITEM_MODIFIED), std::string(ItemIdView(readme.get()).DateText()));
    STRRET name = {};
    ComPtr<IShellFolder> root = test::AmigaRoot();
    root->GetDisplayNameOf(nullptr, SHGDN_NORMAL, &name);  // empty where not installed
    const std::string namespaceName = name.cStr;
    EXPECT_EQ(Text(page, IDC_ITEM_LOCATION), namespaceName + "\\Work");
    EXPECT_NE(Text(page, IDC_ITEM_SIZE).find("12"), std::string::npos);
    EXPECT_EQ(IsDlgButtonChecked(page, IDC_ITEM_READABLE), BST_CHECKED);
    EXPECT_TRUE(SendDlgItemMessageA(page, IDC_ITEM_ICON, STM_GETICON, 0, 0));
    Close(sheet, PSBTN_CANCEL);

    sheet = Open(work.Get(), {readme.get(), big.get(), docs.get()}, "readme.txt, ... Properties");
    ASSERT_TRUE(sheet);
    page = Page(sheet);
    EXPECT_TRUE(PumpUntil([&] { return Text(page, IDC_ITEM_NAME) == "3 Files, 1 Folders"; }))
        << Text(page, IDC_ITEM_NAME) << ": Docs itself and the file it holds";
    EXPECT_EQ(Text(page, IDC_ITEM_TYPE), "Multiple Types");
    EXPECT_EQ(Text(page, IDC_ITEM_LOCATION), "All in " + namespaceName + "\\Work");
    Close(sheet, PSBTN_CANCEL);

    // Several volumes: they lie in the namespace itself.
    FindItem(root.Get(), "Work");
    std::vector<UniqueIdList> atRoot = Of(root.Get()).Items().CloneAll();
    ASSERT_GE(atRoot.size(), 2u);
    const ItemIdView firstAtRoot(atRoot[0].get());
    const std::string title =
        std::string(DisplayName(firstAtRoot.Name(), firstAtRoot.Kind())) + ", ... Properties";
    sheet = Open(root.Get(), {atRoot[0].get(), atRoot[1].get()}, title.c_str());
    ASSERT_TRUE(sheet);
    EXPECT_EQ(Text(Page(sheet), IDC_ITEM_LOCATION), "All in " + namespaceName);
    Close(sheet, PSBTN_CANCEL);

    // A drawer counts what it holds, below its own drawers too, and stops when closed.
    const UniqueIdList cut = FindItem(work.Get(), "Cut");
    sheet = Open(work.Get(), {cut.get()}, "Cut Properties");
    ASSERT_TRUE(sheet);
    EXPECT_EQ(OpenPropertiesWindows(), 1);
    page = Page(sheet);
    EXPECT_TRUE(PumpUntil([&] { return Text(page, IDC_ITEM_CONTAINS) == "2 Files, 1 Folders"; }))
        << Text(page, IDC_ITEM_CONTAINS);
    EXPECT_NE(Text(page, IDC_ITEM_SIZE).find("(5,006 bytes)"), std::string::npos)
        << Text(page, IDC_ITEM_SIZE);
    Close(sheet, PSBTN_CANCEL);
}

TEST_F(ItemPagesTest, CommentAndBitsGoToTheAmigaOnceAndToEveryOpenFolderAndFailuresChangeNothing)
{
    ComPtr<IShellFolder> work = Work();
    ComPtr<IShellFolder> second = Work();
    const UniqueIdList readme = FindItem(work.Get(), "readme.txt");
    FindItem(second.Get(), "readme.txt");  // the second folder lists it too

    HWND sheet = Open(work.Get(), {readme.get()}, "readme.txt Properties");
    ASSERT_TRUE(sheet);
    HWND page = Page(sheet);
    SetDlgItemTextA(page, IDC_ITEM_COMMENT, "edited on the PC");
    CheckDlgButton(page, IDC_ITEM_SCRIPT, BST_CHECKED);
    CheckDlgButton(page, IDC_ITEM_DELETABLE, BST_UNCHECKED);
    Close(sheet, PSBTN_OK);

    for (IShellFolder* folder : {work.Get(), second.Get()}) {
        const UniqueIdList shown = Of(folder).Items().CloneByShownName("readme.txt");
        ASSERT_TRUE(shown);
        const ItemIdView view(shown.get());
        EXPECT_EQ(view.Comment(), "edited on the PC");
        EXPECT_EQ(view.Protection() & 0xFFu, (1u << 6) | (1u << 0));
    }
    // What the Amiga holds now, from a fresh listing.
    ComPtr<IShellFolder> reread = Work();
    Of(reread.Get()).Items().Reset();
    const UniqueIdList fresh = FindItem(reread.Get(), "readme.txt");
    EXPECT_EQ(ItemIdView(fresh.get()).Comment(), "edited on the PC");

    // Two items, the first of which the Amiga does not have: its message, and the second one
    // still takes the change.
    const UniqueIdList gone(MakeItemId("DH0:Work", "gone.txt", ItemKind::File, 5, 0, 0, {}, ""));
    const UniqueIdList edited = Of(work.Get()).Items().CloneByShownName("readme.txt");
    sheet = Open(work.Get(), {gone.get(), edited.get()}, "gone.txt, ... Properties");
    ASSERT_TRUE(sheet);
    const DWORD sheetThread = GetWindowThreadProcessId(sheet, nullptr);
    CheckDlgButton(Page(sheet), IDC_ITEM_HOLD, BST_CHECKED);
    PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
    std::vector<std::string> said;
    std::thread user([&] {
        if (HWND box = test::WaitForOtherDialog(sheetThread, sheet)) {
            said = test::StaticTexts(box);
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
    });
    EXPECT_TRUE(PumpUntil([] { return OpenPropertiesWindows() == 0; }));
    user.join();
    EXPECT_FALSE(said.empty()) << "the failure was not shown";
    EXPECT_FALSE(Of(work.Get()).Items().CloneByShownName("gone.txt"));
    const UniqueIdList held = Of(work.Get()).Items().CloneByShownName("readme.txt");
    ASSERT_TRUE(held);
    EXPECT_EQ(ItemIdView(held.get()).Protection() & 0xFFu, (1u << 7) | (1u << 6) | (1u << 0))
        << "the item after the failed one was left unchanged";
}

}  // namespace
}  // namespace dm
