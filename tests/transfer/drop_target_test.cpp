// Dropping and pasting onto the emulated Amiga (tools/with-peer, with the disk in DF1): PC files
// from a real folder of the Wine prefix, handed over by the shell's own file-system folder as
// Explorer would, and Amiga items moved and copied by the Amiga itself.
#include "core/amiga_types.h"
#include "core/live_objects.h"
#include "module/ui_objects.h"
#include "resources/resource_ids.h"
#include "support/amiga_folders.h"
#include "support/dialog_driver.h"
#include "support/explorer_data.h"
#include "support/test_browser.h"
#include "support/test_files.h"
#include "support/test_peer.h"
#include "transfer/clipboard_formats.h"
#include "view/amiga_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

using Microsoft::WRL::ComPtr;
namespace fs = std::filesystem;

namespace dm {
namespace {

using test::AmigaRoot;
using test::FindItem;
using test::OpenAmigaFolder;

// A question beyond those a test answers is cancelled.
const std::vector<int> kBeyond = {IDCANCEL, IDC_CONFIRM_CANCEL};

std::string Host(const std::string& below)
{
    return test::ReadWholeFile(test::PeerHostPath(below));
}

// The contents of file `index` of `data`, as the shell reads them.
std::string ReadStream(IDataObject& data, LONG index)
{
    FORMATETC contents = MakeFormatEtc(Formats()->fileContents, TYMED_ISTREAM, index);
    STGMEDIUM medium = {};
    std::string read;
    if (FAILED(data.GetData(&contents, &medium)))
        return "no stream";
    char buffer[8192];
    ULONG got = 0;
    while (SUCCEEDED(medium.pstm->Read(buffer, sizeof buffer, &got)) && got > 0)
        read.append(buffer, got);
    ReleaseStgMedium(&medium);
    return read;
}

// A whole drag onto `name` of `folder`: enter, hover, drop.
HRESULT DropOn(IShellFolder* folder, const std::string& name, IDataObject* data, DWORD keys,
               DWORD* entered, DWORD* dropped, HWND owner = nullptr)
{
    UniqueIdList item = FindItem(folder, name);
    const ITEMIDLIST* items[] = {item.get()};
    ComPtr<IDropTarget> target;
    HRESULT hr = item ? folder->GetUIObjectOf(owner, 1, items, IID_IDropTarget, nullptr,
                                              reinterpret_cast<void**>(target.GetAddressOf()))
                      : E_INVALIDARG;
    if (FAILED(hr))
        return hr;
    DWORD effects[3] = {DROPEFFECT_COPY | DROPEFFECT_MOVE, effects[0], effects[0]};
    const POINTL point = {10, 10};
    EXPECT_EQ(target->DragEnter(data, keys, point, &effects[0]), S_OK);
    target->DragOver(keys, point, &effects[1]);
    hr = target->Drop(data, keys, point, &effects[2]);
    if (entered)
        *entered = effects[0];
    if (dropped)
        *dropped = effects[2];
    return hr;
}

class DropTargetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::UseTestPeer() || !std::getenv("DROVEMARK_TEST_PEER_DISK"))
            GTEST_SKIP() << "runs under tools/with-peer with DROVEMARK_TEST_PEER_DISK=1";
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        RegisterUiObjects();
        objectsBefore_ = ModuleCounts::Objects();
    }
    void TearDown() override
    {
        if (!std::getenv("DROVEMARK_TEST_PEER_DISK"))
            return;
        OleSetClipboard(nullptr);
        EXPECT_TRUE(HasFatalFailure() || ModuleCounts::Objects() == objectsBefore_)
            << "an object was leaked";
        OleUninitialize();
    }

    test::ScratchFolder pc_;
    long objectsBefore_ = 0;
};

// Runs a host command under Wine, where CreateSymbolicLink does nothing, and waits until `done`;
// elsewhere `fallback`. A 32-bit Wine gives no handle to wait on.
bool OnHost(const std::string& command, const fs::path& a, const fs::path& b,
            const std::function<void()>& fallback, const std::function<bool()>& done)
{
    using UnixName = char*(CDECL*)(const wchar_t*);
    const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
    std::string line = command;
    for (const fs::path& path : {a, b}) {
        char* name = unixName && !path.empty() ? unixName(path.wstring().c_str()) : nullptr;
        line += name ? " \"" + std::string(name) + "\"" : "";
        HeapFree(GetProcessHeap(), 0, name);
    }
    std::string image = "Z:" + command.substr(0, command.find(' '));
    std::replace(image.begin(), image.end(), '/', '\\');
    STARTUPINFOA start = {sizeof start};
    PROCESS_INFORMATION process = {};
    if (unixName && CreateProcessA(image.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &start, &process)) {
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    } else {
        fallback();
    }
    return test::WaitFor(done, std::chrono::seconds(5));
}

void Put(const fs::path& path, const std::string& content)
{
    fs::create_directories(path.parent_path());
    test::WriteWholeFile(path.string(), content);
}

TEST_F(DropTargetTest, PcTreeDroppedOnADrawerArrivesWholeWithItsAttributes)
{
    const fs::path tree = pc_.Path() / "tree";
    fs::create_directories(tree / "empty");
    const std::string big = test::PatternBytes(test::PeerBigFileBytes(), 1);
    Put(tree / "big.bin", big);
    Put(tree / "zero.bin", "");
    Put(tree / "sub" / "locked.txt", "read only");
    // Enough entries below a nested folder that the list grows while its parent is walked.
    for (int i = 0; i < 8; ++i) {
        Put(tree / "sub" / ("s" + std::to_string(i)), "s");
        Put(tree / "sub" / "deeper" / ("d" + std::to_string(i)), "d");
    }
    SYSTEMTIME when = {2001, 2, 0, 3, 4, 5, 6, 0};
    FILETIME written = {};
    SystemTimeToFileTime(&when, &written);
    HANDLE file = CreateFileA((tree / "big.bin").string().c_str(), FILE_WRITE_ATTRIBUTES, 0,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    SetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
    SetFileAttributesA((tree / "big.bin").string().c_str(), FILE_ATTRIBUTE_ARCHIVE);
    SetFileAttributesA((tree / "sub" / "locked.txt").string().c_str(), FILE_ATTRIBUTE_READONLY);

    ComPtr<IShellFolder> work = OpenAmigaFolder("Work");
    DWORD entered = 0, dropped = 0;
    ASSERT_EQ(DropOn(work.Get(), "Docs", test::PcItems(pc_.Path(), {"tree"}).Get(), 0, &entered, &dropped),
              S_OK);
    EXPECT_EQ(entered, DWORD(DROPEFFECT_COPY));
    EXPECT_EQ(dropped, DWORD(DROPEFFECT_COPY));
    EXPECT_TRUE(Host("work/Docs/tree/big.bin") == big);
    EXPECT_EQ(fs::file_size(test::PeerHostPath("work/Docs/tree/zero.bin")), 0u);
    EXPECT_TRUE(fs::is_directory(test::PeerHostPath("work/Docs/tree/empty")));
    EXPECT_EQ(Host("work/Docs/tree/sub/locked.txt"), "read only");
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(Host("work/Docs/tree/sub/s" + std::to_string(i)) +
                      Host("work/Docs/tree/sub/deeper/d" + std::to_string(i)),
                  "sd")
            << i;

    UniqueIdList bigItem = FindItem(OpenAmigaFolder("Work/Docs/tree").Get(), "big.bin");
    ASSERT_TRUE(bigItem);
    const ItemIdView bigView(bigItem.get());
    EXPECT_EQ(bigView.Protection() & (protection::Archived | protection::WriteForbidden),
              protection::Archived);
    const FILETIME modified = bigView.Modified();
    EXPECT_LT(std::llabs(int64_t(std::bit_cast<uint64_t>(modified) - std::bit_cast<uint64_t>(written))),
              10000000)
        << "the PC's write time did not arrive";
    UniqueIdList locked = FindItem(OpenAmigaFolder("Work/Docs/tree/sub").Get(), "locked.txt");
    ASSERT_TRUE(locked);
    const uint32_t forbidden = protection::WriteForbidden | protection::DeleteForbidden;
    EXPECT_EQ(ItemIdView(locked.get()).Protection() & forbidden, forbidden);
    SetFileAttributesA((tree / "sub" / "locked.txt").string().c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(DropTargetTest, OverwriteQuestionsKeepOneAnswerForTheBatch)
{
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
        test::WriteWholeFile(test::PeerHostPath(std::string("work/Docs/") + name), "amiga");
        test::WriteWholeFile(pc_.File(name), std::string("pc ") + name);
    }
    ComPtr<IShellFolder> work = OpenAmigaFolder("Work");
    // The answers given, what was asked, and what the drop of `names` (a move with `keys`) said.
    const auto drop = [&](std::vector<int> answers, std::vector<std::string> names,
                          DWORD keys = 0) {
        test::ButtonScript script(std::move(answers), kBeyond);
        DWORD dropped = 0;
        const HRESULT hr = DropOn(work.Get(), "Docs", test::PcItems(pc_.Path(), names).Get(), keys,
                                  nullptr, &dropped);
        EXPECT_EQ(script.unexpected, 0);
        return std::tuple(hr, dropped, script.Finish());
    };
    // No for the first, Yes to All for the next: the third is replaced without asking.
    auto [hr, dropped, asked] = drop({IDC_CONFIRM_NO, IDC_CONFIRM_YES_TO_ALL},
                                     {"a.txt", "b.txt", "c.txt"});
    EXPECT_EQ(hr, S_OK);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_NE(asked[0].text.find("a.txt"), std::string::npos) << asked[0].text;
    EXPECT_NE(asked[0].text.find("replace this file"), std::string::npos) << asked[0].text;
    EXPECT_TRUE(asked[0].Shows(IDC_CONFIRM_YES_TO_ALL));
    EXPECT_EQ(Host("work/Docs/a.txt"), "amiga");
    EXPECT_EQ(Host("work/Docs/b.txt"), "pc b.txt");
    EXPECT_EQ(Host("work/Docs/c.txt"), "pc c.txt");
    // One file: only Yes and No.
    std::tie(hr, dropped, asked) = drop({IDC_CONFIRM_YES}, {"a.txt"});
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_FALSE(asked[0].Shows(IDC_CONFIRM_YES_TO_ALL));
    EXPECT_EQ(Host("work/Docs/a.txt"), "pc a.txt");

    // Cancel in a move stops the batch, and nothing is deleted on the PC, not even the file
    // that went before the question.
    test::WriteWholeFile(pc_.File("a.txt"), "newer a");
    test::WriteWholeFile(pc_.File("fresh.txt"), "fresh");
    std::tie(hr, dropped, asked) =
        drop({IDC_CONFIRM_CANCEL}, {"fresh.txt", "a.txt", "b.txt"}, MK_SHIFT);
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_CANCELLED));
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_NE(dropped, DWORD(DROPEFFECT_MOVE));
    EXPECT_EQ(Host("work/Docs/fresh.txt"), "fresh");
    EXPECT_EQ(Host("work/Docs/a.txt"), "pc a.txt");
    for (const char* name : {"fresh.txt", "a.txt", "b.txt"})
        EXPECT_TRUE(fs::exists(pc_.File(name))) << name;
}

TEST_F(DropTargetTest, CutAndPasteMovesOnlyWhatArrivedAndEmptiesTheClipboardWhenAllDid)
{
    // "keep" holds a file the Amiga already has and the user declines to replace.
    const fs::path keep = pc_.Path() / "keep";
    Put(keep / "old.txt", "pc old");
    Put(keep / "go.txt", "go");
    Put(keep / "deep" / "inner.txt", "inner");
    Put(test::PeerHostPath("work/Docs/keep/old.txt"), "amiga old");

    ComPtr<IShellFolder> work = OpenAmigaFolder("Work");
    UniqueIdList docs = FindItem(work.Get(), "Docs");
    const ITEMIDLIST* target[] = {docs.get()};
    const auto cutAndPaste = [&](const std::string& name) {
        ComPtr<IDataObject> shell = test::PcItems(pc_.Path(), {name});
        ComPtr<IDataObject> clip(new test::PreferringDataObject(shell.Get(), DROPEFFECT_MOVE));
        EXPECT_EQ(OleSetClipboard(clip.Get()), S_OK);
        return test::Of(work.Get()).DoCommand(ViewCommand::Paste, 1, target, nullptr);
    };
    {
        test::ButtonScript script({IDC_CONFIRM_NO}, kBeyond);
        EXPECT_EQ(cutAndPaste("keep"), S_OK);
        EXPECT_EQ(script.Finish().size(), 1u);
    }
    EXPECT_EQ(Host("work/Docs/keep/old.txt"), "amiga old");
    EXPECT_EQ(Host("work/Docs/keep/go.txt"), "go");
    EXPECT_EQ(Host("work/Docs/keep/deep/inner.txt"), "inner");
    // What arrived went from the PC, the declined file and the folder holding it stayed.
    EXPECT_EQ(test::ReadWholeFile((keep / "old.txt").string()), "pc old");
    EXPECT_FALSE(fs::exists(keep / "go.txt"));
    EXPECT_FALSE(fs::exists(keep / "deep"));
    EXPECT_TRUE(IsClipboardFormatAvailable(Formats()->shellIdListArray))
        << "a move that left a file behind must not empty the clipboard";

    // A tree that arrives whole goes from the PC, deepest first, with the clipboard emptied.
    const fs::path whole = pc_.Path() / "whole";
    Put(whole / "a" / "b" / "c.txt", "c");
    Put(whole / "top.txt", "top");
    EXPECT_EQ(cutAndPaste("whole"), S_OK);
    EXPECT_EQ(Host("work/Docs/whole/a/b/c.txt"), "c");
    EXPECT_EQ(Host("work/Docs/whole/top.txt"), "top");
    EXPECT_FALSE(fs::exists(whole));
    EXPECT_FALSE(IsClipboardFormatAvailable(Formats()->shellIdListArray));
    EXPECT_EQ(test::Of(work.Get()).DoCommand(ViewCommand::Paste, 1, target, nullptr), S_FALSE)
        << "nothing was left to paste";

    // A tree holding a link to a folder elsewhere: what the link leads to arrives, and stays.
    const fs::path linked = pc_.Path() / "linked", elsewhere = pc_.Path() / "elsewhere";
    const fs::path link = linked / "outside";
    Put(linked / "own.txt", "own");
    Put(elsewhere / "precious.txt", "precious");
    ASSERT_TRUE(OnHost(
        "/bin/ln -s", elsewhere, link,
        [&] {
            CreateSymbolicLinkA(link.string().c_str(), elsewhere.string().c_str(),
                                SYMBOLIC_LINK_FLAG_DIRECTORY);
        },
        [&] { return fs::exists(link); }));
    EXPECT_EQ(cutAndPaste("linked"), S_OK);
    EXPECT_EQ(Host("work/Docs/linked/own.txt"), "own");
    EXPECT_EQ(Host("work/Docs/linked/outside/precious.txt"), "precious");
    EXPECT_FALSE(fs::exists(linked / "own.txt"));
    EXPECT_EQ(test::ReadWholeFile((elsewhere / "precious.txt").string()), "precious")
        << "a move deleted a file outside the moved folder, through a link";
    OnHost(
        "/bin/rm -f", link, {}, [&] { RemoveDirectoryA(link.string().c_str()); },
        [&] { return !fs::exists(link); });
}

ComPtr<IDataObject> AmigaItem(IShellFolder* folder, const std::string& name)
{
    UniqueIdList item = FindItem(folder, name);
    const ITEMIDLIST* items[] = {item.get()};
    ComPtr<IDataObject> data;
    EXPECT_EQ(folder->GetUIObjectOf(nullptr, 1, items, IID_IDataObject, nullptr,
                                    reinterpret_cast<void**>(data.GetAddressOf())),
              S_OK);
    return data;
}

TEST_F(DropTargetTest, AmigaItemsMoveWithinAVolumeCopyAcrossAndNeverIntoThemselves)
{
    ComPtr<IShellFolder> work = OpenAmigaFolder("Work");
    ComPtr<IShellFolder> root = AmigaRoot();
    // Within a volume a move; from another volume a copy; Shift asks for a move, but a volume
    // can only be copied.
    const struct {
        ComPtr<IDataObject> data;
        DWORD keys, effect;
        const char *arrived, *content, *source;
    } drops[] = {
        {AmigaItem(work.Get(), "readme.txt"), 0, DROPEFFECT_MOVE, "work/Docs/readme.txt",
         "hello amiga\n", nullptr},
        {AmigaItem(OpenAmigaFolder("Data").Get(), "notes.txt"), 0, DROPEFFECT_COPY,
         "work/Docs/notes.txt", "notes\n", "data/notes.txt"},
        {AmigaItem(root.Get(), "Data"), MK_SHIFT, DROPEFFECT_COPY, "work/Docs/Data/notes.txt",
         "notes\n", "data/notes.txt"},
    };
    for (const auto& drop : drops) {
        DWORD entered = 0, dropped = 0;
        EXPECT_EQ(DropOn(work.Get(), "Docs", drop.data.Get(), drop.keys, &entered, &dropped), S_OK);
        EXPECT_EQ(entered, drop.effect) << drop.arrived;
        EXPECT_EQ(dropped, drop.effect) << drop.arrived;
        EXPECT_EQ(Host(drop.arrived), drop.content);
        EXPECT_EQ(drop.source ? Host(drop.source) : drop.content, drop.content)
            << "a copy took the source away";
    }
    EXPECT_FALSE(fs::exists(test::PeerHostPath("work/readme.txt")));
    EXPECT_FALSE(FindItem(work.Get(), "readme.txt")) << "the moved item is still listed";

    // Onto itself, into its own drawer, and into the drawer that already lists it.
    ComPtr<IShellFolder> devs = OpenAmigaFolder("Work/Devs");
    const struct {
        IShellFolder* folder;
        const char* target;
        ComPtr<IDataObject> data;
        const char* name;
    } refused[] = {
        {work.Get(), "Devs", AmigaItem(work.Get(), "Devs"), "Devs"},
        {devs.Get(), "Keymaps", AmigaItem(work.Get(), "Devs"), "Devs"},
        {work.Get(), "Docs", AmigaItem(OpenAmigaFolder("Work/Docs").Get(), "letter.txt"),
         "letter.txt"},
    };
    for (const auto& drop : refused) {
        test::ButtonScript script({IDOK});
        DWORD dropped = 0;
        EXPECT_EQ(DropOn(drop.folder, drop.target, drop.data.Get(), 0, nullptr, &dropped), S_OK);
        const auto asked = script.Finish();
        EXPECT_EQ(dropped, 0u) << drop.name;
        ASSERT_EQ(asked.size(), 1u) << drop.name;
        EXPECT_NE(asked[0].text.find(std::string("Cannot move ") + drop.name +
                                     ": the destination folder is the same as the source folder."),
                  std::string::npos)
            << asked[0].text;
    }
    EXPECT_TRUE(fs::is_directory(test::PeerHostPath("work/Devs/Keymaps")));
    EXPECT_FALSE(fs::exists(test::PeerHostPath("work/Devs/Keymaps/Devs")));
    EXPECT_TRUE(fs::exists(test::PeerHostPath("work/Docs/letter.txt")));

    // A drawer whose name merely begins like the dragged one's is somewhere else.
    fs::create_directories(test::PeerHostPath("work/DevsOld"));
    ComPtr<IShellFolder> fresh = OpenAmigaFolder("Work");
    DWORD dropped = 0;
    EXPECT_EQ(DropOn(fresh.Get(), "DevsOld", AmigaItem(fresh.Get(), "Devs").Get(), 0, nullptr,
                     &dropped),
              S_OK);
    EXPECT_EQ(dropped, DWORD(DROPEFFECT_MOVE));
    EXPECT_TRUE(fs::is_directory(test::PeerHostPath("work/DevsOld/Devs/Keymaps")));
}

TEST_F(DropTargetTest, RightButtonDropAsksAndClosingTheMenuKeepsTheDefault)
{
    HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr);
    ASSERT_TRUE(owner);
    test::WriteWholeFile(pc_.File("chosen.txt"), "chosen");
    test::WriteWholeFile(pc_.File("kept.txt"), "kept");
    ComPtr<IShellFolder> work = OpenAmigaFolder("Work");

    // Something of the user's own on the clipboard, which a drag has nothing to do with.
    ASSERT_TRUE(OpenClipboard(owner));
    EmptyClipboard();
    HGLOBAL text = GlobalAlloc(GMEM_MOVEABLE, 6);
    std::memcpy(GlobalLock(text), "mine", 5);
    GlobalUnlock(text);
    SetClipboardData(CF_TEXT, text);
    CloseClipboard();

    // The drop menu is handed a key, as a user at the keyboard would: "m" for Move, or Escape.
    for (const auto& [name, message, key, effect] :
         {std::tuple {"chosen.txt", WM_CHAR, WPARAM('m'), DWORD(DROPEFFECT_MOVE)},
          std::tuple {"kept.txt", WM_KEYDOWN, WPARAM(VK_ESCAPE), DWORD(DROPEFFECT_COPY)}}) {
        std::thread user([&] {
            HWND menu = nullptr;
            if (test::WaitFor([&] { return (menu = test::FindOwnWindow("#32768")) != nullptr; }))
                PostMessageA(menu, message, key, 0);
        });
        DWORD dropped = 0;
        EXPECT_EQ(DropOn(work.Get(), "Docs", test::PcItems(pc_.Path(), {name}).Get(), MK_RBUTTON,
                         nullptr, &dropped, owner),
                  S_OK);
        user.join();
        EXPECT_EQ(dropped, effect) << name;
        EXPECT_EQ(Host(std::string("work/Docs/") + name), fs::path(name).stem().string());
        EXPECT_EQ(fs::exists(pc_.File(name)), effect == DROPEFFECT_COPY) << name;
    }
    EXPECT_TRUE(IsClipboardFormatAvailable(CF_TEXT)) << "a dragged move emptied the clipboard";
    DestroyWindow(owner);
}

TEST_F(DropTargetTest, AFloppySizedFileOnTheDriveWritesItsDiskImageAndReadsBackWhole)
{
    const std::string image = test::PatternBytes(901120, 3);
    test::WriteWholeFile(pc_.File("game.adf"), image);
    test::WriteWholeFile(pc_.File("short.adf"), test::PatternBytes(4096, 4));
    ComPtr<IShellFolder> root = AmigaRoot();
    // Once written, the disk has no volume name for the image item to take.
    const char* imageItem = test::PeerServesDiskImages() ? "DF1.adf" : "df1.adf";
    // The drive asks before its contents go; straight onto the image item, the Amiga refuses a
    // file of another size.
    const struct {
        const char *target, *file;
        int answer;
        HRESULT result;
        const char* said;
    } drops[] = {{"Blank", "game.adf", IDC_CONFIRM_YES, S_OK, "replace the contents of this volume"},
                 {imageItem, "short.adf", IDOK, E_FAIL, "does not match"}};
    for (const auto& drop : drops) {
        test::ButtonScript script({drop.answer}, kBeyond);
        EXPECT_EQ(DropOn(root.Get(), drop.target, test::PcItems(pc_.Path(), {drop.file}).Get(), 0,
                         nullptr, nullptr),
                  drop.result);
        const auto asked = script.Finish();
        ASSERT_GE(asked.size(), 1u) << drop.file;
        EXPECT_NE(asked[0].text.find(drop.said), std::string::npos) << asked[0].text;
        EXPECT_TRUE(Host("df1.adf") == image) << drop.file;
        EXPECT_FALSE(fs::exists(test::PeerHostPath("blank/game.adf")));

    }
    // Read back through the image item, as the shell copies it to the PC.
    const std::string read = ReadStream(*AmigaItem(root.Get(), imageItem).Get(), 0);
    EXPECT_TRUE(read == image) << read.size() << " bytes read";
}

// A PC folder as the target of a drag out of the view: a window of its own under the cursor that
// lets the button go as the drag enters, noting the names the data object offered.
class PcFolderWindow final : public IDropTarget {
public:
    PcFolderWindow()
    {
        // Not a static control: those are transparent to the hit test that finds drop targets.
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.lpszClassName = "DrovemarkTestPcFolder";
        RegisterClassA(&windowClass);
        window = CreateWindowExA(WS_EX_TOPMOST, windowClass.lpszClassName, "PC folder",
                                 WS_POPUP | WS_VISIBLE, 600, 400, 160, 120, nullptr, nullptr,
                                 nullptr, nullptr);
        RegisterDragDrop(window, this);
        SetCursorPos(680, 460);
    }
    ~PcFolderWindow()
    {
        RevokeDragDrop(window);
        DestroyWindow(window);
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        *out = (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDropTarget)) ? this
                                                                                       : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP DragEnter(IDataObject* data, DWORD, POINTL, DWORD* effect) override
    {
        namesAtEnter = Names(*data);
        HoldLeftButton(false);
        *effect &= DROPEFFECT_COPY;
        return S_OK;
    }
    STDMETHODIMP DragOver(DWORD, POINTL, DWORD* effect) override
    {
        *effect &= DROPEFFECT_COPY;
        return S_OK;
    }
    STDMETHODIMP DragLeave() override { return S_OK; }
    STDMETHODIMP Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) override
    {
        namesAtDrop = Names(*data);
        lastFile = ReadStream(*data, count_ - 1);
        *effect = DROPEFFECT_COPY;
        return S_OK;
    }

    // The left button as the drag loop of this thread sees it.
    static void HoldLeftButton(bool held)
    {
        BYTE keys[256] = {};
        GetKeyboardState(keys);
        keys[VK_LBUTTON] = held ? 0x80 : 0;
        SetKeyboardState(keys);
    }

    HWND window = nullptr;
    std::string namesAtEnter, namesAtDrop, lastFile;

private:
    // The names the file group descriptor offers, "|"-separated.
    std::string Names(IDataObject& data)
    {
        FORMATETC format = MakeFormatEtc(Formats()->fileGroupDescriptor);
        STGMEDIUM medium = {};
        if (FAILED(data.GetData(&format, &medium)))
            return "none";
        const auto* group = static_cast<FILEGROUPDESCRIPTORA*>(GlobalLock(medium.hGlobal));
        std::string names;
        count_ = LONG(group->cItems);
        for (UINT i = 0; i < group->cItems; ++i)
            names += (i ? "|" : "") + std::string(group->fgd[i].cFileName);
        GlobalUnlock(medium.hGlobal);
        ReleaseStgMedium(&medium);
        return names;
    }

    LONG count_ = 0;
};

TEST_F(DropTargetTest, TheViewGivesADrawerWholeOnlyOnceDroppedAndTakesDropsWhereTheCursorIs)
{
    test::TestBrowser browser;
    ComPtr<IShellView> view;
    ASSERT_EQ(OpenAmigaFolder("Work")->CreateViewObject(nullptr, IID_PPV_ARGS(&view)), S_OK);
    FOLDERSETTINGS settings = {FVM_DETAILS, 0};
    RECT rect = {0, 0, 640, 400};
    HWND window = nullptr;
    ASSERT_EQ(view->CreateViewWindow(nullptr, &settings, &browser, &rect, &window), S_OK);
    HWND list = static_cast<AmigaView*>(view.Get())->ListWindow();
    test::SelectNames(list, {"Docs"});
    {
        // The drag starts with the left button held over the PC folder, which lets it go.
        PcFolderWindow pc;
        PcFolderWindow::HoldLeftButton(true);
        NMLISTVIEW begin = {};
        begin.hdr = {list, AmigaView::kListId, UINT(LVN_BEGINDRAG)};
        begin.iItem = test::RowOf(list, "Docs");
        SendMessageA(window, WM_NOTIFY, AmigaView::kListId, reinterpret_cast<LPARAM>(&begin));
        // "InShellDragLoop" keeps the drawer folded while the drag hovers; its end unfolds it.
        EXPECT_EQ(pc.namesAtEnter, "Docs") << "the drawer was expanded while only hovering";
        EXPECT_EQ(pc.namesAtDrop, "Docs|Docs\\letter.txt") << "the drag loop never ended";
        EXPECT_EQ(pc.lastFile, std::string(3000, '\0'));
        EXPECT_EQ(Host("work/Docs/letter.txt").size(), 3000u) << "a copy took the source away";
    }

    ComPtr<IDropTarget> target;
    ASSERT_EQ(view.As(&target), S_OK);
    // Onto the row showing a drawer, below every row, and onto a file row, which takes nothing:
    // the folder shown does.
    const struct {
        const char *file, *over, *arrived;
        bool lit;
    } drags[] = {{"onrow.txt", "Docs", "work/Docs/onrow.txt", true},
                 {"onspace.txt", nullptr, "work/onspace.txt", false},
                 {"onfile.txt", "readme.txt", "work/onfile.txt", false}};
    for (const auto& drag : drags) {
        test::WriteWholeFile(pc_.File(drag.file), drag.file);
        const int row = drag.over ? test::RowOf(list, drag.over)
                                  : int(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)) - 1;
        RECT bounds = {LVIR_LABEL};
        SendMessageA(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&bounds));
        POINT point = {(bounds.left + bounds.right) / 2,
                       drag.over ? (bounds.top + bounds.bottom) / 2 : bounds.bottom + 40};
        ClientToScreen(list, &point);
        ComPtr<IDataObject> data = test::PcItems(pc_.Path(), {drag.file});
        DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
        EXPECT_EQ(target->DragEnter(data.Get(), 0, POINTL {point.x, point.y}, &effect), S_OK);
        EXPECT_EQ(effect, DWORD(DROPEFFECT_COPY)) << drag.file;
        const int lit = int(SendMessageA(list, LVM_GETNEXTITEM, WPARAM(-1), LVNI_DROPHILITED));
        EXPECT_EQ(lit, drag.lit ? row : -1) << drag.file << " lit the wrong row";
        effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
        EXPECT_EQ(target->Drop(data.Get(), 0, POINTL {point.x, point.y}, &effect), S_OK);
        EXPECT_EQ(effect, DWORD(DROPEFFECT_COPY)) << drag.file;
        EXPECT_EQ(SendMessageA(list, LVM_GETNEXTITEM, WPARAM(-1), LVNI_DROPHILITED), -1)
            << "the highlight outlived the drop";
        EXPECT_EQ(Host(drag.arrived), drag.file);
    }

    // Resting near the bottom edge of a list too short for its rows scrolls it after a while,
    // and says so in the effect.
    MoveWindow(window, 0, 0, 640, 70, TRUE);
    RECT client = {};
    GetClientRect(list, &client);
    POINT edge = {60, client.bottom - 4};
    ClientToScreen(list, &edge);
    ComPtr<IDataObject> data = test::PcItems(pc_.Path(), {"onrow.txt"});
    DWORD effect = DROPEFFECT_COPY;
    ASSERT_EQ(target->DragEnter(data.Get(), 0, POINTL {edge.x, edge.y}, &effect), S_OK);
    EXPECT_EQ(effect & DROPEFFECT_SCROLL, 0u) << "scrolled before the delay";
    Sleep(120);
    effect = DROPEFFECT_COPY;
    ASSERT_EQ(target->DragOver(0, POINTL {edge.x, edge.y}, &effect), S_OK);
    EXPECT_EQ(effect, DWORD(DROPEFFECT_COPY | DROPEFFECT_SCROLL));
    EXPECT_GT(SendMessageA(list, LVM_GETTOPINDEX, 0, 0), 0) << "the list did not scroll";
    EXPECT_EQ(target->DragLeave(), S_OK);
    target.Reset();
    view->DestroyViewWindow();
}

}  // namespace
}  // namespace dm
