// The workers of long operations, against the emulated Amiga
// (tools/with-peer --transfer-tree): they run on their own threads, report what they do by
// thread messages, and stop when asked.
#include "module/ui_objects.h"
#include "shell/amiga_folder.h"
#include "shell/item_id.h"
#include "resources/resource_ids.h"
#include "support/dialog_driver.h"
#include "support/test_peer.h"
#include "transfer/operation_worker.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace dm {
namespace {

class WorkersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::UseTestPeer())
            GTEST_SKIP() << "runs under tools/with-peer --transfer-tree";
        RegisterUiObjects();
    }

    // Reads this thread's messages until `done` says so or half a minute passed.
    template <typename Done>
    static void Pump(Done done, const std::function<void(const MSG&)>& thread = {})
    {
        const DWORD giveUp = GetTickCount() + 30000;
        while (!done() && GetTickCount() < giveUp) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (!message.hwnd && thread)
                    thread(message);
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
        }
    }

    static UniqueIdList Drawer(const char* parent, const char* name)
    {
        return UniqueIdList(MakeItemId(parent, name, ItemKind::Drawer, 0, 0, 0, {}, ""));
    }
};

TEST_F(WorkersTest, CountingAddsUpEveryDrawerAndStopsPromptlyWhenAsked)
{
    const UniqueIdList tree = Drawer("DH0:Work", "Tree");
    const UniqueIdList cut = Drawer("DH0:Work", "Cut");
    const ITEMIDLIST* items[] = {tree.get(), cut.get()};
    CountStep totals;
    CountingWorker counter;
    ASSERT_TRUE(counter.Start({items[0], items[1]}, GetCurrentThreadId()));
    Pump([&] { return !counter.Running(); }, [&](const MSG& message) {
        if (std::unique_ptr<CountStep> step = TakeCountStep(message)) {
            totals.bytes += step->bytes;
            totals.drawers += step->drawers;
            totals.files += step->files;
        }
    });
    counter.Wait();
    EXPECT_EQ(counter.Result(), S_OK);
    EXPECT_EQ(totals.files, 6u + 2u);
    EXPECT_EQ(totals.drawers, 2u + 1u);
    EXPECT_EQ(totals.bytes, 12u + 1048576u + 6u + 5u + 5u + 6u + 5000u);

    // Stopped at once, it ends without waiting for the count, and posts nothing afterwards.
    const UniqueIdList work(MakeItemId("", "DH0:Work", ItemKind::Volume, 0, 0, 0, {}, ""));
    ASSERT_TRUE(counter.Start({work.get()}, GetCurrentThreadId()));
    counter.Stop();
    EXPECT_FALSE(counter.Running());
    MSG message;
    while (PeekMessageA(&message, reinterpret_cast<HWND>(-1), kMsgCounts, kMsgCounts, PM_REMOVE))
        TakeCountStep(message);
    EXPECT_FALSE(PeekMessageA(&message, reinterpret_cast<HWND>(-1), kMsgCounts, kMsgCounts,
                              PM_REMOVE));
}

TEST_F(WorkersTest, FormattingStepsTheBarReportsItsEndAndStopsAtTheNextStep)
{
    HWND bar = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_POPUP, 0, 0, 100, 10, nullptr, nullptr,
                               nullptr, nullptr);
    ASSERT_TRUE(bar);
    FormatJob job;
    job.device = RemoteItem {"", "DF1:Blank", ItemKind::Floppy};
    job.volumeName = "Fresh";
    job.quick = true;
    job.progressBar = bar;
    job.dialogThread = GetCurrentThreadId();
    HRESULT done = E_PENDING;
    auto finished = [&](const MSG& message) {
        if (message.message == kMsgFormatDone)
            done = HRESULT(message.lParam);
    };
    FormatWorker worker;
    ASSERT_TRUE(worker.Start(job));
    {
        // The server's question comes up on the worker's thread.
        test::DialogDriver yes([](HWND box) { test::PressButton(box, IDC_CONFIRM_YES); },
                               worker.ThreadId());
        Pump([&] { return done != E_PENDING; }, finished);
    }
    worker.Wait();
    EXPECT_EQ(done, S_OK);
    EXPECT_TRUE(worker.Formatted());
    const LRESULT steps = SendMessageA(bar, PBM_GETRANGE, FALSE, 0);
    EXPECT_GT(steps, 0);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), steps);
    EXPECT_FALSE(fs::exists(test::PeerHostPath("blank/old.txt")));

    // A full format stopped straight away ends early, and says it was stopped.
    job.quick = false;
    SendMessageA(bar, PBM_SETPOS, 0, 0);
    done = E_PENDING;
    ASSERT_TRUE(worker.Start(job));
    worker.RequestStop();
    {
        test::DialogDriver yes([](HWND box) { test::PressButton(box, IDC_CONFIRM_YES); },
                               worker.ThreadId());
        Pump([&] { return done != E_PENDING; }, finished);
    }
    worker.Wait();
    EXPECT_EQ(done, HRESULT_FROM_WIN32(ERROR_CANCELLED));
    EXPECT_LT(SendMessageA(bar, PBM_GETPOS, 0, 0), SendMessageA(bar, PBM_GETRANGE, FALSE, 0));
    DestroyWindow(bar);
}

}  // namespace
}  // namespace dm
