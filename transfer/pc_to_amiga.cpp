#include "transfer/pc_to_amiga.h"

#include "core/diag_log.h"
#include "core/messages.h"
#include "core/module.h"
#include "protocol/packet_channel.h"
#include "protocol/remote_errors.h"
#include "resources/resource_ids.h"
#include "resources/string_ids.h"
#include "shell/item_id.h"
#include "transfer/batch_session.h"

#include <algorithm>

namespace dm {

namespace {

constexpr uint32_t kProgressUnit = 508;
constexpr DWORD kPiece = 1024;

bool IsImageKind(ItemKind kind)
{
    return kind == ItemKind::AdfFile || kind == ItemKind::HdfFile;
}

void ShowFileInfoError(HWND owner)
{
    MessageBoxById(owner, IDS_ERR_FILE_INFO, IDS_CAPTION_ERROR, MB_OK | MB_ICONERROR, ThisModule());
}

uint32_t ProgressUnits(const LocalFileList& files)
{
    uint32_t total = 0;
    for (const PcFileDescriptor& entry : files.Entries()) {
        if (!LocalFileList::IsDirectory(entry))
            total += entry.sizeLow < kProgressUnit ? 1 : entry.sizeLow / kProgressUnit;
    }
    return total;
}

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};

// Streams the file's announced size; fewer bytes on the PC than announced leave the stream
// short, which EndFileWrite turns into a failure.
HRESULT SendFile(PacketChannel& channel, const PcFileDescriptor& entry, ProgressDialog& progress)
{
    HANDLE raw = CreateFileA(entry.name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (raw == INVALID_HANDLE_VALUE) {
        if (LogEnabled())
            LogLine("CREATEFILE ERROR (DropTarget TransferFile): %d\n", int(GetLastError()));
        return E_FAIL;
    }
    std::unique_ptr<void, HandleCloser> file(raw);
    // Nobody can write to it while it is open: a file that changed since the drop is refused
    // now, rather than arriving cut short and then being deleted by a move.
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(raw, &size) ||
        uint64_t(size.QuadPart) != (uint64_t(entry.sizeHigh) << 32 | entry.sizeLow))
        return E_FAIL;
    const uint32_t start = progress.Position();
    uint32_t remaining = entry.sizeLow;
    uint32_t sent = 0;
    char buffer[kPiece];
    while (remaining > 0) {
        DWORD read = 0;
        if (!ReadFile(raw, buffer, std::min<DWORD>(kPiece, remaining), &read, nullptr))
            return E_FAIL;
        if (read == 0)
            break;
        uint32_t accepted = 0;
        const HRESULT hr = channel.WriteFileData(buffer, read, &accepted);
        if (FAILED(hr))
            return hr;
        if (accepted != read)
            return E_FAIL;
        remaining -= read;
        sent += read;
        if (sent / kProgressUnit != (sent - read) / kProgressUnit)
            progress.SetPosition(start + sent / kProgressUnit);
        if (progress.IsCancelled())
            return kCancelled;
    }
    return S_OK;
}

}  // namespace

bool PcTransferOutcome::AllDelivered() const
{
    return std::all_of(delivered.begin(), delivered.end(), [](bool done) { return done; });
}

HRESULT SendLocalFiles(const LocalFileList& files, const ITEMIDLIST* target, HWND owner,
                       ProgressDialog& progress, RemoteQuestions& questions,
                       PcTransferOutcome& outcome)
{
    outcome = PcTransferOutcome {};
    outcome.delivered.assign(files.Count(), false);
    const std::optional<RemoteItem> destination = ItemIdView(target).ToRemoteItem();
    if (!destination || files.Empty())
        return E_INVALIDARG;
    // An image takes the bytes of one file, never a tree.
    const bool image = IsImageKind(destination->kind);
    if (image && (files.Count() != 1 || LocalFileList::IsDirectory(files[0]))) {
        ShowFileInfoError(owner);
        return E_INVALIDARG;
    }

    BatchSession session;
    PacketChannel* channel = session.Channel();
    if (!channel)
        return E_FAIL;
    progress.Start(IDS_PROGRESS_COPYING, IDA_COPY_TO_AMIGA, ProgressUnits(files));
    OverwriteAnswer answer = OverwriteAnswer::Yes;
    const uint32_t count = uint32_t(files.Count());
    HRESULT result = S_OK;
    for (size_t i = 0; i < files.Count() && SUCCEEDED(result); ++i) {
        const PcFileDescriptor& entry = files[i];
        const bool folder = LocalFileList::IsDirectory(entry);
        DirectoryEntry record;
        HRESULT hr = MakeCreateRecord(entry, &files[0], destination->Location(), record);
        if (FAILED(hr)) {
            ShowFileInfoError(owner);
            result = hr;
            break;
        }
        if (image)
            record.name = RemotePath(*destination);
        progress.SetText(entry.name);
        if (progress.IsCancelled()) {
            result = kCancelled;
            break;
        }
        if (LogEnabled())
            LogLine("PC to Amiga transfer: \"%s\" to \"%s\" (%d bytes)\n", entry.name.c_str(),
                    record.name.c_str(), int(entry.sizeLow));

        bool declined = false;
        hr = channel->CreateObject(record, *destination, answer, count, questions, &declined);
        bool arrived = false;
        if (SUCCEEDED(hr)) {
            if (folder) {
                arrived = true;
                outcome.drawerTransferred = true;
            } else if (!declined) {
                hr = SendFile(*channel, entry, progress);
                // Always ended: a short stream is dropped by the Amiga and fails here.
                const HRESULT ended = channel->EndFileWrite();
                if (SUCCEEDED(hr))
                    hr = ended;
                arrived = SUCCEEDED(hr);
            } else if (answer == OverwriteAnswer::Cancel) {
                hr = kCancelled;
            } else if (count > 1) {
                progress.SetPosition(progress.Position() + entry.sizeLow / kProgressUnit);
            }
        }
        const HRESULT reported = ReportRemoteError(*channel, owner, hr);
        if (SUCCEEDED(hr) && FAILED(reported))
            hr = reported;
        if (FAILED(hr)) {
            result = hr;
            break;
        }
        outcome.delivered[i] = arrived;
        if (!folder && entry.sizeLow < kProgressUnit)
            progress.Step();
    }
    progress.Stop();
    return result;
}

bool DeleteDeliveredSources(const LocalFileList& files, const PcTransferOutcome& outcome)
{
    bool all = outcome.delivered.size() == files.Count();
    // What a link leads to lies outside the moved tree: it stays, and so that nothing is
    // deleted through the link, the link itself goes only as a link.
    for (size_t i = 0; i < files.Count() && i < outcome.delivered.size(); ++i) {
        if (LocalFileList::IsDirectory(files[i]) || files.ReachedThroughLink(i))
            continue;
        if (!outcome.delivered[i] || !DeleteFileA(files[i].name.c_str()))
            all = false;
    }
    // Deepest first; a folder that still holds something (a file the user kept) stays.
    for (size_t i = std::min(files.Count(), outcome.delivered.size()); i-- > 0;) {
        if (!LocalFileList::IsDirectory(files[i]) || files.ReachedThroughLink(i))
            continue;
        if (!outcome.delivered[i] || !RemoveDirectoryA(files[i].name.c_str()))
            all = false;
    }
    return all;
}

UniqueIdList DiskImageTarget(IShellFolder& folder, const ITEMIDLIST* target,
                             const LocalFileList& files)
{
    const ItemIdView drive(target);
    if (!drive.IsValid() ||
        (drive.Kind() != ItemKind::Floppy && drive.Kind() != ItemKind::Volume) ||
        files.Count() != 1 || LocalFileList::IsDirectory(files[0]) || files[0].sizeHigh != 0)
        return nullptr;
    const uint32_t size = files[0].sizeLow;
    const size_t colon = drive.Name().find(':');
    if (size < drive.Size() || colon == std::string_view::npos)
        return nullptr;
    const std::string_view device = drive.Name().substr(0, colon + 1);

    IEnumIDList* walk = nullptr;
    if (FAILED(folder.EnumObjects(nullptr, SHCONTF_NONFOLDERS, &walk)) || !walk)
        return nullptr;
    UniqueIdList found;
    ITEMIDLIST* item = nullptr;
    ULONG fetched = 0;
    while (!found && walk->Next(1, &item, &fetched) == S_OK && fetched == 1) {
        UniqueIdList held(item);
        const ItemIdView candidate(held.get());
        if (IsImageKind(candidate.Kind()) && candidate.Size() == size &&
            candidate.Name().size() > 1 && candidate.Name().substr(1).substr(0, device.size()) == device)
            found = std::move(held);
    }
    walk->Release();
    return found;
}

}  // namespace dm
