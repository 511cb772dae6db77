#include "core/progress_dialog.h"

#include "core/live_objects.h"
#include "core/module.h"
#include "resources/resource_ids.h"
#include "resources/string_ids.h"
#include "support/dialog_driver.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace dm {
namespace {

using Clock = std::chrono::steady_clock;

LRESULT BarPosition(const ProgressDialog& progress)
{
    return SendDlgItemMessageA(progress.Window(), IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0);
}

TEST(ProgressWindow, OpensWithinHalfASecondOnItsOwnThreadAndItsBarSpansItsWholeRange)
{
    const long liveBefore = ModuleCounts::Objects();
    HWND window = nullptr;
    {
        ProgressDialog progress(ProgressDialog::Mode::OwnWindow);
        EXPECT_EQ(ModuleCounts::Objects(), liveBefore + 1);
        const auto start = Clock::now();
        ASSERT_TRUE(progress.Start(IDS_PROGRESS_COPYING, IDA_COPY_TO_PC, 4));
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
        EXPECT_TRUE(progress.IsRunning());
        EXPECT_FALSE(progress.UsesShellDialog());
        EXPECT_NE(progress.WindowThreadId(), GetCurrentThreadId());

        window = test::FindDialog(progress.WindowThreadId());
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window, progress.Window());
        EXPECT_EQ(test::WindowText(window), "Copying...");
        EXPECT_EQ(test::WindowText(GetDlgItem(window, IDC_PROGRESS_TEXT)), "");
        // Playing fails when no clip could be opened.
        EXPECT_TRUE(SendDlgItemMessageA(window, IDC_PROGRESS_ANIMATION, ACM_PLAY, WPARAM(-1),
                                        MAKELPARAM(0, 0xFFFF)));

        progress.SetText("DH0:Work/readme.txt");
        EXPECT_EQ(test::WindowText(GetDlgItem(window, IDC_PROGRESS_TEXT)), "DH0:Work/readme.txt");
        // A path far wider than the line is shortened with an ellipsis.
        const std::string deep = "DH0:" + std::string(40, 'a') + "/" + std::string(40, 'b') + "/" +
                                 std::string(40, 'c') + "/readme.txt";
        progress.SetText(deep);
        const std::string shown = test::WindowText(GetDlgItem(window, IDC_PROGRESS_TEXT));
        EXPECT_LT(shown.size(), deep.size());
        EXPECT_NE(shown.find("..."), std::string::npos) << shown;

        // The bar spans its whole range whatever the total, and stays empty for none.
        EXPECT_EQ(SendDlgItemMessageA(window, IDC_PROGRESS_BAR, PBM_GETRANGE, FALSE, 0), 32000);
        EXPECT_EQ(BarPosition(progress), 0);
        progress.Step();
        EXPECT_EQ(BarPosition(progress), 8000);
        // Positions in quick succession may show as one; a later one shows.
        std::this_thread::sleep_for(2 * ProgressDialog::kPositionInterval);
        progress.SetPosition(3);
        EXPECT_EQ(BarPosition(progress), 24000);
        progress.SetPosition(9);  // more steps than announced, and the end shows at once
        EXPECT_EQ(BarPosition(progress), 32000);
        progress.Restart(IDS_PROGRESS_DELETING, IDA_DELETE, 0);
        EXPECT_EQ(test::WindowText(progress.Window()), "Deleting...");
        EXPECT_EQ(BarPosition(progress), 0);
        progress.Step();
        progress.SetPosition(5);
        EXPECT_EQ(BarPosition(progress), 0);
        EXPECT_TRUE(SendDlgItemMessageA(progress.Window(), IDC_PROGRESS_ANIMATION, ACM_PLAY,
                                        WPARAM(-1), MAKELPARAM(0, 0xFFFF)));
        progress.Restart(IDS_PROGRESS_DELETING, IDA_DELETE, 3);
        std::this_thread::sleep_for(2 * ProgressDialog::kPositionInterval);
        progress.Step();
        EXPECT_EQ(BarPosition(progress), 10666);

        progress.Stop();
        EXPECT_FALSE(progress.IsRunning());
        EXPECT_FALSE(IsWindow(window));
        EXPECT_EQ(progress.Window(), nullptr);
        progress.Stop();
        EXPECT_FALSE(progress.IsCancelled());
    }
    EXPECT_EQ(ModuleCounts::Objects(), liveBefore);

    // Not shown at all: everything is harmless and nothing is cancelled.
    ProgressDialog absent(ProgressDialog::Mode::OwnWindow);
    EXPECT_FALSE(absent.Start(9999, IDA_DELETE, 3));
    absent.Step();
    absent.SetText("x");
    absent.Restart(IDS_PROGRESS_COPYING, IDA_COPY_TO_PC, 0);
    EXPECT_FALSE(absent.IsRunning());
    EXPECT_FALSE(absent.IsCancelled());
    absent.Stop();
    absent.Stop();
}

TEST(ProgressWindow, CancelIsSeenWhileTheCallerIsBusyAndTheWindowStaysUntilStopped)
{
    for (const bool escape : {false, true}) {
        SCOPED_TRACE(escape ? "Escape" : "Cancel button");
        ProgressDialog progress(ProgressDialog::Mode::OwnWindow);
        ASSERT_TRUE(progress.Start(IDS_PROGRESS_COPYING, IDA_COPY_TO_AMIGA, 100));
        const DWORD uiThread = progress.WindowThreadId();
        std::thread user([uiThread, escape] {
            Sleep(100);
            if (HWND dialog = test::FindDialog(uiThread)) {
                if (escape)
                    test::PressEscape(dialog);
                else
                    test::PressButton(dialog, IDCANCEL);
            }
        });
        // Busy with the link: no messages pumped on this thread.
        const auto end = Clock::now() + std::chrono::seconds(5);
        while (!progress.IsCancelled() && Clock::now() < end) {
            progress.Step();
            Sleep(10);
        }
        user.join();
        EXPECT_TRUE(progress.IsCancelled());
        EXPECT_TRUE(progress.IsRunning());
        EXPECT_TRUE(IsWindowVisible(progress.Window()));
        progress.Stop();
        EXPECT_TRUE(progress.IsCancelled());
        EXPECT_FALSE(progress.IsRunning());
    }
}

TEST(ProgressAnimations, EveryClipOpensInTheAnimationControl)
{
    INITCOMMONCONTROLSEX controls {sizeof controls, ICC_ANIMATE_CLASS};
    InitCommonControlsEx(&controls);
    HWND animation = CreateWindowExA(0, ANIMATE_CLASSA, "", WS_POPUP | ACS_TRANSPARENT, 0, 0, 300,
                                     60, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(animation, nullptr);
    for (UINT id : {IDA_COPY_TO_PC, IDA_COPY_TO_AMIGA, IDA_DELETE, IDA_COPY_ON_AMIGA}) {
        SCOPED_TRACE(id);
        EXPECT_TRUE(
            SendMessageA(animation, ACM_OPENA, WPARAM(ThisModule()), LPARAM(MAKEINTRESOURCEA(id))));
        // Stepping through every frame decodes each of them.
        EXPECT_TRUE(SendMessageA(animation, ACM_PLAY, 1, MAKELPARAM(0, 11)));
        EXPECT_TRUE(SendMessageA(animation, ACM_STOP, 0, 0));
    }
    EXPECT_FALSE(SendMessageA(animation, ACM_OPENA, WPARAM(ThisModule()),
                              LPARAM(MAKEINTRESOURCEA(IDA_COPY_ON_AMIGA + 1))));
    DestroyWindow(animation);
}

TEST(ProgressShellDialog, UsedWhenTheSystemOffersItAndItsCancelOutlivesStop)
{
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    {
        ProgressDialog progress;
        ASSERT_TRUE(progress.Start(IDS_PROGRESS_COPYING, IDA_COPY_TO_PC, 0));
        const bool shell = progress.UsesShellDialog();
        std::printf("The shell's progress dialog is %s\n", shell ? "offered" : "not offered");
        EXPECT_NE(progress.IsRunning(), shell);
        if (shell) {
            progress.Step();
            progress.SetText("DH0:Work/readme.txt");
            progress.Restart(IDS_PROGRESS_MOVING, IDA_COPY_ON_AMIGA, 5);
            progress.SetPosition(2);
            EXPECT_FALSE(progress.IsCancelled());
            // The shell's window lives on a thread of its own too.
            HWND window = nullptr;
            for (int i = 0; i < 100 && !(window = FindWindowA(nullptr, "Moving...")); ++i)
                Sleep(10);
            ASSERT_NE(window, nullptr);
            test::PressButton(window, IDCANCEL);
            for (int i = 0; i < 100 && !progress.IsCancelled(); ++i)
                Sleep(10);
            EXPECT_TRUE(progress.IsCancelled());
        }
        progress.Stop();
        EXPECT_EQ(progress.IsCancelled(), shell);
        EXPECT_FALSE(progress.UsesShellDialog());
        EXPECT_FALSE(progress.IsRunning());
        progress.Stop();
    }
    CoUninitialize();
}

}  // namespace
}  // namespace dm
