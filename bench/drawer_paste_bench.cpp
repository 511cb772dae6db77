// Many small files against the same bytes in one, read the way a paste target reads the
// folder's data object (the group descriptor, then one "FileContents" stream per file, each
// released before the next): a drawer of 100 files of 1 KB against one file of 100 KB, over TCP
// loopback to the emulated Amiga, in one run. Also what opening a drawer costs: the enumeration
// of a fresh folder object of that drawer.
//
// Run it as one command line:
//   tools/with-peer build/native/peer/amiga-peer build/windows/wine-run
//       build/windows/bench/drawer_paste_bench.exe
#include "core/amiga_paths.h"
#include "module/ui_objects.h"
#include "shell/amiga_folder.h"
#include "shell/item_id.h"
#include "shell/remote_operation.h"
#include "support/test_peer.h"
#include "transfer/clipboard_formats.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace dm {
namespace {

constexpr int kFiles = 100;
constexpr size_t kFileSize = 1024;
constexpr int kRuns = 7;
constexpr int kOpenings = 15;

using Clock = std::chrono::steady_clock;
// Where the drawer's pastes spend their time per file: getting the stream, reading it, and
// releasing it (which ends the read and asks for the file's error).
struct Phases {
    double open = 0, read = 0, release = 0;
    int files = 0;
};
Phases g_drawerPhases;

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The item named `name` of `folder`, from a fresh enumeration.
UniqueIdList Item(IShellFolder* folder, std::string_view name)
{
    IEnumIDList* walk = nullptr;
    UniqueIdList found;
    if (SUCCEEDED(folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, &walk)) &&
        walk) {
        ITEMIDLIST* item = nullptr;
        while (!found && walk->Next(1, &item, nullptr) == S_OK) {
            UniqueIdList owned(item);
            const ItemIdView view(owned.get());
            if (DisplayName(view.Name(), view.Kind()) == name)
                found = std::move(owned);
        }
        walk->Release();
    }
    return found;
}

IShellFolder* Bind(IShellFolder* folder, const ITEMIDLIST* item)
{
    IShellFolder* child = nullptr;
    if (!item || FAILED(folder->BindToObject(item, nullptr, IID_IShellFolder,
                                             reinterpret_cast<void**>(&child))))
        return nullptr;
    return child;
}

// Seconds to paste `item` of `folder` as a paste target does; negative when a byte is missing.
double Paste(IShellFolder* folder, const ITEMIDLIST* item, uint64_t expected)
{
    const auto start = Clock::now();
    IDataObject* data = nullptr;
    if (FAILED(folder->GetUIObjectOf(nullptr, 1, &item, IID_IDataObject, nullptr,
                                     reinterpret_cast<void**>(&data))))
        return -1;
    FORMATETC descriptor = MakeFormatEtc(Formats()->fileGroupDescriptor);
    STGMEDIUM medium = {};
    uint64_t total = 0;
    if (SUCCEEDED(data->GetData(&descriptor, &medium))) {
        const auto* group = static_cast<const FILEGROUPDESCRIPTORA*>(GlobalLock(medium.hGlobal));
        const UINT count = group ? group->cItems : 0;
        std::vector<bool> folders;
        for (UINT i = 0; i < count; ++i)
            folders.push_back(group->fgd[i].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        GlobalUnlock(medium.hGlobal);
        ReleaseStgMedium(&medium);
        std::vector<char> buffer(64 * 1024);
        for (UINT i = 0; i < count; ++i) {
            if (folders[i])
                continue;
            FORMATETC contents = MakeFormatEtc(Formats()->fileContents, TYMED_ISTREAM, LONG(i));
            STGMEDIUM stream = {};
            Phases step;
            auto phase = Clock::now();
            if (FAILED(data->GetData(&contents, &stream)))
                break;
            step.open = Seconds(phase);
            phase = Clock::now();
            ULONG got = 0;
            while (SUCCEEDED(stream.pstm->Read(buffer.data(), ULONG(buffer.size()), &got)) &&
                   got > 0)
                total += got;
            step.read = Seconds(phase);
            phase = Clock::now();
            ReleaseStgMedium(&stream);
            step.release = Seconds(phase);
            if (count > 1) {
                g_drawerPhases.open += step.open;
                g_drawerPhases.read += step.read;
                g_drawerPhases.release += step.release;
                ++g_drawerPhases.files;
            }
        }
    }
    data->Release();
    return total == expected ? Seconds(start) : -1;
}

// Seconds to read the files straight from the packet layer, each followed by its error report
// as the stream does: the protocol's own round trips, the bound of a paste.
double BareRead(const std::vector<RemoteItem>& files, uint64_t expected)
{
    std::vector<char> buffer(64 * 1024);
    uint64_t total = 0;
    const auto start = Clock::now();
    RemoteSession::Process().AddRef();
    RemoteSession::Process().KeepOpen();
    for (const RemoteItem& file : files) {
        RunRemote(nullptr, [&](PacketChannel& channel) {
            uint32_t size = 0;
            HRESULT hr = channel.OpenFile(file, &size);
            for (uint32_t got = 1; SUCCEEDED(hr) && got > 0;) {
                hr = channel.ReadFileData(buffer.data(), uint32_t(buffer.size()), &got);
                total += got;
            }
            const HRESULT ended = channel.EndFileRead();
            uint32_t code = 0;
            std::string text;
            const HRESULT reported = channel.GetLastError(code, text);
            return FAILED(hr) ? hr : FAILED(ended) ? ended : reported;
        });
    }
    RemoteSession::Process().EndKeepOpen();
    RemoteSession::Process().Release();
    return total == expected ? Seconds(start) : -1;
}

int Run()
{
    if (!test::UseTestPeer()) {
        std::fprintf(stderr, "run under tools/with-peer\n");
        return 77;
    }
    RegisterUiObjects();
    OleInitialize(nullptr);
    CreateDirectoryA(test::PeerHostPath("work/small").c_str(), nullptr);
    std::string block(kFileSize, 'x');
    for (int i = 0; i < kFiles; ++i) {
        std::ofstream(test::PeerHostPath("work/small/f" + std::to_string(i)), std::ios::binary)
            << block;
    }
    std::ofstream(test::PeerHostPath("work/whole.bin"), std::ios::binary)
        << std::string(kFiles * kFileSize, 'y');

    int status = 1;
    IShellFolder* root = nullptr;
    if (SUCCEEDED(AmigaFolder::Create(IID_IShellFolder, reinterpret_cast<void**>(&root)))) {
        IPersistFolder* persist = nullptr;
        if (SUCCEEDED(root->QueryInterface(IID_IPersistFolder, reinterpret_cast<void**>(&persist)))) {
            persist->Initialize(nullptr);
            persist->Release();
        }
        const UniqueIdList volume = Item(root, "Work");
        IShellFolder* work = Bind(root, volume.get());
        const UniqueIdList drawer = work ? Item(work, "small") : nullptr;
        const UniqueIdList file = work ? Item(work, "whole.bin") : nullptr;
        if (drawer && file) {
            std::vector<double> drawerTimes, fileTimes, openings, bareDrawer, bareFile;
            std::vector<RemoteItem> smallFiles;
            for (int i = 0; i < kFiles; ++i)
                smallFiles.push_back({"DH0:Work/small", "f" + std::to_string(i), ItemKind::File,
                                      uint32_t(kFileSize)});
            const std::vector<RemoteItem> wholeFile = {
                {"DH0:Work", "whole.bin", ItemKind::File, uint32_t(kFiles * kFileSize)}};
            for (int run = 0; run < kRuns; ++run) {
                drawerTimes.push_back(Paste(work, drawer.get(), kFiles * kFileSize));
                fileTimes.push_back(Paste(work, file.get(), kFiles * kFileSize));
                bareDrawer.push_back(BareRead(smallFiles, kFiles * kFileSize));
                bareFile.push_back(BareRead(wholeFile, kFiles * kFileSize));
            }
            for (int run = 0; run < kOpenings; ++run) {
                const auto start = Clock::now();
                IShellFolder* opened = Bind(work, drawer.get());
                IEnumIDList* walk = nullptr;
                int items = 0;
                if (opened && SUCCEEDED(opened->EnumObjects(
                                  nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, &walk)) && walk) {
                    ITEMIDLIST* item = nullptr;
                    while (walk->Next(1, &item, nullptr) == S_OK) {
                        UniqueIdList owned(item);
                        ++items;
                    }
                    walk->Release();
                }
                openings.push_back(items == kFiles ? Seconds(start) : -1);
                if (opened)
                    opened->Release();
            }
            const bool failed = *std::min_element(drawerTimes.begin(), drawerTimes.end()) < 0 ||
                                *std::min_element(fileTimes.begin(), fileTimes.end()) < 0 ||
                                *std::min_element(bareDrawer.begin(), bareDrawer.end()) < 0 ||
                                *std::min_element(bareFile.begin(), bareFile.end()) < 0 ||
                                *std::min_element(openings.begin(), openings.end()) < 0;
            if (failed) {
                std::fprintf(stderr, "a paste or an enumeration came back short\n");
            } else {
                // Each run's own ratio, of cases run back to back: a load that comes and goes
                // on a shared machine weighs on both.
                std::vector<double> ratios, bareRatios;
                for (int run = 0; run < kRuns; ++run) {
                    ratios.push_back(drawerTimes[run] / fileTimes[run]);
                    bareRatios.push_back(bareDrawer[run] / bareFile[run]);
                }
                const double d = Median(drawerTimes), f = Median(fileTimes);
                std::printf("paste of %d files of %zu bytes: %.3f s; of one file of %zu bytes: "
                            "%.3f s; ratio %.2f (medians of %d)\n",
                            kFiles, kFileSize, d, kFiles * kFileSize, f, Median(ratios), kRuns);
                const double bd = Median(bareDrawer), bf = Median(bareFile);
                std::printf("the same read straight from the packet layer: %.3f s and %.3f s; "
                            "ratio %.2f\n",
                            bd, bf, Median(bareRatios));
                std::printf("opening a drawer of %d files (fresh folder object): %.1f ms "
                            "(median of %d)\n",
                            kFiles, Median(openings) * 1000, kOpenings);
                status = 0;
                const Phases& p = g_drawerPhases;
                std::printf("per file of the drawer's pastes: %.2f ms getting the stream, %.2f ms "
                            "reading it, %.2f ms releasing it (the packet layer: %.2f ms in all)\n",
                            p.open * 1000 / p.files, p.read * 1000 / p.files,
                            p.release * 1000 / p.files, bd * 1000 / kFiles);
            }
        }
        if (work)
            work->Release();
        root->Release();
    }
    OleUninitialize();
    return status;
}

}  // namespace
}  // namespace dm

int main()
{
    return dm::Run();
}
