// Amiga files to the PC through the clipboard, against the emulated Amiga (tools/with-peer
// --transfer-tree): Copy and Cut pasted by another process, as Explorer pastes, and a file opened
// in its PC program.
#include "core/live_objects.h"
#include "module/ui_objects.h"
#include "resources/string_ids.h"
#include "shell/folder_cache.h"
#include "support/amiga_folders.h"
#include "support/dialog_driver.h"
#include "support/test_files.h"
#include "support/test_peer.h"
#include "transfer/clipboard.h"
#include "transfer/clipboard_formats.h"
#include "transfer/cut_set.h"
#include "transfer/open_with_pc_program.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

using Microsoft::WRL::ComPtr;
namespace fs = std::filesystem;

namespace dm {
namespace {

std::string ReadAll(const fs::path& path)
{
    return test::ReadWholeFile(path.string());
}

// Runs the paste target as its own process while this thread serves the clipboard's object.
// Wine's clipboard does not pass a target's report on to the source as Windows' does, so the
// report is handed to `source` here when the target could not deliver it. The effect reported.
int Paste(const fs::path& target, const std::string& options = {}, IDataObject* source = nullptr)
{
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string command = "\"" + (fs::path(self).parent_path() / "paste-target.exe").string() +
                          "\" \"" + target.string() + "\" " + options;
    STARTUPINFOA startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return -1;
    test::PumpUntil([&] { return WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0; },
                    std::chrono::seconds(45));
    DWORD code = DWORD(-1);
    if (WaitForSingleObject(process.hProcess, 0) != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, 99);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    if (code < 100 && (code & 16) && source) {
        SetDwordData(*source, Formats()->performedDropEffect, code & 15);
        SetDwordData(*source, Formats()->pasteSucceeded, code & 15);
    }
    return code < 100 ? int(code & 15) : int(code);
}

class ClipboardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::UseTestPeer())
            GTEST_SKIP() << "runs under tools/with-peer --transfer-tree";
        RegisterUiObjects();
        OleInitialize(nullptr);
        objectsBefore_ = ModuleCounts::Objects();
        root_ = test::AmigaRoot();
        work_ = test::OpenAmigaFolder("Work");
    }

    void TearDown() override
    {
        if (!root_)
            return;
        OleSetClipboard(nullptr);
        work_.Reset();
        root_.Reset();
        EXPECT_EQ(ModuleCounts::Objects(), objectsBefore_) << "an object was leaked";
        OleUninitialize();
    }

    AmigaFolder& Work() { return test::Of(work_.Get()); }

    HRESULT Command(ViewCommand command, const ITEMIDLIST* item)
    {
        return Work().DoCommand(command, 1, &item, nullptr);
    }

    static DWORD PerformedEffect()
    {
        ComPtr<IDataObject> data;
        if (FAILED(OleGetClipboard(&data)))
            return DWORD(-1);
        return GetDwordData(*data.Get(), Formats()->performedDropEffect).value_or(DWORD(-1));
    }

    test::ScratchFolder scratch_;
    const fs::path target_ = scratch_.Path();
    ComPtr<IShellFolder> root_;
    ComPtr<IShellFolder> work_;
    long objectsBefore_ = 0;
};

TEST_F(ClipboardTest, ACopiedDrawerTreeIsPastedByAnotherProcessByteForByte)
{
    const UniqueIdList tree = test::FindItem(work_.Get(), "Tree");
    ASSERT_EQ(Command(ViewCommand::Copy, tree.get()), S_OK);
    // A drag's object has no preferred effect, and no stream beyond its descriptors.
    const ITEMIDLIST* dragged = tree.get();
    ComPtr<IDataObject> data;
    ASSERT_EQ(work_->GetUIObjectOf(nullptr, 1, &dragged, IID_IDataObject, nullptr, &data), S_OK);
    EXPECT_FALSE(GetDwordData(*data.Get(), Formats()->preferredDropEffect));
    FORMATETC beyond = MakeFormatEtc(Formats()->fileContents, TYMED_ISTREAM, 1);
    STGMEDIUM medium = {};
    EXPECT_EQ(data->GetData(&beyond, &medium), E_INVALIDARG) << "only the drawer before a drop";
    data.Reset();

    ASSERT_EQ(Paste(target_), DROPEFFECT_COPY);
    const fs::path pasted = target_ / "Tree";
    const std::string host = "work/Tree/";
    EXPECT_EQ(ReadAll(pasted / "Sub" / "deep.txt"), "deep inside\n");
    EXPECT_TRUE(fs::is_directory(pasted / "Sub" / "Empty"));
    EXPECT_TRUE(fs::is_empty(pasted / "Sub" / "Empty"));
    EXPECT_EQ(fs::file_size(pasted / "zero.bin"), 0u);
    const std::string mega = ReadAll(pasted / "mega.bin");
    EXPECT_TRUE(mega == ReadAll(test::PeerHostPath(host + "mega.bin"))) << "1 MB differs";
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(pasted), {}), 8);
    EXPECT_EQ(PerformedEffect(), DWORD(DROPEFFECT_COPY)) << "a copy deletes nothing";
    EXPECT_TRUE(fs::exists(test::PeerHostPath("work/Tree/mega.bin")));

    // The clipboard object can be pasted again, from the selection afresh.
    fs::remove_all(target_ / "Tree");
    EXPECT_EQ(Paste(target_), DROPEFFECT_COPY);
    EXPECT_EQ(ReadAll(pasted / "Sub" / "deep.txt"), "deep inside\n");

    // Pasted on an Amiga drawer after the PC expanded it, it names the drawer alone: the
    // contents arrive once, inside it. So does a Cut, which then moves the drawer whole.
    auto pasteOnAmiga = [&](const char* drawer) {
        const UniqueIdList into = test::FindItem(work_.Get(), drawer);
        test::DialogDriver error([](HWND box) { test::PressEscape(box); }, GetCurrentThreadId(),
                                 1000);
        EXPECT_EQ(Command(ViewCommand::Paste, into.get()), S_OK) << drawer;
        EXPECT_FALSE(error.Found()) << "the paste on " << drawer << " stopped with a message";
    };
    pasteOnAmiga("Devs");
    EXPECT_EQ(ReadAll(test::PeerHostPath("work/Devs/Tree/Sub/deep.txt")), "deep inside\n");
    EXPECT_FALSE(fs::exists(test::PeerHostPath("work/Devs/Sub")));
    EXPECT_FALSE(fs::exists(test::PeerHostPath("work/Devs/mega.bin")));

    const ITEMIDLIST* selected = tree.get();
    ComPtr<IDataObject> source;
    ASSERT_EQ(CopyToClipboard(Work(), 1, &selected, DROPEFFECT_MOVE, &source), S_OK);
    fs::remove_all(pasted);
    EXPECT_EQ(Paste(target_, "--stop-after 1", source.Get()), 0);
    pasteOnAmiga("Docs");
    EXPECT_EQ(ReadAll(test::PeerHostPath("work/Docs/Tree/Sub/deep.txt")), "deep inside\n");
    EXPECT_FALSE(fs::exists(test::PeerHostPath("work/Tree"))) << "the cut drawer did not move";
    EXPECT_FALSE(fs::exists(test::PeerHostPath("work/Docs/mega.bin")));
}

// A hostile side's names arrive one component each, inside the target; a listing no Amiga
// could send is refused, and nothing of it is written.
TEST_F(ClipboardTest, NamesFromAHostileSideStayInsideThePasteTarget)
{
    ComPtr<IShellFolder> data = test::OpenAmigaFolder("Data");
    auto copy = [&](const char* drawer) {
        const UniqueIdList item = test::FindItem(data.Get(), drawer);
        const ITEMIDLIST* selected = item.get();
        return CopyToClipboard(test::Of(data.Get()), 1, &selected,
                               DROPEFFECT_COPY, nullptr);
    };
    ASSERT_EQ(copy("Hostile"), S_OK);
    ASSERT_EQ(Paste(target_), DROPEFFECT_COPY);
    std::vector<std::string> landed;
    for (const auto& entry : fs::recursive_directory_iterator(target_))
        landed.push_back(fs::relative(entry.path(), target_).generic_string());
    std::sort(landed.begin(), landed.end());
    EXPECT_EQ(landed, (std::vector<std::string> {"Hostile", "Hostile/C_x", "Hostile/_",
                                                 "Hostile/__", "Hostile/__/escape.txt",
                                                 "Hostile/_aux", "Hostile/back_slash",
                                                 "Hostile/blank_", "Hostile/dot_"}));
    EXPECT_EQ(ReadAll(target_ / "Hostile" / "__" / "escape.txt"), "up\n");
    EXPECT_EQ(ReadAll(target_ / "Hostile" / "dot_"), "dot.\n");

    ASSERT_EQ(copy("Bad"), S_OK);
    fs::remove_all(target_ / "Hostile");
    // The refusal is shown each time the target asks (Wine's clipboard asks twice).
    test::ButtonScript user({}, {IDOK});
    EXPECT_EQ(Paste(target_), 100) << "a damaged listing was pasted";
    EXPECT_GE(user.Finish().size(), 1u) << "the refusal was not shown";
    EXPECT_TRUE(fs::is_empty(target_));
}

TEST_F(ClipboardTest, ACutIsDeletedOnlyWhenEveryFileArrivedAndTheTargetReportedTheMove)
{
    // A cut of many items marks them in one go: each view is updated once, not once per item.
    test::CountingView view;
    Work().Items().Attach(&view);
    std::vector<UniqueIdList> several;
    for (const char* name : {"Tree", "Docs", "readme.txt"})
        several.push_back(test::FindItem(work_.Get(), name));
    CutSet::Replace({several[0].get(), several[1].get(), several[2].get()});
    EXPECT_EQ(view.cutMarks, 1);
    for (const UniqueIdList& item : several)
        EXPECT_TRUE(ItemIdView(Work().Items().CloneEqual(item.get()).get()).IsCut());
    CutSet::Clear();
    EXPECT_EQ(view.cutMarks, 2);
    EXPECT_FALSE(ItemIdView(Work().Items().CloneEqual(several[1].get()).get()).IsCut());
    Work().Items().Detach(&view);

    const UniqueIdList cut = test::FindItem(work_.Get(), "Cut");
    const ITEMIDLIST* selected = cut.get();
    ComPtr<IDataObject> source;
    ASSERT_EQ(CopyToClipboard(Work(), 1, &selected, DROPEFFECT_MOVE, &source), S_OK);
    EXPECT_TRUE(ItemIdView(Work().Items().CloneEqual(cut.get()).get()).IsCut())
        << "the folder's item carries the cut mark";
    const std::string host = test::PeerHostPath("work/Cut");

    // A target that skipped a file, however it reports the paste, deletes nothing; nor does one
    // stopped halfway.
    EXPECT_EQ(Paste(target_, "--skip 0", source.Get()), DROPEFFECT_MOVE);
    EXPECT_TRUE(fs::exists(host));
    EXPECT_EQ(PerformedEffect(), DWORD(DROPEFFECT_COPY));
    fs::remove_all(target_ / "Cut");
    EXPECT_EQ(Paste(target_, "--stop-after 1", source.Get()), 0);
    EXPECT_TRUE(fs::exists(fs::path(host) / "one.txt"));
    EXPECT_TRUE(fs::exists(fs::path(host) / "Inner" / "two.bin"));

    fs::remove_all(target_ / "Cut");
    ASSERT_EQ(Paste(target_, {}, source.Get()), DROPEFFECT_MOVE);
    EXPECT_EQ(ReadAll(target_ / "Cut" / "one.txt"), "first\n");
    EXPECT_EQ(fs::file_size(target_ / "Cut" / "Inner" / "two.bin"), 5000u);
    EXPECT_FALSE(fs::exists(host)) << "the move did not delete its source";
    EXPECT_EQ(PerformedEffect(), DWORD(DROPEFFECT_MOVE));
    EXPECT_FALSE(Work().Items().Contains(cut.get()));
    EXPECT_EQ(CutSet::Count(), 0u);

    // A file that changed size on the Amiga after it was listed is not whole, though a target
    // that copies the listed size reports the move: shorter (fewer bytes than listed), or
    // longer (the listed bytes arrive, fewer than the Amiga announced). The original stays.
    for (const char* now : {"shrunk\n", "grown well beyond the listing\n"}) {
        const std::string changed = test::PeerHostPath("work/changed.txt");
        std::ofstream(changed, std::ios::binary) << "as listed, 20 bytes\n";
        ReRead(Work());
        const UniqueIdList item = test::FindItem(work_.Get(), "changed.txt");
        std::ofstream(changed, std::ios::binary) << now;
        selected = item.get();
        ASSERT_EQ(CopyToClipboard(Work(), 1, &selected, DROPEFFECT_MOVE, &source), S_OK);
        fs::remove(target_ / "changed.txt");
        EXPECT_EQ(Paste(target_, "--copy-to 1", source.Get()), DROPEFFECT_MOVE) << now;
        EXPECT_TRUE(fs::exists(changed)) << "a move deleted a file it did not deliver: " << now;
        EXPECT_EQ(PerformedEffect(), DWORD(DROPEFFECT_COPY)) << now;
    }
}

// Records what would have been opened.
std::vector<std::string> launched;
INT_PTR RecordLaunch(HWND, const std::string& path)
{
    launched.push_back(path);
    return 33;
}

TEST_F(ClipboardTest, OpeningAFileFetchesItOnceAndAgainOnlyWhenItChanged)
{
    launched.clear();
    SetPcProgramLauncher(&RecordLaunch);
    struct Restore {
        ~Restore() { SetPcProgramLauncher(nullptr); }
    } restore;
    test::CountingView view;
    Work().AttachView(&view);

    UniqueIdList readme = test::FindItem(work_.Get(), "readme.txt");
    ASSERT_EQ(Command(ViewCommand::Open, readme.get()), S_OK);
    ASSERT_EQ(launched.size(), 1u);
    const fs::path first = launched[0];
    EXPECT_EQ(first.filename(), "readme.txt");
    EXPECT_EQ(first.parent_path().filename().string().rfind("Drovemark_", 0), 0u);
    EXPECT_EQ(ReadAll(first), "hello amiga\n");

    // Unchanged: the copy is opened again as it is, edits and all.
    std::ofstream(first, std::ios::app) << "edited";
    ASSERT_EQ(Command(ViewCommand::Open, readme.get()), S_OK);
    EXPECT_EQ(launched.back(), first.string());
    EXPECT_EQ(ReadAll(first), "hello amiga\nedited");

    // Changed on the Amiga: fetched afresh, the edited copy gone.
    const std::string host = test::PeerHostPath("work/readme.txt");
    std::ofstream(host, std::ios::binary) << "hello again\n";
    fs::last_write_time(host, fs::last_write_time(host) + std::chrono::hours(1));
    ReRead(Work());
    readme = test::FindItem(work_.Get(), "readme.txt");
    ASSERT_EQ(Command(ViewCommand::Open, readme.get()), S_OK);
    ASSERT_EQ(launched.size(), 3u);
    EXPECT_EQ(ReadAll(launched.back()), "hello again\n");

    // A stream shorter than the file the listing announced opens nothing and leaves nothing.
    UniqueIdList letter = test::FindItem(test::OpenAmigaFolder("Work/Docs").Get(), "letter.txt");
    std::ofstream(test::PeerHostPath("work/Docs/letter.txt"), std::ios::trunc) << "short";
    ComPtr<IShellFolder> docs = test::OpenAmigaFolder("Work/Docs");
    const fs::path temp = fs::path(launched.back()).parent_path().parent_path();
    auto copies = [&temp] {
        int count = 0;
        for (const auto& entry : fs::directory_iterator(temp))
            count += entry.path().filename().string().rfind("Drovemark_", 0) == 0;
        return count;
    };
    const int copiesBefore = copies();
    std::string shown;
    {
        test::DialogDriver driver([&](HWND box) {
            shown = test::WindowText(box);
            test::PressButton(box, IDOK);
        });
        const ITEMIDLIST* stale = letter.get();
        EXPECT_TRUE(FAILED(
            test::Of(docs.Get()).DoCommand(ViewCommand::Open, 1, &stale, nullptr)));
    }
    EXPECT_EQ(launched.size(), 3u) << "a truncated copy was opened";
    EXPECT_EQ(shown, "Drovemark");
    EXPECT_EQ(copies(), copiesBefore) << "the failed fetch left its folder behind";

    // The last view to go takes the copies with it.
    Work().DetachView(&view);
    EXPECT_FALSE(fs::exists(launched.back()));
}

}  // namespace
}  // namespace dm
