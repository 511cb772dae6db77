// The Format dialog against the emulated Amiga (tools/with-peer --transfer-tree, DH1 formattable,
// format steps slowed down): run on the test's thread as the folder runs it, and used from a
// helper thread as a user would.
#include "module/ui_objects.h"
#include "resources/resource_ids.h"
#include "shell/amiga_folder.h"
#include "shell/item_id.h"
#include "support/dialog_driver.h"
#include "support/test_files.h"
#include "support/test_peer.h"
#include "pages/format_dialog.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

namespace fs = std::filesystem;

namespace dm {
namespace {

using namespace std::chrono_literals;
using test::WaitFor;

bool Enabled(HWND dialog, int id)
{
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

struct OwnedSearch {
    HWND owner;
    HWND found;
};

BOOL CALLBACK RememberOwned(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<OwnedSearch*>(context);
    char name[16] = {};
    GetClassNameA(window, name, sizeof name);
    if (IsWindowVisible(window) && GetWindow(window, GW_OWNER) == search->owner &&
        std::string(name) == "#32770") {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// A visible dialog owned by `owner`, whichever thread shows it (the worker asks the questions).
HWND OwnedDialog(HWND owner)
{
    OwnedSearch search {owner, nullptr};
    EnumWindows(RememberOwned, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Clicks a check box until it shows `on`, as the user would (the coupling runs on each click).
void SetBox(HWND dialog, int id, bool on)
{
    HWND box = GetDlgItem(dialog, id);
    if ((SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED) != on)
        SendMessageA(box, BM_CLICK, 0, 0);
}

class FormatDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::UseTestPeer() ||
            !(std::getenv("DROVEMARK_TEST_PEER_ARGS") || test::PeerServesDiskImages()))
            GTEST_SKIP() << "runs under tools/with-peer --transfer-tree with DH1 formattable";
        RegisterUiObjects();
    }

    // Runs the dialog of `device` here while `user` works it from another thread.
    static HRESULT Run(const ITEMIDLIST* device, const std::function<void(HWND)>& user)
    {
        test::DialogDriver driver(user);
        return ShowFormatDialog(device, nullptr);
    }

    // Answers each question of the format with the next of `buttons`; returns how many came.
    static int Answer(HWND dialog, std::vector<int> buttons)
    {
        int asked = 0;
        for (int button : buttons) {
            HWND question = nullptr;
            if (!WaitFor([&] { return (question = OwnedDialog(dialog)) != nullptr; }, 10s))
                break;
            ++asked;
            test::PressButton(question, button);
            WaitFor([&] { return !IsWindow(question); }, 5s);
        }
        return asked;
    }

    static UniqueIdList Drive(const char* name, ItemKind kind, uint32_t size, uint32_t used,
                              uint32_t protection)
    {
        return UniqueIdList(MakeItemId("", name, kind, size, used, protection, {}, ""));
    }
};

TEST_F(FormatDialogTest, TheBoxesGiveEveryDosTypeAndOnlyWhatTheServerAllows)
{
    const UniqueIdList floppy =
        Drive("DF1:Blank", ItemKind::Floppy, 901120, 1024, item_id::kFileSystemChoice);
    struct Row {
        bool ffs, international, cache;
        uint32_t dosType;
    };
    const Row rows[] = {
        {false, false, false, 0x444F5300}, {true, false, false, 0x444F5301},
        {false, true, false, 0x444F5302},  {true, true, false, 0x444F5303},
        {false, false, true, 0x444F5304},  {false, true, true, 0x444F5304},
        {true, false, true, 0x444F5305},   {true, true, true, 0x444F5305},
    };
    std::string title, volume, name;
    std::vector<uint32_t> types;
    bool coupled = true, helped = false;
    EXPECT_EQ(Run(floppy.get(),
                  [&](HWND dialog) {
                      title = test::WindowText(dialog);
                      volume = test::WindowText(GetDlgItem(dialog, IDC_FORMAT_VOLUME));
                      name = test::WindowText(GetDlgItem(dialog, IDC_FORMAT_NEW_NAME));
                      for (const Row& row : rows) {
                          SetBox(dialog, IDC_FORMAT_DIR_CACHE, false);
                          SetBox(dialog, IDC_FORMAT_FFS, row.ffs);
                          SetBox(dialog, IDC_FORMAT_INTERNATIONAL, row.international);
                          SetBox(dialog, IDC_FORMAT_DIR_CACHE, row.cache);
                          types.push_back(ReadFormatChoice(dialog).dosType);
                          // The cache forces international mode, and gives the old state back.
                          if (row.cache && Enabled(dialog, IDC_FORMAT_INTERNATIONAL))
                              coupled = false;
                          SetBox(dialog, IDC_FORMAT_DIR_CACHE, false);
                          const bool shown = SendDlgItemMessageA(dialog, IDC_FORMAT_INTERNATIONAL,
                                                                 BM_GETCHECK, 0, 0) == BST_CHECKED;
                          if (shown != row.international ||
                              !Enabled(dialog, IDC_FORMAT_INTERNATIONAL))
                              coupled = false;
                      }
                      // "What's This?" on a right click inside the options' group box.
                      helped = test::RightClickFirstCommand(GetDlgItem(dialog, IDC_FORMAT_QUICK));
                      HWND help = nullptr;
                      for (int i = 0; helped && !help && i < 150; ++i, Sleep(20))
                          help = FindWindowA("QuenzorTooltipWindowClass", nullptr);
                      helped = help && IsWindowVisible(help);
                      // The name field takes no more than an Amiga volume name.
                      SetDlgItemTextA(dialog, IDC_FORMAT_NEW_NAME, "");
                      SendDlgItemMessageA(dialog, IDC_FORMAT_NEW_NAME, EM_REPLACESEL, FALSE,
                                          LPARAM("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"));
                      if (ReadFormatChoice(dialog).volumeName != "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123")
                          coupled = false;
                      test::PressButton(dialog, IDCANCEL);
                  }),
              kCancelled);
    EXPECT_EQ(title, "Format DF1");
    EXPECT_EQ(volume, "Blank");
    EXPECT_EQ(name, "Empty");
    ASSERT_EQ(types.size(), std::size(rows));
    for (size_t i = 0; i < types.size(); ++i)
        EXPECT_EQ(types[i], rows[i].dosType) << "row " << i;
    EXPECT_TRUE(coupled);
    EXPECT_TRUE(helped) << "no help on a right click inside a group box";
    EXPECT_TRUE(fs::exists(test::PeerHostPath("blank/old.txt")));

    // A drive without a medium and without the server's consent to choose a file system.
    const UniqueIdList empty = Drive("DF0:", ItemKind::Floppy, 0, 0xFFFFFFFF, 0);
    std::vector<bool> enabled;
    std::string device, shownVolume, capacity;
    EXPECT_EQ(Run(empty.get(),
                  [&](HWND dialog) {
                      device = test::WindowText(GetDlgItem(dialog, IDC_FORMAT_DEVICE));
                      shownVolume = test::WindowText(GetDlgItem(dialog, IDC_FORMAT_VOLUME));
                      capacity = test::WindowText(GetDlgItem(dialog, IDC_FORMAT_CAPACITY));
                      for (int id : {IDC_FORMAT_FFS, IDC_FORMAT_INTERNATIONAL,
                                     IDC_FORMAT_DIR_CACHE, IDC_FORMAT_BOOTABLE, IDC_FORMAT_QUICK,
                                     IDC_FORMAT_START})
                          enabled.push_back(Enabled(dialog, id));
                      test::PressButton(dialog, IDCANCEL);
                  }),
              kCancelled);
    EXPECT_EQ(device, "DF0");
    EXPECT_EQ(shownVolume, "");
    EXPECT_EQ(capacity, "");
    EXPECT_EQ(enabled, (std::vector<bool> {false, false, false, false, true, true}));

    // Only drives are formatted.
    const UniqueIdList file =
        UniqueIdList(MakeItemId("DH0:Work", "readme.txt", ItemKind::File, 12, 0, 0, {}, ""));
    EXPECT_EQ(ShowFormatDialog(file.get(), nullptr), E_INVALIDARG);
}

TEST_F(FormatDialogTest, QuestionsStepsStopAndAFinishedFormat)
{
    // The emulated Amiga's Data is a folder of the host's, with no device below it to format.
    if (!test::PeerServesDiskImages()) {
        // A large partition asks twice; declining the second writes nothing and keeps the dialog.
        const UniqueIdList partition = Drive("DH1:Data", ItemKind::Volume, 3000000, 1000000,
                                             item_id::kFileSystemChoice | item_id::kFormattable);
        int asked = 0;
        bool editable = false;
        EXPECT_EQ(Run(partition.get(),
                      [&](HWND dialog) {
                          SetBox(dialog, IDC_FORMAT_QUICK, true);
                          test::PressButton(dialog, IDC_FORMAT_START);
                          asked = Answer(dialog, {IDC_CONFIRM_YES, IDC_YES_NO_NO});
                          editable = WaitFor([&] { return Enabled(dialog, IDC_FORMAT_START); });
                          test::PressButton(dialog, IDCANCEL);
                      }),
                  kCancelled);
        EXPECT_EQ(asked, 2);
        EXPECT_TRUE(editable);
        EXPECT_TRUE(fs::exists(test::PeerHostPath("data/notes.txt")));
    }

    // A floppy asks once (the steps begin only when no question is left). A full format steps
    // the bar; Cancel stops it and the dialog is the user's again; a quick format then runs to
    // its end and closes the dialog.
    const UniqueIdList floppy = Drive("DF1:Blank", ItemKind::Floppy, 901120, 1024,
                                      item_id::kFileSystemChoice | item_id::kFormattable);
    int firstAsked = 0, secondAsked = 0;
    bool stepped = false, lockedWhileRunning = false, reset = false, keptOpen = false;
    EXPECT_EQ(Run(floppy.get(),
                  [&](HWND dialog) {
                      SetDlgItemTextA(dialog, IDC_FORMAT_NEW_NAME, "Fresh");
                      test::PressButton(dialog, IDC_FORMAT_START);
                      firstAsked = Answer(dialog, {IDC_CONFIRM_YES});
                      HWND bar = GetDlgItem(dialog, IDC_FORMAT_PROGRESS);
                      stepped = WaitFor([&] { return SendMessageA(bar, PBM_GETPOS, 0, 0) >= 2; });
                      lockedWhileRunning = !Enabled(dialog, IDC_FORMAT_START) &&
                                           !Enabled(dialog, IDC_FORMAT_NEW_NAME) &&
                                           Enabled(dialog, IDCANCEL);
                      test::PressButton(dialog, IDCANCEL);
                      reset = WaitFor([&] {
                          return Enabled(dialog, IDC_FORMAT_START) &&
                                 SendMessageA(bar, PBM_GETPOS, 0, 0) == 0;
                      });
                      keptOpen = IsWindowVisible(dialog) != FALSE;
                      SetBox(dialog, IDC_FORMAT_QUICK, true);
                      test::PressButton(dialog, IDC_FORMAT_START);
                      secondAsked = Answer(dialog, {IDC_CONFIRM_YES});
                  }),
              S_OK);
    EXPECT_EQ(firstAsked, 1);
    EXPECT_EQ(secondAsked, 1);
    EXPECT_TRUE(stepped);
    EXPECT_TRUE(lockedWhileRunning);
    EXPECT_TRUE(reset);
    EXPECT_TRUE(keptOpen);
    if (test::PeerServesDiskImages()) {
        // Where the disk is an image file on the host: the new root block's name.
        const std::string disk = test::ReadWholeFile(test::PeerHostPath("df1.adf"));
        EXPECT_EQ(disk.size() == 901120 ? disk.substr(880 * 512 + 432, 6) : "", "\x05" "Fresh");
    } else {
        EXPECT_FALSE(fs::exists(test::PeerHostPath("blank/old.txt")));
    }
}

}  // namespace
}  // namespace dm
