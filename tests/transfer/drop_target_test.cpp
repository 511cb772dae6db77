// Dropping and pasting onto the emulated Amiga (tools/with-peer, with the disk in DF1): PC files
// from a real folder of the Wine prefix, handed over by the shell's own file-system folder as
// Explorer would, and Amiga items moved and copied by the Amiga itself.
#include "core/amiga_names.h"
#include "core/amiga_paths.h"
#include "core/amiga_types.h"
#include "core/live_objects.h"
#include "module/ui_objects.h"
#include "resources/resource_ids.h"
#include "shell/amiga_folder.h"
#include "shell/folder_cache.h"
#include "shell/item_id.h"
#include "support/dialog_driver.h"
#include "support/test_browser.h"
#include "support/test_files.h"
#include "support/test_peer.h"
#include "transfer/clipboard_formats.h"
#include "view/amiga_view.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

using Microsoft::WRL::ComPtr;
namespace fs = std::filesystem;

namespace dm {
namespace {

// Answers the questions of one operation in order, from a helper thread, and closes any
// question beyond them (counted as unexpected).
class QuestionScript {
public:
    explicit QuestionScript(std::vector<int> buttons, DWORD uiThread = GetCurrentThreadId())
    {
        thread_ = std::thread([this, buttons, uiThread] {
            size_t next = 0;
            while (!stop_) {
                HWND dialog = test::FindDialog(uiThread);
                if (!dialog) {
                    Sleep(20);
                    continue;
                }
                Sleep(50);
                Asked asked;
                for (const std::string& text : test::StaticTexts(dialog))
                    asked.text += text + "\n";
                asked.text += test::WindowText(GetDlgItem(dialog, IDC_CONFIRM_NAME));
                asked.offeredYesToAll =
                    IsWindowVisible(GetDlgItem(dialog, IDC_CONFIRM_YES_TO_ALL)) != FALSE;
                if (next < buttons.size()) {
                    test::PressButton(dialog, buttons[next++]);
                } else {
                    ++unexpected;
                    test::PressButton(dialog, IDCANCEL);
                    test::PressButton(dialog, IDC_CONFIRM_CANCEL);
                }
                {
                    std::lock_guard<std::mutex> guard(lock_);
                    asked_.push_back(asked);
                }
                for (int i = 0; i < 250 && IsWindow(dialog); ++i)
                    Sleep(20);
            }
        });
    }
    ~QuestionScript() { Finish(); }

    struct Asked {
        std::string text;
        bool offeredYesToAll = false;
    };
    std::vector<Asked> Finish()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        return asked_;
    }
    std::atomic<int> unexpected {0};

private:
    std::thread thread_;
    std::atomic<bool> stop_ {false};
    std::mutex lock_;
    std::vector<Asked> asked_;
};

// What Explorer puts on the clipboard for a Cut: the shell's data object with the preferred
// effect added.
class PreferringDataObject final : public IDataObject {
public:
    PreferringDataObject(IDataObject* inner, DWORD effect) : inner_(inner), effect_(effect) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDataObject)) {
            *out = static_cast<IDataObject*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override
    {
        if (format->cfFormat != Formats()->preferredDropEffect)
            return inner_->GetData(format, medium);
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = MakeDwordBlock(effect_);
        medium->pUnkForRelease = nullptr;
        return S_OK;
    }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC* format) override
    {
        return format->cfFormat == Formats()->preferredDropEffect ? S_OK
                                                                   : inner_->QueryGetData(format);
    }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override
    {
        return inner_->EnumFormatEtc(direction, out);
    }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP DUnadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

private:
    ComPtr<IDataObject> inner_;
    DWORD effect_;
    std::atomic<ULONG> refs_ {0};
};

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

std::string Pattern(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + seed * 7 + (i >> 9)) & 0xFF);
    return bytes;
}

class DropTargetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::UseTestPeer() || !std::getenv("DROVEMARK_TEST_PEER_DISK"))
            GTEST_SKIP() << "runs under tools/with-peer with DROVEMARK_TEST_PEER_DISK=1";
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        RegisterUiObjects();
        ASSERT_NE(Formats(), nullptr);
        objectsBefore_ = ModuleCounts::Objects();
    }
    void TearDown() override
    {
        if (std::getenv("DROVEMARK_TEST_PEER_DISK")) {
            OleSetClipboard(nullptr);
            if (!HasFatalFailure()) {
                EXPECT_EQ(ModuleCounts::Objects(), objectsBefore_) << "an object was leaked";
            }
            OleUninitialize();
        }
    }

    static ComPtr<IShellFolder> Root()
    {
        ComPtr<IShellFolder> root;
        EXPECT_EQ(AmigaFolder::Create(IID_PPV_ARGS(&root)), S_OK);
        ComPtr<IPersistFolder> persist;
        root.As(&persist);
        persist->Initialize(nullptr);
        return root;
    }

    // A fresh folder object for an Amiga path below the root ("Work", "Work/Docs"), so that
    // its listing is read anew.
    static ComPtr<IShellFolder> Open(const std::string& path)
    {
        ComPtr<IShellFolder> folder = Root();
        size_t start = 0;
        while (start < path.size()) {
            const size_t slash = path.find('/', start);
            const std::string name = path.substr(start, slash - start);
            UniqueIdList item = Item(folder.Get(), name);
            if (!item)
                return nullptr;
            ComPtr<IShellFolder> child;
            EXPECT_EQ(folder->BindToObject(item.get(), nullptr, IID_PPV_ARGS(&child)), S_OK);
            folder = child;
            start = slash == std::string::npos ? path.size() : slash + 1;
        }
        return folder;
    }

    // The item shown as `name` in `folder`, null when there is none.
    static UniqueIdList Item(IShellFolder* folder, const std::string& name)
    {
        ComPtr<IEnumIDList> walk;
        if (folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, &walk) != S_OK)
            return nullptr;
        ITEMIDLIST* item = nullptr;
        ULONG fetched = 0;
        while (walk->Next(1, &item, &fetched) == S_OK) {
            UniqueIdList held(item);
            const ItemIdView view(held.get());
            if (DisplayName(view.Name(), view.Kind()) == name)
                return held;
        }
        return nullptr;
    }

    // The shell's own data object for `names` in the PC folder `folder`.
    static ComPtr<IDataObject> PcItems(const fs::path& folder, const std::vector<std::string>& names)
    {
        ComPtr<IShellFolder> desktop;
        EXPECT_EQ(SHGetDesktopFolder(&desktop), S_OK);
        ITEMIDLIST* absolute = nullptr;
        std::wstring path = Wide(folder.string());
        EXPECT_EQ(desktop->ParseDisplayName(nullptr, nullptr, path.data(), nullptr, &absolute,
                                            nullptr),
                  S_OK);
        ComPtr<IShellFolder> pcFolder;
        EXPECT_EQ(desktop->BindToObject(absolute, nullptr, IID_PPV_ARGS(&pcFolder)), S_OK);
        CoTaskMemFree(absolute);
        std::vector<ITEMIDLIST*> children;
        for (const std::string& name : names) {
            ITEMIDLIST* child = nullptr;
            std::wstring wide = Wide(name);
            EXPECT_EQ(pcFolder->ParseDisplayName(nullptr, nullptr, wide.data(), nullptr, &child,
                                                 nullptr),
                      S_OK)
                << name;
            children.push_back(child);
        }
        ComPtr<IDataObject> data;
        EXPECT_EQ(pcFolder->GetUIObjectOf(nullptr, UINT(children.size()),
                                          const_cast<PCUITEMID_CHILD_ARRAY>(children.data()),
                                          IID_IDataObject, nullptr,
                                          reinterpret_cast<void**>(data.GetAddressOf())),
                  S_OK);
        for (ITEMIDLIST* child : children)
            CoTaskMemFree(child);
        return data;
    }

    // A whole drag onto `name` of `folder`: enter, hover, drop. The effect the drop reported.
    static HRESULT DropOn(IShellFolder* folder, const std::string& name, IDataObject* data,
                          DWORD keys, DWORD* entered, DWORD* dropped, HWND owner = nullptr)
    {
        UniqueIdList item = Item(folder, name);
        if (!item)
            return E_INVALIDARG;
        const ITEMIDLIST* items[] = {item.get()};
        ComPtr<IDropTarget> target;
        HRESULT hr = folder->GetUIObjectOf(owner, 1, items, IID_IDropTarget, nullptr,
                                           reinterpret_cast<void**>(target.GetAddressOf()));
        if (FAILED(hr))
            return hr;
        DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
        const POINTL point = {10, 10};
        EXPECT_EQ(target->DragEnter(data, keys, point, &effect), S_OK);
        if (entered)
            *entered = effect;
        effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
        target->DragOver(keys, point, &effect);
        effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
        hr = target->Drop(data, keys, point, &effect);
        if (dropped)
            *dropped = effect;
        return hr;
    }

    static std::string Host(const std::string& below)
    {
        return test::ReadWholeFile(test::PeerHostPath(below));
    }

    test::ScratchFolder pc_;
    long objectsBefore_ = 0;
};

// Starts a host command under Wine, where CreateSymbolicLink does nothing; false elsewhere. A
// 32-bit Wine gives no handle to wait on, so callers wait for what the command does.
bool StartOnHost(const std::string& program, const std::string& arguments)
{
    if (!GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name"))
        return false;
    std::string image = "Z:" + program;
    std::replace(image.begin(), image.end(), '/', '\\');
    std::string line = program + " " + arguments;
    STARTUPINFOA start = {sizeof start};
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(image.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &start, &process))
        return false;
    if (process.hProcess)
        CloseHandle(process.hProcess);
    if (process.hThread)
        CloseHandle(process.hThread);
    return true;
}

bool WaitFor(const std::function<bool()>& done)
{
    for (int i = 0; i < 100 && !done(); ++i)
        Sleep(50);
    return done();
}

std::string HostPath(const fs::path& path)
{
    using UnixName = char*(CDECL*)(const wchar_t*);
    const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
    char* name = unixName ? unixName(path.wstring().c_str()) : nullptr;
    const std::string result = name ? name : "";
    if (name)
        HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// A symbolic link to a folder: a Unix one under Wine, a Windows one elsewhere.
bool MakeFolderLink(const fs::path& link, const fs::path& target)
{
    if (!StartOnHost("/bin/ln", "-s \"" + HostPath(target) + "\" \"" + HostPath(link) + "\""))
        CreateSymbolicLinkA(link.string().c_str(), target.string().c_str(),
                            SYMBOLIC_LINK_FLAG_DIRECTORY);
    return WaitFor([&] { return fs::exists(link); });
}

void RemoveFolderLink(const fs::path& link)
{
    if (!StartOnHost("/bin/rm", "-f \"" + HostPath(link) + "\""))
        RemoveDirectoryA(link.string().c_str());
    WaitFor([&] { return !fs::exists(link); });
}

void SetWriteTime(const std::string& path, const FILETIME& time)
{
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
}

TEST_F(DropTargetTest, PcTreeDroppedOnADrawerArrivesWholeWithItsAttributes)
{
    const fs::path tree = pc_.Path() / "tree";
    fs::create_directories(tree / "empty");
    fs::create_directories(tree / "sub");
    const std::string big = Pattern(test::PeerBigFileBytes(), 1);
    test::WriteWholeFile((tree / "big.bin").string(), big);
    test::WriteWholeFile((tree / "zero.bin").string(), "");
    test::WriteWholeFile((tree / "sub" / "locked.txt").string(), "read only");
    // Enough entries below a nested folder that the list grows while its parent is walked.
    fs::create_directories(tree / "sub" / "deeper");
    for (int i = 0; i < 8; ++i) {
        test::WriteWholeFile((tree / "sub" / ("s" + std::to_string(i))).string(), "s");
        test::WriteWholeFile((tree / "sub" / "deeper" / ("d" + std::to_string(i))).string(), "d");
    }
    SYSTEMTIME when = {2001, 2, 0, 3, 4, 5, 6, 0};
    FILETIME written = {};
    SystemTimeToFileTime(&when, &written);
    SetWriteTime((tree / "big.bin").string(), written);
    SetFileAttributesA((tree / "big.bin").string().c_str(), FILE_ATTRIBUTE_ARCHIVE);
    SetFileAttributesA((tree / "sub" / "locked.txt").string().c_str(), FILE_ATTRIBUTE_READONLY);

    ComPtr<IDataObject> data = PcItems(pc_.Path(), {"tree"});
    ComPtr<IShellFolder> work = Open("Work");
    DWORD entered = 0, dropped = 0;
    ASSERT_EQ(DropOn(work.Get(), "Docs", data.Get(), 0, &entered, &dropped), S_OK);
    EXPECT_EQ(entered, DWORD(DROPEFFECT_COPY));
    EXPECT_EQ(dropped, DWORD(DROPEFFECT_COPY));

    EXPECT_TRUE(Host("work/Docs/tree/big.bin") == big);
    EXPECT_TRUE(fs::exists(test::PeerHostPath("work/Docs/tree/zero.bin")));
    EXPECT_EQ(fs::file_size(test::PeerHostPath("work/Docs/tree/zero.bin")), 0u);
    EXPECT_TRUE(fs::is_directory(test::PeerHostPath("work/Docs/tree/empty")));
    EXPECT_EQ(Host("work/Docs/tree/sub/locked.txt"), "read only");
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(Host("work/Docs/tree/sub/s" + std::to_string(i)), "s") << i;
        EXPECT_EQ(Host("work/Docs/tree/sub/deeper/d" + std::to_string(i)), "d") << i;
    }
    // A copy leaves the PC alone.
    EXPECT_TRUE(fs::exists(tree / "big.bin"));

    ComPtr<IShellFolder> copied = Open("Work/Docs/tree");
    ASSERT_TRUE(copied);
    UniqueIdList bigItem = Item(copied.Get(), "big.bin");
    ASSERT_TRUE(bigItem);
    const ItemIdView bigView(bigItem.get());
    EXPECT_EQ(bigView.Size(), uint32_t(big.size()));
    EXPECT_TRUE(bigView.Protection() & protection::Archived);
    EXPECT_FALSE(bigView.Protection() & protection::WriteForbidden);
    const FILETIME modified = bigView.Modified();
    const int64_t apart = int64_t((uint64_t(modified.dwHighDateTime) << 32) | modified.dwLowDateTime) -
                          int64_t((uint64_t(written.dwHighDateTime) << 32) | written.dwLowDateTime);
    EXPECT_LT(std::llabs(apart), 10000000) << "the PC's write time did not arrive";
    ComPtr<IShellFolder> sub = Open("Work/Docs/tree/sub");
    UniqueIdList locked = Item(sub.Get(), "locked.txt");
    ASSERT_TRUE(locked);
    EXPECT_EQ(ItemIdView(locked.get()).Protection() &
                  (protection::WriteForbidden | protection::DeleteForbidden),
              protection::WriteForbidden | protection::DeleteForbidden);
    SetFileAttributesA((tree / "sub" / "locked.txt").string().c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(DropTargetTest, OverwriteQuestionsKeepOneAnswerForTheBatch)
{
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
        test::WriteWholeFile(test::PeerHostPath(std::string("work/Docs/") + name), "amiga");
        test::WriteWholeFile(pc_.File(name), std::string("pc ") + name);
    }
    ComPtr<IShellFolder> work = Open("Work");
    {
        // No for the first, Yes to All for the next: the third is replaced without asking.
        QuestionScript script({IDC_CONFIRM_NO, IDC_CONFIRM_YES_TO_ALL});
        ComPtr<IDataObject> data = PcItems(pc_.Path(), {"a.txt", "b.txt", "c.txt"});
        EXPECT_EQ(DropOn(work.Get(), "Docs", data.Get(), 0, nullptr, nullptr), S_OK);
        const auto asked = script.Finish();
        ASSERT_EQ(asked.size(), 2u);
        EXPECT_NE(asked[0].text.find("a.txt"), std::string::npos) << asked[0].text;
        EXPECT_NE(asked[0].text.find("replace this file"), std::string::npos) << asked[0].text;
        EXPECT_TRUE(asked[0].offeredYesToAll);
        EXPECT_EQ(script.unexpected, 0);
    }
    EXPECT_EQ(Host("work/Docs/a.txt"), "amiga");
    EXPECT_EQ(Host("work/Docs/b.txt"), "pc b.txt");
    EXPECT_EQ(Host("work/Docs/c.txt"), "pc c.txt");
    {
        // One file: only Yes and No.
        QuestionScript script({IDC_CONFIRM_YES});
        ComPtr<IDataObject> data = PcItems(pc_.Path(), {"a.txt"});
        EXPECT_EQ(DropOn(work.Get(), "Docs", data.Get(), 0, nullptr, nullptr), S_OK);
        const auto asked = script.Finish();
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_FALSE(asked[0].offeredYesToAll);
    }
    EXPECT_EQ(Host("work/Docs/a.txt"), "pc a.txt");

    // Cancel in a move stops the batch, and nothing is deleted on the PC, not even the file
    // that went before the question.
    test::WriteWholeFile(pc_.File("a.txt"), "newer a");
    test::WriteWholeFile(pc_.File("fresh.txt"), "fresh");
    {
        QuestionScript script({IDC_CONFIRM_CANCEL});
        ComPtr<IDataObject> data = PcItems(pc_.Path(), {"fresh.txt", "a.txt", "b.txt"});
        DWORD dropped = 0;
        EXPECT_EQ(DropOn(work.Get(), "Docs", data.Get(), MK_SHIFT, nullptr, &dropped),
                  HRESULT_FROM_WIN32(ERROR_CANCELLED));
        EXPECT_EQ(script.Finish().size(), 1u);
        EXPECT_NE(dropped, DWORD(DROPEFFECT_MOVE));
    }
    EXPECT_EQ(Host("work/Docs/fresh.txt"), "fresh");
    EXPECT_EQ(Host("work/Docs/a.txt"), "pc a.txt");
    for (const char* name : {"fresh.txt", "a.txt", "b.txt"})
        EXPECT_TRUE(fs::exists(pc_.File(name))) << name;
}

TEST_F(DropTargetTest, CutAndPasteMovesOnlyWhatArrivedAndEmptiesTheClipboardWhenAllDid)
{
    // "keep" holds a file the Amiga already has and the user declines to replace.
    const fs::path keep = pc_.Path() / "keep";
    fs::create_directories(keep / "deep");
    test::WriteWholeFile((keep / "old.txt").string(), "pc old");
    test::WriteWholeFile((keep / "go.txt").string(), "go");
    test::WriteWholeFile((keep / "deep" / "inner.txt").string(), "inner");
    fs::create_directories(test::PeerHostPath("work/Docs/keep"));
    test::WriteWholeFile(test::PeerHostPath("work/Docs/keep/old.txt"), "amiga old");

    ComPtr<IShellFolder> work = Open("Work");
    UniqueIdList docs = Item(work.Get(), "Docs");
    const ITEMIDLIST* target[] = {docs.get()};
    const auto cut = [&](const std::vector<std::string>& names) {
        ComPtr<IDataObject> shell = PcItems(pc_.Path(), names);
        ComPtr<IDataObject> clip(new PreferringDataObject(shell.Get(), DROPEFFECT_MOVE));
        EXPECT_EQ(OleSetClipboard(clip.Get()), S_OK);
    };
    cut({"keep"});
    {
        QuestionScript script({IDC_CONFIRM_NO});
        EXPECT_EQ(static_cast<AmigaFolder*>(work.Get())
                      ->DoCommand(ViewCommand::Paste, 1, target, nullptr),
                  S_OK);
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
    fs::create_directories(whole / "a" / "b");
    test::WriteWholeFile((whole / "a" / "b" / "c.txt").string(), "c");
    test::WriteWholeFile((whole / "top.txt").string(), "top");
    cut({"whole"});
    EXPECT_EQ(static_cast<AmigaFolder*>(work.Get())
                  ->DoCommand(ViewCommand::Paste, 1, target, nullptr),
              S_OK);
    EXPECT_EQ(Host("work/Docs/whole/a/b/c.txt"), "c");
    EXPECT_EQ(Host("work/Docs/whole/top.txt"), "top");
    EXPECT_FALSE(fs::exists(whole));
    EXPECT_FALSE(IsClipboardFormatAvailable(Formats()->shellIdListArray));

    // Nothing left to paste.
    EXPECT_EQ(static_cast<AmigaFolder*>(work.Get())
                  ->DoCommand(ViewCommand::Paste, 1, target, nullptr),
              S_FALSE);

    // A tree holding a link to a folder elsewhere: what the link leads to arrives, and stays.
    const fs::path linked = pc_.Path() / "linked", elsewhere = pc_.Path() / "elsewhere";
    fs::create_directories(linked);
    fs::create_directories(elsewhere);
    test::WriteWholeFile((linked / "own.txt").string(), "own");
    test::WriteWholeFile((elsewhere / "precious.txt").string(), "precious");
    ASSERT_TRUE(MakeFolderLink(linked / "outside", elsewhere));
    cut({"linked"});
    EXPECT_EQ(static_cast<AmigaFolder*>(work.Get())
                  ->DoCommand(ViewCommand::Paste, 1, target, nullptr),
              S_OK);
    EXPECT_EQ(Host("work/Docs/linked/own.txt"), "own");
    EXPECT_EQ(Host("work/Docs/linked/outside/precious.txt"), "precious");
    EXPECT_FALSE(fs::exists(linked / "own.txt"));
    EXPECT_EQ(test::ReadWholeFile((elsewhere / "precious.txt").string()), "precious")
        << "a move deleted a file outside the moved folder, through a link";
    RemoveFolderLink(linked / "outside");
}

TEST_F(DropTargetTest, AmigaItemsMoveWithinAVolumeCopyAcrossAndNeverIntoThemselves)
{
    ComPtr<IShellFolder> work = Open("Work");
    const auto dragOf = [](IShellFolder* folder, const std::string& name) {
        UniqueIdList item = Item(folder, name);
        const ITEMIDLIST* items[] = {item.get()};
        ComPtr<IDataObject> data;
        EXPECT_EQ(folder->GetUIObjectOf(nullptr, 1, items, IID_IDataObject, nullptr,
                                        reinterpret_cast<void**>(data.GetAddressOf())),
                  S_OK);
        return data;
    };

    DWORD entered = 0, dropped = 0;
    ComPtr<IDataObject> readme = dragOf(work.Get(), "readme.txt");
    EXPECT_EQ(DropOn(work.Get(), "Docs", readme.Get(), 0, &entered, &dropped), S_OK);
    EXPECT_EQ(entered, DWORD(DROPEFFECT_MOVE));
    EXPECT_EQ(dropped, DWORD(DROPEFFECT_MOVE));
    EXPECT_EQ(Host("work/Docs/readme.txt"), "hello amiga\n");
    EXPECT_FALSE(fs::exists(test::PeerHostPath("work/readme.txt")));
    EXPECT_FALSE(Item(work.Get(), "readme.txt")) << "the moved item is still listed";

    ComPtr<IShellFolder> data = Open("Data");
    ComPtr<IDataObject> notes = dragOf(data.Get(), "notes.txt");
    EXPECT_EQ(DropOn(work.Get(), "Docs", notes.Get(), 0, &entered, &dropped), S_OK);
    EXPECT_EQ(entered, DWORD(DROPEFFECT_COPY));
    EXPECT_EQ(Host("work/Docs/notes.txt"), "notes\n");
    EXPECT_EQ(Host("data/notes.txt"), "notes\n");

    // Shift asks for a move, but a volume can only be copied.
    ComPtr<IShellFolder> root = Root();
    ComPtr<IDataObject> volume = dragOf(root.Get(), "Data");
    EXPECT_EQ(DropOn(work.Get(), "Docs", volume.Get(), MK_SHIFT, &entered, &dropped), S_OK);
    EXPECT_EQ(entered, DWORD(DROPEFFECT_COPY));
    EXPECT_EQ(dropped, DWORD(DROPEFFECT_COPY));
    EXPECT_EQ(Host("work/Docs/Data/notes.txt"), "notes\n");
    EXPECT_EQ(Host("data/notes.txt"), "notes\n");

    // Onto itself, into its own drawer, and into the drawer that already lists it.
    ComPtr<IShellFolder> devs = Open("Work/Devs");
    ComPtr<IShellFolder> docs = Open("Work/Docs");
    struct Case {
        IShellFolder* folder;
        const char* target;
        ComPtr<IDataObject> data;
        const char* name;
    } cases[] = {
        {work.Get(), "Devs", dragOf(work.Get(), "Devs"), "Devs"},
        {devs.Get(), "Keymaps", dragOf(work.Get(), "Devs"), "Devs"},
        {work.Get(), "Docs", dragOf(docs.Get(), "letter.txt"), "letter.txt"},
    };
    for (Case& c : cases) {
        std::string message;
        {
            test::DialogDriver driver([&message](HWND box) {
                for (const std::string& text : test::StaticTexts(box))
                    message += text;
                test::PressButton(box, IDOK);
            });
            EXPECT_EQ(DropOn(c.folder, c.target, c.data.Get(), 0, nullptr, &dropped), S_OK);
            EXPECT_TRUE(driver.Found()) << c.name;
        }
        EXPECT_EQ(dropped, 0u) << c.name;
        EXPECT_NE(message.find(std::string("Cannot move ") + c.name +
                               ": the destination folder is the same as the source folder."),
                  std::string::npos)
            << message;
    }
    EXPECT_TRUE(fs::is_directory(test::PeerHostPath("work/Devs/Keymaps")));
    EXPECT_FALSE(fs::exists(test::PeerHostPath("work/Devs/Keymaps/Devs")));
    EXPECT_TRUE(fs::exists(test::PeerHostPath("work/Docs/letter.txt")));

    // A drawer whose name merely begins like the dragged one's is somewhere else.
    fs::create_directories(test::PeerHostPath("work/DevsOld"));
    ComPtr<IShellFolder> fresh = Open("Work");
    EXPECT_EQ(DropOn(fresh.Get(), "DevsOld", dragOf(fresh.Get(), "Devs").Get(), 0, nullptr,
                     &dropped),
              S_OK);
    EXPECT_EQ(dropped, DWORD(DROPEFFECT_MOVE));
    EXPECT_TRUE(fs::is_directory(test::PeerHostPath("work/DevsOld/Devs/Keymaps")));
}

// The visible popup menu of a thread (class "#32768"), into *found.
BOOL CALLBACK FindPopupMenu(HWND window, LPARAM found)
{
    char name[16] = {};
    GetClassNameA(window, name, sizeof name);
    if (IsWindowVisible(window) && std::string(name) == "#32768") {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

TEST_F(DropTargetTest, RightButtonDropAsksAndClosingTheMenuKeepsTheDefault)
{
    HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr);
    ASSERT_TRUE(owner);
    const DWORD uiThread = GetCurrentThreadId();
    // Finds the drop menu and hands it a key, as a user at the keyboard would.
    const auto menuKey = [uiThread](UINT message, WPARAM key) {
        return std::thread([=] {
            for (int i = 0; i < 500; ++i) {
                HWND menu = nullptr;
                EnumThreadWindows(uiThread, FindPopupMenu, reinterpret_cast<LPARAM>(&menu));
                if (menu) {
                    PostMessageA(menu, message, key, 0);
                    return;
                }
                Sleep(20);
            }
        });
    };
    test::WriteWholeFile(pc_.File("chosen.txt"), "chosen");
    test::WriteWholeFile(pc_.File("kept.txt"), "kept");
    ComPtr<IShellFolder> work = Open("Work");

    // Something of the user's own on the clipboard, which a drag has nothing to do with.
    ASSERT_TRUE(OpenClipboard(owner));
    EmptyClipboard();
    HGLOBAL text = GlobalAlloc(GMEM_MOVEABLE, 6);
    std::memcpy(GlobalLock(text), "mine", 5);
    GlobalUnlock(text);
    SetClipboardData(CF_TEXT, text);
    CloseClipboard();

    DWORD dropped = 0;
    std::thread choose = menuKey(WM_CHAR, 'm');
    EXPECT_EQ(DropOn(work.Get(), "Docs", PcItems(pc_.Path(), {"chosen.txt"}).Get(), MK_RBUTTON,
                     nullptr, &dropped, owner),
              S_OK);
    choose.join();
    EXPECT_EQ(dropped, DWORD(DROPEFFECT_MOVE));
    EXPECT_EQ(Host("work/Docs/chosen.txt"), "chosen");
    EXPECT_FALSE(fs::exists(pc_.File("chosen.txt")));
    EXPECT_TRUE(IsClipboardFormatAvailable(CF_TEXT)) << "a dragged move emptied the clipboard";

    std::thread close = menuKey(WM_KEYDOWN, VK_ESCAPE);
    EXPECT_EQ(DropOn(work.Get(), "Docs", PcItems(pc_.Path(), {"kept.txt"}).Get(), MK_RBUTTON,
                     nullptr, &dropped, owner),
              S_OK);
    close.join();
    EXPECT_EQ(dropped, DWORD(DROPEFFECT_COPY));
    EXPECT_EQ(Host("work/Docs/kept.txt"), "kept");
    EXPECT_TRUE(fs::exists(pc_.File("kept.txt")));
    DestroyWindow(owner);
}

TEST_F(DropTargetTest, AFloppySizedFileOnTheDriveWritesItsDiskImageAndReadsBackWhole)
{
    const std::string image = Pattern(901120, 3);
    test::WriteWholeFile(pc_.File("game.adf"), image);
    test::WriteWholeFile(pc_.File("short.adf"), Pattern(4096, 4));
    ComPtr<IShellFolder> root = Root();
    {
        QuestionScript script({IDC_CONFIRM_YES});
        EXPECT_EQ(DropOn(root.Get(), "Blank", PcItems(pc_.Path(), {"game.adf"}).Get(), 0, nullptr,
                         nullptr),
                  S_OK);
        const auto asked = script.Finish();
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_NE(asked[0].text.find("replace the contents of this volume"), std::string::npos)
            << asked[0].text;
    }
    EXPECT_TRUE(Host("df1.adf") == image);
    EXPECT_FALSE(fs::exists(test::PeerHostPath("blank/game.adf")));

    // Read back through the image item, as the shell copies it to the PC.
    {
        UniqueIdList adf = Item(root.Get(), "df1.adf");
        ASSERT_TRUE(adf);
        const ITEMIDLIST* items[] = {adf.get()};
        ComPtr<IDataObject> data;
        ASSERT_EQ(root->GetUIObjectOf(nullptr, 1, items, IID_IDataObject, nullptr,
                                      reinterpret_cast<void**>(data.GetAddressOf())),
                  S_OK);
        FORMATETC contents = MakeFormatEtc(Formats()->fileContents, TYMED_ISTREAM, 0);
        STGMEDIUM medium = {};
        ASSERT_EQ(data->GetData(&contents, &medium), S_OK);
        std::string read;
        char buffer[8192];
        ULONG got = 0;
        while (SUCCEEDED(medium.pstm->Read(buffer, sizeof buffer, &got)) && got > 0)
            read.append(buffer, got);
        ReleaseStgMedium(&medium);
        EXPECT_TRUE(read == image) << read.size() << " bytes read";
    }

    // Straight onto the image item, the Amiga refuses a file of another size.
    std::string refusal;
    {
        QuestionScript script({IDOK});
        EXPECT_EQ(DropOn(root.Get(), "df1.adf", PcItems(pc_.Path(), {"short.adf"}).Get(), 0,
                         nullptr, nullptr),
                  E_FAIL);
        for (const auto& asked : script.Finish())
            refusal += asked.text;
    }
    EXPECT_NE(refusal.find("does not match"), std::string::npos) << refusal;
    EXPECT_TRUE(Host("df1.adf") == image);
}

TEST_F(DropTargetTest, PastingAnAmigaCopyRunsTheAmigasOwnCopy)
{
    ComPtr<IShellFolder> work = Open("Work");
    UniqueIdList readme = Item(work.Get(), "readme.txt");
    ASSERT_EQ(UpdateItemEverywhere(readme.get(), ItemIdView(readme.get()).Protection() & 0xFF,
                                   "carried by the Amiga"),
              S_OK);
    readme = Item(work.Get(), "readme.txt");
    const ITEMIDLIST* items[] = {readme.get()};
    AmigaFolder& folder = *static_cast<AmigaFolder*>(work.Get());
    ASSERT_EQ(folder.DoCommand(ViewCommand::Copy, 1, items, nullptr), S_OK);

    UniqueIdList devs = Item(work.Get(), "Devs");
    const ITEMIDLIST* target[] = {devs.get()};
    EXPECT_EQ(folder.DoCommand(ViewCommand::Paste, 1, target, nullptr), S_OK);
    EXPECT_EQ(Host("work/Devs/readme.txt"), "hello amiga\n");
    EXPECT_EQ(Host("work/readme.txt"), "hello amiga\n");
    // An upload would have come without the comment, which only the Amiga's copy carries.
    ComPtr<IShellFolder> copied = Open("Work/Devs");
    UniqueIdList copy = Item(copied.Get(), "readme.txt");
    ASSERT_TRUE(copy);
    EXPECT_EQ(ItemIdView(copy.get()).Comment(), "carried by the Amiga");

    // Into the folder itself: Keymaps pastes into its own drawer through its parent.
    ComPtr<IShellFolder> keymaps = Open("Work/Devs/Keymaps");
    EXPECT_EQ(static_cast<AmigaFolder*>(keymaps.Get())
                  ->DoCommand(ViewCommand::Paste, 0, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(Host("work/Devs/Keymaps/readme.txt"), "hello amiga\n");
    EXPECT_EQ(static_cast<AmigaFolder*>(Root().Get())
                  ->DoCommand(ViewCommand::Paste, 0, nullptr, nullptr),
              E_FAIL);
}

// A PC folder as the target of a drag out of the view: a window of its own under the cursor that
// takes virtual files as Explorer does, noting what the data object offered on the way.
class PcFolderWindow final : public IDropTarget {
public:
    explicit PcFolderWindow(fs::path folder) : folder_(std::move(folder))
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
        RECT rect = {};
        GetWindowRect(window, &rect);
        SetCursorPos((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
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
        // The user lets go over the folder.
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
        for (size_t i = 0; i < descriptors_.size(); ++i) {
            const FILEDESCRIPTORA& file = descriptors_[i];
            const fs::path target = folder_ / fs::path(file.cFileName);
            if (file.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                fs::create_directories(target);
                continue;
            }
            FORMATETC contents = {CLIPFORMAT(RegisterClipboardFormatA("FileContents")), nullptr,
                                  DVASPECT_CONTENT, LONG(i), TYMED_ISTREAM | TYMED_HGLOBAL};
            STGMEDIUM medium = {};
            if (FAILED(data->GetData(&contents, &medium)))
                continue;
            std::string bytes;
            if (medium.tymed == TYMED_ISTREAM) {
                char buffer[1024];
                ULONG read = 0;
                while (SUCCEEDED(medium.pstm->Read(buffer, sizeof buffer, &read)) && read > 0)
                    bytes.append(buffer, read);
            }
            ReleaseStgMedium(&medium);
            test::WriteWholeFile(target.string(), bytes);
        }
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
    std::string namesAtEnter, namesAtDrop;

private:
    // The names the file group descriptor offers, "|"-separated.
    std::string Names(IDataObject& data)
    {
        descriptors_.clear();
        FORMATETC format = {CLIPFORMAT(RegisterClipboardFormatA("FileGroupDescriptor")), nullptr,
                            DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        STGMEDIUM medium = {};
        if (FAILED(data.GetData(&format, &medium)))
            return "none";
        const auto* group = static_cast<FILEGROUPDESCRIPTORA*>(GlobalLock(medium.hGlobal));
        std::string names;
        for (UINT i = 0; i < group->cItems; ++i) {
            descriptors_.push_back(group->fgd[i]);
            names += (i ? "|" : "") + std::string(group->fgd[i].cFileName);
        }
        GlobalUnlock(medium.hGlobal);
        ReleaseStgMedium(&medium);
        return names;
    }

    fs::path folder_;
    std::vector<FILEDESCRIPTORA> descriptors_;
};

TEST_F(DropTargetTest, ADrawerDraggedOutOfTheViewArrivesWholeOnlyOnceDropped)
{
    test::TestBrowser browser;
    ComPtr<IShellFolder> work = Open("Work");
    ComPtr<IShellView> view;
    ASSERT_EQ(work->CreateViewObject(nullptr, IID_PPV_ARGS(&view)), S_OK);
    FOLDERSETTINGS settings = {FVM_DETAILS, 0};
    RECT rect = {0, 0, 640, 400};
    HWND window = nullptr;
    ASSERT_EQ(view->CreateViewWindow(nullptr, &settings, &browser, &rect, &window), S_OK);
    HWND list = static_cast<AmigaView*>(view.Get())->ListWindow();
    LVFINDINFOA find = {};
    find.flags = LVFI_STRING;
    find.psz = "Docs";
    const int row = int(SendMessageA(list, LVM_FINDITEMA, WPARAM(-1), LPARAM(&find)));
    ASSERT_GE(row, 0);
    LVITEMA state = {};
    state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));

    // The drag starts with the left button held over the PC folder, which lets it go.
    PcFolderWindow pc(pc_.Path());
    PcFolderWindow::HoldLeftButton(true);
    NMLISTVIEW begin = {};
    begin.hdr = {list, AmigaView::kListId, UINT(LVN_BEGINDRAG)};
    begin.iItem = row;
    SendMessageA(window, WM_NOTIFY, AmigaView::kListId, reinterpret_cast<LPARAM>(&begin));

    // "InShellDragLoop" keeps the drawer folded while the drag hovers, and its end unfolds it.
    EXPECT_EQ(pc.namesAtEnter, "Docs") << "the drawer was expanded while only hovering";
    EXPECT_EQ(pc.namesAtDrop, "Docs|Docs\\letter.txt") << "the drag loop never ended";
    EXPECT_EQ(test::ReadWholeFile((pc_.Path() / "Docs" / "letter.txt").string()), std::string(3000, '\0'));
    EXPECT_EQ(Host("work/Docs/letter.txt").size(), 3000u) << "a copy took the source away";
    view->DestroyViewWindow();
}

TEST_F(DropTargetTest, TheViewHandsADragToTheRowUnderTheCursorOrElseToItsFolderAndScrolls)
{
    test::TestBrowser browser;
    ComPtr<IShellFolder> work = Open("Work");
    ComPtr<IShellView> view;
    ASSERT_EQ(work->CreateViewObject(nullptr, IID_PPV_ARGS(&view)), S_OK);
    FOLDERSETTINGS settings = {FVM_DETAILS, 0};
    RECT rect = {0, 0, 640, 400};
    HWND window = nullptr;
    ASSERT_EQ(view->CreateViewWindow(nullptr, &settings, &browser, &rect, &window), S_OK);
    HWND list = static_cast<AmigaView*>(view.Get())->ListWindow();
    ASSERT_TRUE(list);
    ComPtr<IDropTarget> target;
    ASSERT_EQ(view.As(&target), S_OK);

    // The screen point at the middle of the row showing `name`, or below every row.
    const auto pointAt = [list](const char* name) {
        const int rows = int(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
        POINT point = {60, 0};
        for (int i = 0; i < rows; ++i) {
            char text[64] = {};
            LVITEMA item = {};
            item.pszText = text;
            item.cchTextMax = sizeof text;
            SendMessageA(list, LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(&item));
            RECT bounds = {};
            bounds.left = LVIR_LABEL;
            SendMessageA(list, LVM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&bounds));
            if (name && std::string(text) == name)
                point = {(bounds.left + bounds.right) / 2, (bounds.top + bounds.bottom) / 2};
            point.y = name ? point.y : std::max<LONG>(point.y, bounds.bottom + 40);
        }
        ClientToScreen(list, &point);
        return POINTL {point.x, point.y};
    };
    const auto highlighted = [list] {
        return int(SendMessageA(list, LVM_GETNEXTITEM, WPARAM(-1), LVNI_DROPHILITED));
    };

    test::WriteWholeFile(pc_.File("onrow.txt"), "on the row");
    test::WriteWholeFile(pc_.File("onspace.txt"), "on empty space");
    test::WriteWholeFile(pc_.File("onfile.txt"), "on a file");

    const auto drag = [&](const char* file, const char* over) {
        ComPtr<IDataObject> data = PcItems(pc_.Path(), {file});
        DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
        const POINTL point = pointAt(over);
        EXPECT_EQ(target->DragEnter(data.Get(), 0, point, &effect), S_OK);
        EXPECT_EQ(effect, DWORD(DROPEFFECT_COPY)) << file;
        const int row = highlighted();
        effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
        EXPECT_EQ(target->Drop(data.Get(), 0, point, &effect), S_OK);
        EXPECT_EQ(effect, DWORD(DROPEFFECT_COPY)) << file;
        EXPECT_EQ(highlighted(), -1) << "the highlight outlived the drop";
        return row;
    };
    EXPECT_GE(drag("onrow.txt", "Docs"), 0) << "the accepting row was not highlighted";
    EXPECT_EQ(Host("work/Docs/onrow.txt"), "on the row");
    EXPECT_EQ(drag("onspace.txt", nullptr), -1);
    EXPECT_EQ(Host("work/onspace.txt"), "on empty space");
    // A file row takes nothing: the folder shown does.
    EXPECT_EQ(drag("onfile.txt", "readme.txt"), -1);
    EXPECT_EQ(Host("work/onfile.txt"), "on a file");

    // Resting near the bottom edge of a list too short for its rows scrolls it after a while,
    // and says so in the effect.
    MoveWindow(window, 0, 0, 640, 70, TRUE);
    RECT client = {};
    GetClientRect(list, &client);
    POINT edge = {60, client.bottom - 4};
    ClientToScreen(list, &edge);
    ComPtr<IDataObject> data = PcItems(pc_.Path(), {"onrow.txt"});
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
