// The shell view hosted by a browser of the test's own, against the emulated Amiga of
// tools/with-peer (Work, Data, an empty DF0, a ROM and an ADF item at the root).
#include "core/live_objects.h"
#include "core/size_text.h"
#include "module/ui_objects.h"
#include "resources/resource_ids.h"
#include "shell/amiga_folder.h"
#include "shell/folder_cache.h"
#include "shell/item_id.h"
#include "support/allocation_spy.h"
#include "support/amiga_folders.h"
#include "support/dialog_driver.h"
#include "support/test_browser.h"
#include "support/test_peer.h"
#include "view/amiga_view.h"
#include "view/status_texts.h"
#include "view/view_columns.h"
#include "view/view_state.h"

#include <shlwapi.h>

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

using Microsoft::WRL::ComPtr;

namespace dm {
namespace {

using test::RowOf;
using test::SelectNames;

class ViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::UseTestPeer())
            GTEST_SKIP() << "runs under tools/with-peer";
        RegisterUiObjects();
        objectsBefore_ = ModuleCounts::Objects();
        ASSERT_EQ(AmigaFolder::Create(IID_PPV_ARGS(&root_)), S_OK);
    }

    void TearDown() override
    {
        root_.Reset();
        if (std::getenv("DROVEMARK_TEST_PEER_PORT")) {
            EXPECT_EQ(ModuleCounts::Objects(), objectsBefore_);
        }
    }

    static ComPtr<IShellFolder> Folder(const char* volume) { return test::OpenAmigaFolder(volume); }

    // A view of `folder` with its window in the browser's frame.
    ComPtr<IShellView> Open(IShellFolder* folder, UINT mode = FVM_DETAILS, UINT flags = 0)
    {
        ComPtr<IShellView> view;
        EXPECT_EQ(
            AmigaView::Create(*static_cast<AmigaFolder*>(folder), nullptr, IID_PPV_ARGS(&view)),
            S_OK);
        FOLDERSETTINGS settings = {mode, flags};
        RECT rect = {0, 0, 640, 400};
        HWND window = nullptr;
        EXPECT_EQ(view->CreateViewWindow(nullptr, &settings, &browser_, &rect, &window), S_OK);
        EXPECT_NE(window, nullptr);
        return view;
    }

    static AmigaView& Of(IShellView* view) { return *static_cast<AmigaView*>(view); }

    static std::vector<const ITEMIDLIST*> Rows(IShellView* view)
    {
        std::vector<const ITEMIDLIST*> rows;
        EXPECT_EQ(Of(view).SelectedItems(SVGIO_ALLVIEW, rows), S_OK);
        return rows;
    }

    static std::string CellText(HWND list, int row, int column)
    {
        char text[260] = {};
        LVITEMA item = {};
        item.iSubItem = column;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
        return text;
    }

    static std::vector<std::string> Column(IShellView* view, int column)
    {
        std::vector<std::string> texts;
        const int rows = int(SendMessageA(Of(view).ListWindow(), LVM_GETITEMCOUNT, 0, 0));
        for (int row = 0; row < rows; ++row)
            texts.push_back(CellText(Of(view).ListWindow(), row, column));
        return texts;
    }

    // A click on a column header, as the user makes it.
    static void ClickHeader(IShellView* view, int column)
    {
        HWND list = Of(view).ListWindow();
        HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
        RECT rect = {};
        SendMessageA(header, HDM_GETITEMRECT, column, reinterpret_cast<LPARAM>(&rect));
        const LPARAM at = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
        SendMessageA(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageA(header, WM_LBUTTONUP, 0, at);
    }

    test::TestBrowser browser_;
    ComPtr<IShellFolder> root_;
    long objectsBefore_ = 0;
};

TEST_F(ViewTest, TheListHoldsThePeersItemsInEveryModeAndTheBarsFollowTheSelection)
{
    ComPtr<IShellView> view = Open(root_.Get());
    const auto rows = Rows(view.Get());
    ASSERT_EQ(rows.size(), 5u);
    for (int row = 0; row < int(rows.size()); ++row)
        for (size_t column = 0; column < kViewColumnCount; ++column)
            EXPECT_EQ(CellText(Of(view.Get()).ListWindow(), row, int(column)),
                      ColumnText(ItemIdView(rows[row]), column))
                << "row " << row << " column " << column;
    EXPECT_EQ(Column(view.Get(), 0),
              (std::vector<std::string> {"Data", "Work", "DF0", "kick.rom", "df0.adf"}));
    EXPECT_EQ(browser_.StatusText(0), "5 object(s)");

    const DWORD styles[] = {LVS_ICON, LVS_SMALLICON, LVS_LIST, LVS_REPORT};
    for (UINT mode = FVM_ICON; mode <= FVM_DETAILS; ++mode) {
        EXPECT_EQ(SendMessageA(GetParent(Of(view.Get()).ListWindow()), WM_COMMAND, IDM_LARGE_ICONS + mode - 1, 0),
                  1);
        HWND list = Of(view.Get()).ListWindow();
        EXPECT_EQ(DWORD(GetWindowLongPtrA(list, GWL_STYLE)) & LVS_TYPEMASK, styles[mode - 1]);
        EXPECT_EQ(SendMessageA(browser_.toolbar, TB_ISBUTTONCHECKED, IDM_LARGE_ICONS + mode - 1, 0), 1);
        EXPECT_EQ(Rows(view.Get()), rows) << "mode " << mode;
        FOLDERSETTINGS settings = {};
        view->GetCurrentInfo(&settings);
        EXPECT_EQ(settings.ViewMode, mode);
    }

    // The status bar and the toolbar follow the selection.
    view->UIActivate(SVUIA_ACTIVATE_FOCUS);
    HWND list = Of(view.Get()).ListWindow();
    // Which of Cut, Copy, Paste, Delete and Properties the toolbar offers.
    auto offered = [&] {
        std::string buttons;
        for (const auto& [command, letter] : {std::pair {ViewCommand::Cut, 'X'},
                                              {ViewCommand::Copy, 'C'},
                                              {ViewCommand::Paste, 'V'},
                                              {ViewCommand::Delete, 'D'},
                                              {ViewCommand::Properties, 'P'}})
            if (SendMessageA(browser_.toolbar, TB_ISBUTTONENABLED, WPARAM(command), 0))
                buttons += letter;
        return buttons;
    };
    EXPECT_EQ(offered(), "V") << "nothing selected: only Paste";
    SelectNames(list, {"Work"});  // a volume: copied, not moved or deleted
    EXPECT_EQ(offered(), "CP");
    SelectNames(list, {"Work", "DF0"});
    EXPECT_EQ(offered(), "P") << "a drive without a disk cannot be copied";
    SelectNames(list, {"DF0"});
    EXPECT_EQ(browser_.StatusText(0), "1 object(s) selected");
    EXPECT_EQ(browser_.StatusText(1).rfind("Free Space: -, Capacity: ", 0), 0u)
        << browser_.StatusText(1);
    SelectNames(list, {"DF0", "df0.adf"});  // the ADF item, a file of 901120 bytes
    EXPECT_EQ(browser_.StatusText(0), "2 object(s) selected");
    EXPECT_EQ(browser_.StatusText(1), "880KB");
    view->DestroyViewWindow();

    ComPtr<IShellView> files = Open(Folder("Data").Get());
    files->UIActivate(SVUIA_ACTIVATE_FOCUS);
    SelectNames(Of(files.Get()).ListWindow(), {"notes.txt"});
    EXPECT_EQ(offered(), "XCDP") << "a file can go every way";
    files->DestroyViewWindow();

    ComPtr<IShellView> drawers = Open(Folder("Work").Get(), FVM_DETAILS, FWF_NOSUBFOLDERS);
    EXPECT_EQ(Column(drawers.Get(), 0),
              (std::vector<std::string> {"big.bin", "empty.txt", "readme.txt"}));
    drawers->DestroyViewWindow();
}

TEST_F(ViewTest, HeaderClicksSortDrawersFirstAndTheSavedStateRestoresOnlyOurOwnRecord)
{
    ComPtr<IShellFolder> work = Folder("Work");
    ComPtr<IShellView> view = Open(work.Get());
    // Shown by name, ascending: a click on Name reverses, any other column starts ascending.
    // Drawers come first whatever the column, and last when descending.
    for (int column = 0; column < 6; ++column) {
        for (bool descending : {column == 0, column != 0}) {
            ClickHeader(view.Get(), column);
            EXPECT_EQ(Of(view.Get()).SortColumn(), UINT(column));
            EXPECT_EQ(Of(view.Get()).SortDescending(), descending);
            const auto rows = Rows(view.Get());
            for (size_t i = 1; i < rows.size(); ++i) {
                const int order = CompareItemIds(column, rows[i - 1], rows[i]);
                EXPECT_TRUE(descending ? order >= 0 : order <= 0)
                    << "column " << column << " row " << i;
            }
            std::vector<std::string> names = Column(view.Get(), 0);
            if (descending)
                std::reverse(names.begin(), names.end());
            EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 2),
                      (std::vector<std::string> {"Devs", "Docs"}))
                << "column " << column;
            if (column < 2) {
                EXPECT_EQ(names.back(), column == 0 ? "readme.txt" : "big.bin");
            }
        }
    }

    // The widths and the sort saved come back.
    HWND list = Of(view.Get()).ListWindow();
    SendMessageA(list, LVM_SETCOLUMNWIDTH, 1, 77);
    SendMessageA(list, LVM_SETCOLUMNWIDTH, 5, 0);
    Of(view.Get()).SetSort(3, true);
    ASSERT_EQ(view->SaveViewState(), S_OK);
    browser_.KeepWritten();
    view->DestroyViewWindow();
    ASSERT_EQ(browser_.saved.size(), 44u);
    EXPECT_EQ(browser_.saved[42] | browser_.saved[43] << 8, 88) << "a hidden column comes back";

    view = Open(work.Get());
    EXPECT_EQ(Of(view.Get()).SortColumn(), 3u);
    EXPECT_TRUE(Of(view.Get()).SortDescending());
    EXPECT_EQ(SendMessageA(Of(view.Get()).ListWindow(), LVM_GETCOLUMNWIDTH, 1, 0), 77);
    // Ascending on another column comes back ascending.
    Of(view.Get()).SetSort(2, false);
    ASSERT_EQ(view->SaveViewState(), S_OK);
    browser_.KeepWritten();
    view->DestroyViewWindow();
    view = Open(work.Get());
    EXPECT_EQ(Of(view.Get()).SortColumn(), 2u);
    EXPECT_FALSE(Of(view.Get()).SortDescending());
    view->DestroyViewWindow();

    // Another extension's record is ignored.
    browser_.saved[0] ^= 1;
    ComPtr<IShellView> other = Open(work.Get());
    EXPECT_EQ(Of(other.Get()).SortColumn(), 0u);
    EXPECT_EQ(SendMessageA(Of(other.Get()).ListWindow(), LVM_GETCOLUMNWIDTH, 1, 0), 50);
    other->DestroyViewWindow();
}

TEST_F(ViewTest, RefreshShowsNewItemsAndDestroyingTheViewFreesEveryRow)
{
    test::AllocationSpy& spy = test::AllocationSpy::Installed();
    ComPtr<IShellFolder> data = Folder("Data");
    std::string host = test::PeerHostPath("data/new0.txt");
    // One cycle leaves what the system keeps for good; a second must leave nothing more.
    long afterFirst = 0;
    for (int cycle = 0; cycle < 2; ++cycle) {
        ComPtr<IShellView> first = Open(data.Get());
        first->UIActivate(SVUIA_ACTIVATE_NOFOCUS);
        ComPtr<IShellView> second = Open(data.Get());
        const size_t before = Rows(second.Get()).size();
        host[host.size() - 5] = char('0' + cycle);
        std::ofstream(host) << "new";
        EXPECT_EQ(first->Refresh(), S_OK);
        // Both views of the folder follow its new listing.
        EXPECT_EQ(Rows(first.Get()).size(), before + 1);
        EXPECT_EQ(Rows(second.Get()).size(), before + 1);
        EXPECT_EQ(browser_.StatusText(0), std::to_string(before + 1) + " object(s)");
        first->DestroyViewWindow();
        second->DestroyViewWindow();
        // The folder's own listing grows by the new file.
        const long listed = long(static_cast<AmigaFolder*>(data.Get())->Items().Count());
        if (cycle == 0)
            afterFirst = spy.outstanding - listed;
        else
            EXPECT_EQ(spy.outstanding - listed, afterFirst) << "identifiers outlived their rows";
    }
    data.Reset();
    CoRevokeMallocSpy();
}

TEST(StatusTexts, DrivesShowTheirSpaceAndDrawersAddNothing)
{
    const auto space = [](uint32_t free, uint32_t capacity) {
        return "Free Space: " + SizeText(free, true, 0) + ", Capacity: " + SizeText(capacity, true, 0);
    };
    // A server may report more in use than the capacity.
    const struct {
        ItemKind kind;
        uint32_t size, used;
        std::string shown;
    } cases[] = {{ItemKind::Volume, 1000, 400, space(600, 1000)},
                 {ItemKind::Floppy, 1000, 4000, space(0, 1000)},
                 {ItemKind::Drawer, 5000, 0, ""}};
    for (const auto& c : cases) {
        const UniqueIdList item(MakeItemId("", "DH0:Work", c.kind, c.size, c.used, 0, {}, ""));
        const StatusTexts texts = MakeStatusTexts({item.get()}, true);
        EXPECT_EQ(texts.count, "1 object(s) selected");
        EXPECT_EQ(texts.size, c.shown);
    }
}

TEST_F(ViewTest, RenamingInPlaceKeepsTheKeysInTheBoxAndRefusesNamesThatWouldMoveTheItem)
{
    ComPtr<IShellView> view = Open(Folder("Data").Get());
    HWND list = Of(view.Get()).ListWindow();
    ASSERT_EQ(Column(view.Get(), 0), (std::vector<std::string> {"notes.txt"}));
    SelectNames(list, {"notes.txt"});
    const std::string host = test::PeerHostPath("data/notes.txt");
    auto edit = [&](const char* text, UINT key) {
        EXPECT_TRUE(Of(view.Get()).Command(UINT(ViewCommand::Rename)));
        HWND box = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETEDITCONTROL, 0, 0));
        EXPECT_TRUE(box) << "no edit box";
        if (!box)
            return;
        // Delete and Ctrl+C typed in the box stay in the box.
        MSG remove = {box, WM_KEYDOWN, VK_DELETE, 0};
        EXPECT_EQ(view->TranslateAccelerator(&remove), S_OK);
        BYTE keys[256] = {};
        GetKeyboardState(keys);
        keys[VK_CONTROL] = 0x80;
        SetKeyboardState(keys);
        MSG copy = {box, WM_KEYDOWN, 'C', 0};
        EXPECT_EQ(view->TranslateAccelerator(&copy), S_OK);
        keys[VK_CONTROL] = 0;
        SetKeyboardState(keys);
        SetWindowTextA(box, text);
        SendMessageA(box, WM_KEYDOWN, key, 0);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
    };

    std::string refusal;
    {
        test::DialogDriver driver([&](HWND box) {
            for (const std::string& text : test::StaticTexts(box))
                refusal += text;
            test::PressButton(box, IDOK);
        });
        edit("Work:elsewhere", VK_RETURN);
    }
    EXPECT_NE(refusal.find("cannot be empty or contain"), std::string::npos) << refusal;
    edit("renamed.txt", VK_ESCAPE);
    EXPECT_TRUE(std::filesystem::exists(host)) << "the item went although nothing was renamed";
    EXPECT_FALSE(IsClipboardFormatAvailable(RegisterClipboardFormatA("FileGroupDescriptor")))
        << "Ctrl+C in the box copied the item";

    edit("renamed.txt", VK_RETURN);
    EXPECT_FALSE(std::filesystem::exists(host));
    EXPECT_TRUE(std::filesystem::exists(test::PeerHostPath("data/renamed.txt")));
    EXPECT_EQ(Column(view.Get(), 0), (std::vector<std::string> {"renamed.txt"}));
    view->DestroyViewWindow();
}

// While it lives, text files have a program on the PC, as on any Windows.
class TextFilesOpenOnThePc {
public:
    TextFilesOpenOnThePc()
    {
        char value[80];
        LONG size = sizeof value;
        added_ = RegQueryValueA(HKEY_CLASSES_ROOT, ".txt", value, &size) != ERROR_SUCCESS &&
                 RegSetValueA(HKEY_CLASSES_ROOT, ".txt", REG_SZ, "txtfile", 7) == ERROR_SUCCESS;
    }
    ~TextFilesOpenOnThePc()
    {
        if (added_)
            RegDeleteKeyA(HKEY_CLASSES_ROOT, ".txt");
    }

private:
    bool added_ = false;
};

TEST_F(ViewTest, ItemMenusOfferWhatTheSelectionAllowsAndTheirVerbsRunTheViewsCommands)
{
    TextFilesOpenOnThePc textFiles;
    // What the right click on the selection shows.
    auto menuOf = [&](IShellView* view, std::initializer_list<const char*> names,
                      bool defaultOnly = false) {
        SelectNames(Of(view).ListWindow(), names);
        HMENU popup = CreatePopupMenu();
        const std::string shown = Of(view).BuildItemMenu(popup, defaultOnly)
                                      ? test::TestBrowser::Describe(popup)
                                      : "no menu";
        Of(view).EndItemMenu();
        DestroyMenu(popup);
        return shown;
    };
    ComPtr<IShellView> root = Open(root_.Get());
    EXPECT_EQ(menuOf(root.Get(), {"Work"}),
              "Open^|Explore|-|Copy|-|Rename|-|Properties");
    EXPECT_EQ(menuOf(root.Get(), {"kick.rom"}), "Copy|-|Properties");
    const std::string drive = menuOf(root.Get(), {"DF0"});
    EXPECT_EQ(drive, "Format...|-|Properties");
    EXPECT_EQ(menuOf(root.Get(), {"Work", "kick.rom"}), "Copy|-|Properties");
    // Nor does their verb by name, as another program asks for it, cut them.
    std::vector<const ITEMIDLIST*> chosen;
    ASSERT_EQ(Of(root.Get()).SelectedItems(SVGIO_SELECTION, chosen), S_OK);
    ComPtr<IContextMenu> rootMenu;
    ASSERT_EQ(root_->GetUIObjectOf(nullptr, UINT(chosen.size()), chosen.data(), IID_IContextMenu,
                                   nullptr, reinterpret_cast<void**>(rootMenu.GetAddressOf())),
              S_OK);
    CMINVOKECOMMANDINFO cut = {sizeof cut};
    cut.lpVerb = "cut";
    EXPECT_EQ(rootMenu->InvokeCommand(&cut), E_INVALIDARG);
    rootMenu.Reset();
    root->DestroyViewWindow();

    ComPtr<IShellFolder> work = Folder("Work");
    ComPtr<IShellView> view = Open(work.Get());
    HWND list = Of(view.Get()).ListWindow();
    EXPECT_EQ(menuOf(view.Get(), {"Devs"}),
              "Open^|Explore|-|Cut|Copy|-|Delete|Rename|-|Properties");
    EXPECT_EQ(menuOf(view.Get(), {"Devs"}, true), "Open^|-|Cut|Copy");
    EXPECT_EQ(menuOf(view.Get(), {"readme.txt"}),
              "Open^|-|Cut|Copy|-|Delete|Rename|-|Properties")
        << "a text file opens in its PC program";
    EXPECT_EQ(menuOf(view.Get(), {"big.bin"}), "Cut|Copy|-|Delete|Rename|-|Properties");
    EXPECT_EQ(menuOf(view.Get(), {"readme.txt", "big.bin"}), "Cut|Copy|-|Delete|-|Properties");

    // Rename edits the item chosen, even when a sort moved its row before the box opens.
    SelectNames(list, {"readme.txt"});
    const int byName = RowOf(list, "readme.txt");
    ClickHeader(view.Get(), 1);
    ASSERT_NE(RowOf(list, "readme.txt"), byName) << "the sort did not move the row";
    Of(view.Get()).Command(UINT(ViewCommand::Rename));
    HWND editBox = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETEDITCONTROL, 0, 0));
    ASSERT_TRUE(editBox);
    EXPECT_EQ(test::WindowText(editBox), "readme.txt");
    SendMessageA(editBox, WM_KEYDOWN, VK_ESCAPE, 0);
    ClickHeader(view.Get(), 0);

    // A comment only the Amiga's own copy carries: a paste that uploads would lose it.
    const UniqueIdList commented = test::FindItem(work.Get(), "readme.txt");
    ASSERT_EQ(UpdateItemEverywhere(commented.get(), ItemIdView(commented.get()).Protection() & 0xFF,
                                   "carried by the Amiga"),
              S_OK);

    // Verbs by name, as another program asks for them.
    SelectNames(list, {"readme.txt"});
    std::vector<const ITEMIDLIST*> readme;
    ASSERT_EQ(Of(view.Get()).SelectedItems(SVGIO_SELECTION, readme), S_OK);
    ComPtr<IContextMenu> menu;
    ASSERT_EQ(work->GetUIObjectOf(nullptr, 1, readme.data(), IID_IContextMenu, nullptr,
                                  reinterpret_cast<void**>(menu.GetAddressOf())),
              S_OK);
    CMINVOKECOMMANDINFO invoke = {sizeof invoke};
    invoke.lpVerb = "FORMAT";
    EXPECT_EQ(menu->InvokeCommand(&invoke), E_INVALIDARG) << "a file cannot be formatted";
    invoke.lpVerb = "Copy";
    ASSERT_EQ(menu->InvokeCommand(&invoke), S_OK);
    EXPECT_TRUE(IsClipboardFormatAvailable(RegisterClipboardFormatA("FileGroupDescriptor")));
    HMENU scratch = CreatePopupMenu();
    ASSERT_EQ(menu->QueryContextMenu(scratch, 0, 10, 100, CMF_NORMAL), MAKE_HRESULT(0, 0, 9));
    char text[128] = {};
    EXPECT_EQ(menu->GetCommandString(0xFFFFFFFE, GCS_HELPTEXTA, nullptr, text, sizeof text), S_OK);
    EXPECT_STREQ(text, "Open");
    EXPECT_EQ(menu->GetCommandString(1, GCS_VERBA, nullptr, text, sizeof text), E_INVALIDARG)
        << "a separator has no verb";
    wchar_t wide[32] = {};
    EXPECT_EQ(menu->GetCommandString(8, GCS_VERBW, nullptr, reinterpret_cast<LPSTR>(wide), 32),
              S_OK);
    EXPECT_STREQ(wide, L"properties");
    EXPECT_EQ(menu->GetCommandString(9, GCS_VALIDATEA, nullptr, nullptr, 0), E_INVALIDARG);
    DestroyMenu(scratch);
    menu.Reset();

    // The clipboard now holds an Amiga file: the drawer's menu offers Paste, and its verb by
    // position pastes as the toolbar's Paste does.
    SelectNames(list, {"Docs"});
    scratch = CreatePopupMenu();
    ASSERT_TRUE(Of(view.Get()).BuildItemMenu(scratch, false));
    EXPECT_EQ(test::TestBrowser::Describe(scratch),
              "Open^|Explore|-|Cut|Copy|Paste|-|Delete|Rename|-|Properties");
    Of(view.Get()).RunItemMenuEntry(1 + 5);
    Of(view.Get()).EndItemMenu();
    DestroyMenu(scratch);
    const UniqueIdList pasted = test::FindItem(Folder("Work/Docs").Get(), "readme.txt");
    ASSERT_TRUE(pasted);
    EXPECT_EQ(ItemIdView(pasted.get()).Comment(), "carried by the Amiga");
    // Into a folder itself, through its parent; the namespace root takes nothing.
    const auto pasteInto = [](IShellFolder* folder) {
        return test::Of(folder).DoCommand(ViewCommand::Paste, 0, nullptr, nullptr);
    };
    EXPECT_EQ(pasteInto(Folder("Work/Devs/Keymaps").Get()), S_OK);
    EXPECT_TRUE(std::filesystem::exists(test::PeerHostPath("work/Devs/Keymaps/readme.txt")));
    EXPECT_EQ(pasteInto(test::AmigaRoot().Get()), E_FAIL);

    // Delete by position asks first; "Yes" deletes on the Amiga.
    SelectNames(list, {"big.bin"});
    scratch = CreatePopupMenu();
    ASSERT_TRUE(Of(view.Get()).BuildItemMenu(scratch, false));
    {
        test::DialogDriver driver([](HWND question) { test::PressButton(question, IDC_YES_NO_YES); });
        Of(view.Get()).RunItemMenuEntry(1 + 3);
    }
    Of(view.Get()).EndItemMenu();
    DestroyMenu(scratch);
    EXPECT_FALSE(std::filesystem::exists(test::PeerHostPath("work/big.bin")));

    // Delete from the toolbar: a refill posted from another thread while the question is up
    // frees the rows, yet what goes is the item that was selected, and nothing else.
    SelectNames(list, {"empty.txt"});
    test::AllocationSpy::Installed().poisonFreed = true;
    {
        test::DialogDriver driver([&](HWND question) {
            static_cast<AmigaFolder*>(work.Get())->Items().UpdateViews(ViewUpdate::Refill);
            Sleep(300);
            test::PressButton(question, IDC_YES_NO_YES);
        });
        Of(view.Get()).Command(UINT(ViewCommand::Delete));
        EXPECT_TRUE(driver.Found());
    }
    test::AllocationSpy::Installed().poisonFreed = false;
    EXPECT_FALSE(std::filesystem::exists(test::PeerHostPath("work/empty.txt")));
    for (const char* kept : {"work/readme.txt", "work/Devs", "work/Docs"})
        EXPECT_TRUE(std::filesystem::exists(test::PeerHostPath(kept))) << kept;
    view->DestroyViewWindow();
    OleSetClipboard(nullptr);
}

TEST_F(ViewTest, TheViewsMenusJoinTheBrowsersWhileActiveAndExplainThemselves)
{
    TextFilesOpenOnThePc textFiles;
    ComPtr<IShellView> root = Open(root_.Get());
    HMENU background = Of(root.Get()).BuildBackgroundMenu();
    ASSERT_TRUE(background);
    EXPECT_EQ(test::TestBrowser::Describe(GetSubMenu(background, 0)),
              "View|-|Arrange Icons|Refresh|-|Paste|-|New Folder*|-|Properties");
    EXPECT_EQ(test::TestBrowser::Describe(GetSubMenu(GetSubMenu(background, 0), 0)),
              "Large Icons|Small Icons|List|Details!");
    DestroyMenu(background);
    root->UIActivate(SVUIA_ACTIVATE_FOCUS);
    EXPECT_EQ(browser_.Entries(FCIDM_MENU_FILE), "Properties|-|Close");
    // A volume is copied, never moved.
    SelectNames(Of(root.Get()).ListWindow(), {"Work"});
    EXPECT_EQ(browser_.Entries(FCIDM_MENU_EDIT).substr(0, 17), "Undo|-|Cut*|Copy|");
    root->UIActivate(SVUIA_DEACTIVATE);
    EXPECT_EQ(browser_.menu, nullptr);
    root->DestroyViewWindow();

    ComPtr<IShellView> view = Open(Folder("Work").Get(), FVM_LIST);
    HWND list = Of(view.Get()).ListWindow();
    view->UIActivate(SVUIA_ACTIVATE_NOFOCUS);
    // Without the focus the clipboard commands are left out.
    EXPECT_EQ(browser_.Entries(FCIDM_MENU_FILE), "Close");
    EXPECT_EQ(browser_.Entries(FCIDM_MENU_EDIT), "Undo|-|Select All|Invert Selection");
    EXPECT_EQ(browser_.Entries(FCIDM_MENU_VIEW),
              "Toolbar|-|Large Icons|Small Icons|List!|Details|-|Arrange Icons|-|Options...");
    view->UIActivate(SVUIA_ACTIVATE_FOCUS);
    EXPECT_EQ(browser_.Entries(FCIDM_MENU_FILE), "New Folder|-|Properties|-|Close");
    EXPECT_EQ(browser_.Entries(FCIDM_MENU_EDIT),
              "Undo|-|Cut|Copy|Paste*|-|Select All|Invert Selection");

    // The merged View menu and the accelerators reach the same commands as the toolbar.
    HWND window = GetParent(list);
    SendMessageA(window, WM_COMMAND, IDM_DETAILS, 0);
    EXPECT_EQ(browser_.Entries(FCIDM_MENU_VIEW),
              "Toolbar|-|Large Icons|Small Icons|List|Details!|-|Arrange Icons|-|Options...");
    SendMessageA(window, WM_COMMAND, IDM_ARRANGE_BY_SIZE, 0);
    EXPECT_EQ(Of(view.Get()).SortColumn(), 1u);
    SendMessageA(window, WM_COMMAND, IDM_SELECT_ALL, 0);
    EXPECT_EQ(SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0), 5);
    EXPECT_EQ(browser_.Entries(FCIDM_MENU_EDIT),
              "Undo|-|Cut|Copy|Paste*|-|Select All|Invert Selection");
    SendMessageA(window, WM_COMMAND, IDM_INVERT_SELECTION, 0);
    EXPECT_EQ(SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0), 0);

    // With one file selected the File menu holds its commands, which run from there.
    SelectNames(list, {"empty.txt"});
    EXPECT_EQ(browser_.Entries(FCIDM_MENU_FILE),
              "Open|-|Cut|Copy|-|Delete|Rename|-|Properties|-|Close");
    HMENU file = GetSubMenu(browser_.menu, 0);
    const UINT rename = GetMenuItemID(file, 6);
    SendMessageA(window, WM_MENUSELECT, MAKEWPARAM(rename, MF_HILITE), LPARAM(file));
    EXPECT_EQ(browser_.statusText, "Renames the selected item.");
    SendMessageA(window, WM_MENUSELECT, MAKEWPARAM(IDM_INVERT_SELECTION, MF_HILITE), 0);
    EXPECT_EQ(browser_.statusText, "Reverses which items are selected and which are not.");
    SendMessageA(window, WM_COMMAND, rename, 0);
    HWND box = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETEDITCONTROL, 0, 0));
    ASSERT_TRUE(box) << "Rename from the File menu did not open the edit box";
    SendMessageA(box, WM_KEYDOWN, VK_ESCAPE, 0);

    // Commands of the browser's own go back to it.
    EXPECT_EQ(SendMessageA(window, WM_COMMAND, test::TestBrowser::kCloseCommand, 0), 0);
    MSG posted = {};
    EXPECT_TRUE(PeekMessageA(&posted, browser_.frame, WM_COMMAND, WM_COMMAND, PM_REMOVE));
    EXPECT_EQ(LOWORD(posted.wParam), test::TestBrowser::kCloseCommand);

    view->UIActivate(SVUIA_DEACTIVATE);
    view->DestroyViewWindow();
}

}  // namespace
}  // namespace dm
