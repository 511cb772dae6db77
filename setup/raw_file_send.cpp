#include "setup/raw_file_send.h"

#include "core/messages.h"
#include "core/module.h"
#include "core/progress_dialog.h"
#include "link/serial_link.h"
#include "resources/resource_ids.h"
#include "resources/string_ids.h"
#include "setup/amiga_files.h"

#include <cstring>
#include <optional>
#include <string>

namespace dm {

namespace {

constexpr uint32_t kBlock = 512;
constexpr uint32_t kTailBlocks = 8;
constexpr DWORD kBreakMs = 800;

class OpenFile {
public:
    explicit OpenFile(const std::string& path)
        : handle_(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr))
    {
    }
    ~OpenFile()
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
};

void ShowText(ProgressDialog& progress, UINT id)
{
    if (const std::optional<std::string> text = LoadStringById(id, ThisModule()))
        progress.SetText(*text);
}

// One piece of the file or the tail; the progress's Cancel wins over a write that failed with it.
HRESULT WritePiece(SerialLink& link, ProgressDialog& progress, const void* bytes, uint32_t count)
{
    HRESULT hr = S_OK;
    if (count > 0 && FAILED(link.Write(bytes, count, 0)))
        hr = kRawWriteFault;
    if (progress.IsCancelled())
        return kCancelled;
    if (SUCCEEDED(hr))
        progress.Step();
    return hr;
}

HRESULT SendContents(SerialLink& link, ProgressDialog& progress, HANDLE file, uint64_t size,
                     bool tail)
{
    char buffer[kBlock];
    uint64_t left = size;
    HRESULT hr = S_OK;
    do {
        const DWORD want = DWORD(left < kBlock ? left : kBlock);
        DWORD got = 0;
        if (want > 0 && !ReadFile(file, buffer, want, &got, nullptr))
            return HRESULT_FROM_WIN32(GetLastError());
        // A file that shrank under us is not sent short as if whole.
        if (got != want)
            return E_FAIL;
        hr = WritePiece(link, progress, buffer, got);
        left -= got;
    } while (SUCCEEDED(hr) && left > 0);

    if (SUCCEEDED(hr) && tail) {
        char feeds[kBlock];
        memset(feeds, '\n', sizeof feeds);
        for (uint32_t block = 0; block < kTailBlocks && SUCCEEDED(hr); ++block)
            hr = WritePiece(link, progress, feeds, sizeof feeds);
    }
    return hr;
}

}  // namespace

uint32_t RawSendSteps(uint64_t size, bool tail)
{
    const uint64_t blocks = size <= kBlock ? 1 : (size + kBlock - 1) / kBlock;
    return uint32_t(blocks) + (tail ? kTailBlocks : 0);
}

HRESULT SendSetupBreak(SerialLink& link)
{
    return link.SendBreak(kBreakMs);
}

HRESULT RawSendFile(SerialLink& link, const RawSend& send)
{
    std::string folder;
    HRESULT hr = AmigaFilesFolder(kRawSendFolderLimit, folder);
    if (FAILED(hr))
        return hr;
    OpenFile file(folder + send.fileName);
    if (file.Get() == INVALID_HANDLE_VALUE)
        return HRESULT_FROM_WIN32(GetLastError());
    LARGE_INTEGER size = {};
    // The raw line carries at most what the Amiga's RAM could take: far below 4 GB.
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 || size.QuadPart > 0x7FFFFFFF)
        return E_FAIL;

    ProgressDialog progress;
    if (!progress.Start(IDS_SETUP_TITLE, IDA_COPY_TO_AMIGA,
                        RawSendSteps(uint64_t(size.QuadPart), send.tail))) {
        hr = E_FAIL;
    } else {
        if (send.waitBeforeMs > 0) {
            ShowText(progress, IDS_SETUP_PLEASE_WAIT);
            Sleep(send.waitBeforeMs);
        }
        ShowText(progress, IDS_SETUP_MENU);
        hr = SendContents(link, progress, file.Get(), uint64_t(size.QuadPart), send.tail);
    }
    if (send.sendBreak && FAILED(SendSetupBreak(link)) && SUCCEEDED(hr))
        hr = E_FAIL;
    if (SUCCEEDED(hr) && send.waitAfterMs > 0) {
        ShowText(progress, IDS_SETUP_PLEASE_WAIT);
        Sleep(send.waitAfterMs);
    }
    progress.Stop();
    return hr;
}

}  // namespace dm
