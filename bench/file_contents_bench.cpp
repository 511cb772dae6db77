// A 100 MB Amiga file read the way Explorer pastes it, through the data object's "FileContents"
// stream, against the same file read straight from the packet layer in the same run, over TCP
// loopback to the emulated Amiga. Prints the stream's throughput as a share of the bare read's,
// and how much the process's peak memory grew: the file must flow through, never be staged.
//
//   tools/with-peer build/native/peer/amiga-peer build/windows/wine-run
//       build/windows/bench/file_contents_bench.exe
#include "module/ui_objects.h"
#include "protocol/packet_channel.h"
#include "protocol/remote_session.h"
#include "shell/amiga_folder.h"
#include "shell/item_id.h"
#include "shell/remote_operation.h"
#include "support/test_peer.h"
#include "transfer/clipboard_formats.h"

#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <vector>

namespace dm {
namespace {

constexpr uint32_t kFileSize = 100u << 20;
constexpr size_t kReadSize = 64 * 1024;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

size_t PeakPrivateBytes()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakPagefileUsage;
}

// The file straight from the packet layer: the bound the stream is measured against.
double BareRead(std::vector<char>& buffer)
{
    const RemoteItem file {"DH0:Work", "hundred.bin", ItemKind::File, kFileSize};
    uint32_t total = 0;
    const auto start = Clock::now();
    const HRESULT hr = RunRemote(nullptr, [&](PacketChannel& channel) {
        uint32_t size = 0;
        HRESULT result = channel.OpenFile(file, &size);
        while (SUCCEEDED(result) && total < size) {
            uint32_t got = 0;
            result = channel.ReadFileData(buffer.data(), uint32_t(buffer.size()), &got);
            total += got;
            if (got == 0)
                break;
        }
        const HRESULT ended = channel.EndFileRead();
        return FAILED(result) ? result : ended;
    });
    return SUCCEEDED(hr) && total == kFileSize ? Seconds(start) : -1;
}

// The same file as a paste target reads it.
double StreamRead(std::vector<char>& buffer)
{
    AmigaFolder* folder = AmigaFolder::New();
    folder->AddRef();
    UniqueIdList item(MakeItemId("DH0:Work", "hundred.bin", ItemKind::File, kFileSize, 0, 0, {}, ""));
    const ITEMIDLIST* items[] = {item.get()};
    IDataObject* data = nullptr;
    double seconds = -1;
    if (SUCCEEDED(folder->GetUIObjectOf(nullptr, 1, items, IID_IDataObject, nullptr,
                                        reinterpret_cast<void**>(&data)))) {
        const auto start = Clock::now();
        FORMATETC descriptor = MakeFormatEtc(Formats()->fileGroupDescriptor);
        FORMATETC contents = MakeFormatEtc(Formats()->fileContents, TYMED_ISTREAM, 0);
        STGMEDIUM medium = {};
        uint64_t total = 0;
        if (SUCCEEDED(data->GetData(&descriptor, &medium))) {
            ReleaseStgMedium(&medium);
            if (SUCCEEDED(data->GetData(&contents, &medium))) {
                ULONG got = 0;
                while (SUCCEEDED(medium.pstm->Read(buffer.data(), ULONG(buffer.size()), &got)) &&
                       got > 0)
                    total += got;
                ReleaseStgMedium(&medium);
            }
        }
        if (total == kFileSize)
            seconds = Seconds(start);
        data->Release();
    }
    folder->Release();
    return seconds;
}

int Run()
{
    if (!test::UseTestPeer()) {
        std::fprintf(stderr, "run under tools/with-peer\n");
        return 77;
    }
    RegisterUiObjects();
    OleInitialize(nullptr);
    {
        std::ofstream file(test::PeerHostPath("work/hundred.bin"), std::ios::binary);
        std::vector<char> block(1 << 20);
        for (uint32_t i = 0; i < kFileSize / block.size(); ++i) {
            for (size_t j = 0; j < block.size(); j += 4096)
                block[j] = char(i + j);
            file.write(block.data(), std::streamsize(block.size()));
        }
    }
    std::vector<char> buffer(kReadSize);
    const size_t before = PeakPrivateBytes();
    const double bare = BareRead(buffer);
    const size_t afterBare = PeakPrivateBytes();
    const double stream = StreamRead(buffer);
    const size_t afterStream = PeakPrivateBytes();
    DeleteFileA(test::PeerHostPath("work/hundred.bin").c_str());
    if (bare <= 0 || stream <= 0) {
        std::fprintf(stderr, "a read failed (bare %.2f s, stream %.2f s)\n", bare, stream);
        return 1;
    }
    const double mb = double(kFileSize) / (1 << 20);
    std::printf("bare packet-layer read: %.1f MB/s\n", mb / bare);
    std::printf("FileContents stream:    %.1f MB/s = %.3f of the bare read\n", mb / stream,
                bare / stream);
    std::printf("peak private memory grew %.2f MB reading %.0f MB through the stream "
                "(%.4f of the file; %.2f MB for the bare read)\n",
                double(afterStream - afterBare) / (1 << 20), mb,
                double(afterStream - afterBare) / kFileSize, double(afterBare - before) / (1 << 20));
    OleUninitialize();
    return 0;
}

}  // namespace
}  // namespace dm

int main()
{
    return dm::Run();
}
