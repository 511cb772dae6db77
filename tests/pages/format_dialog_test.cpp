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
        const HRESULT hr = ShowFormatDialog(device, nullptr);
        EXPECT_TRUE(driver.Found()) << "the dialog never showed";
        return hr;
    }

    // Answers each question of the format with the next of `buttons`; returns how many came.
    static int Answer(HWND dialog, std::vector<int> buttons)
    {
        int asked = 0;
        for (int button : buttons) {
            HWND question = nullptr;
            if (!WaitFor([&] { return (question = test::FindOwnedDialog(dialog)) != nullptr; }, 10s))
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
    EXPECT_EQ(Run(floppy.get(),
                  [&](HWND dialog) {
                      EXPECT_EQ(test::WindowText(dialog), "Format DF1");
                      EXPECT_EQ(test::WindowText(GetDlgItem(dialog, IDC_FORMAT_VOLUME)), "Blank");
                      EXPECT_EQ(test::WindowText(GetDlgItem(dialog, IDC_FORMAT_NEW_NAME)), "Empty");
                      for (const Row& row : rows) {
                          SetBox(dialog, IDC_FORMAT_DIR_CACHE, false);
                          SetBox(dialog, IDC_FORMAT_FFS, row.ffs);
                          SetBox(dialog, IDC_FORMAT_INTERNATIONAL, row.international);
                          SetBox(dialog, IDC_FORMAT_DIR_CACHE, row.cache);
                          EXPECT_EQ(ReadFormatChoice(dialog).dosType, row.dosType);
                          // The cache forces international mode, and gives the old state back.
                          EXPECT_FALSE(row.cache && Enabled(dialog, IDC_FORMAT_INTERNATIONAL));
                          SetBox(dialog, IDC_FORMAT_DIR_CACHE, false);
                          EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_FORMAT_INTERNATIONAL,
                                                        BM_GETCHECK, 0, 0) == BST_CHECKED,
                                    row.international);
                          EXPECT_TRUE(Enabled(dialog, IDC_FORMAT_INTERNATIONAL));
                      }
                      // "What's This?" on a right click inside the options' group box.
                      const auto helpShown = [] {
                          return test::FindOwnWindow("QuenzorTooltipWindowClass") != nullptr;
                      };
                      EXPECT_TRUE(test::RightClickFirstCommand(
                          GetDlgItem(dialog, IDC_FORMAT_QUICK), helpShown))
                          << "no help on a right click inside a group box";
                      // The name field takes no more than an Amiga volume name.
                      SetDlgItemTextA(dialog, IDC_FORMAT_NEW_NAME, "");
                      SendDlgItemMessageA(dialog, IDC_FORMAT_NEW_NAME, EM_REPLACESEL, FALSE,
                                          LPARAM("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"));
                      EXPECT_EQ(ReadFormatChoice(dialog).volumeName, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123");
                      test::PressButton(dialog, IDCANCEL);
                  }),
              kCancelled);
    EXPECT_TRUE(fs::exists(test::PeerHostPath("blank/old.txt")));

    // A drive without a medium and without the server's consent to choose a file system.
    const UniqueIdList empty = Drive("DF0:", ItemKind::Floppy, 0, 0xFFFFFFFF, 0);
    EXPECT_EQ(Run(empty.get(),
                  [&](HWND dialog) {
                      EXPECT_EQ(test::WindowText(GetDlgItem(dialog, IDC_FORMAT_DEVICE)), "DF0");
                      EXPECT_EQ(test::WindowText(GetDlgItem(dialog, IDC_FORMAT_VOLUME)), "");
                      EXPECT_EQ(test::WindowText(GetDlgItem(dialog, IDC_FORMAT_CAPACITY)), "");
                      std::vector<bool> enabled;
                      for (int id : {IDC_FORMAT_FFS, IDC_FORMAT_INTERNATIONAL,
                                     IDC_FORMAT_DIR_CACHE, IDC_FORMAT_BOOTABLE, IDC_FORMAT_QUICK,
                                     IDC_FORMAT_START})
                          enabled.push_back(Enabled(dialog, id));
                      EXPECT_EQ(enabled, (std::vector<bool> {false, false, false, false, true, true}));
                      test::PressButton(dialog, IDCANCEL);
                  }),
              kCancelled);

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
        EXPECT_EQ(Run(partition.get(),
                      [&](HWND dialog) {
                          SetBox(dialog, IDC_FORMAT_QUICK, true);
                          test::PressButton(dialog, IDC_FORMAT_START);
                          EXPECT_EQ(Answer(dialog, {IDC_CONFIRM_YES, IDC_YES_NO_NO}), 2);
                          EXPECT_TRUE(WaitFor([&] { return Enabled(dialog, IDC_FORMAT_START); }));
                          test::PressButton(dialog, IDCANCEL);
                      }),
                  kCancelled);
        EXPECT_TRUE(fs::exists(test::PeerHostPath("data/notes.txt")));
    }

    // A floppy asks once (the steps begin only when no question is left). A full format steps
    // the bar; Cancel stops it and the dialog is the user's again; a quick format then runs to
    // its end and closes the dialog.
    const UniqueIdList floppy = Drive("DF1:Blank", ItemKind::Floppy, 901120, 1024,
                                      item_id::kFileSystemChoice | item_id::kFormattable);
    EXPECT_EQ(Run(floppy.get(),
                  [&](HWND dialog) {
                      SetDlgItemTextA(dialog, IDC_FORMAT_NEW_NAME, "Fresh");
                      test::PressButton(dialog, IDC_FORMAT_START);
                      EXPECT_EQ(Answer(dialog, {IDC_CONFIRM_YES}), 1);
                      HWND bar = GetDlgItem(dialog, IDC_FORMAT_PROGRESS);
                      EXPECT_TRUE(WaitFor([&] { return SendMessageA(bar, PBM_GETPOS, 0, 0) >= 2; }));
                      EXPECT_FALSE(Enabled(dialog, IDC_FORMAT_START));
                      EXPECT_FALSE(Enabled(dialog, IDC_FORMAT_NEW_NAME));
                      EXPECT_TRUE(Enabled(dialog, IDCANCEL));
                      test::PressButton(dialog, IDCANCEL);
                      EXPECT_TRUE(WaitFor([&] {
                          return Enabled(dialog, IDC_FORMAT_START) &&
                                 SendMessageA(bar, PBM_GETPOS, 0, 0) == 0;
                      }));
                      EXPECT_TRUE(IsWindowVisible(dialog)) << "a stopped format closed the dialog";
                      SetBox(dialog, IDC_FORMAT_QUICK, true);
                      test::PressButton(dialog, IDC_FORMAT_START);
                      EXPECT_EQ(Answer(dialog, {IDC_CONFIRM_YES}), 1);
                  }),
              S_OK);
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
