#include "transfer/amiga_file_stream.h"

#include "core/amiga_names.h"
#include "core/amiga_paths.h"
#include "core/messages.h"
#include "core/module.h"
#include "protocol/packet_channel.h"
#include "protocol/remote_errors.h"
#include "protocol/remote_item.h"
#include "protocol/remote_session.h"
#include "resources/string_ids.h"
#include "shell/item_id.h"
#include "transfer/amiga_data_object.h"

#include <algorithm>

namespace dm {

namespace {

constexpr uint32_t kProgressUnit = 508;
constexpr ULONG kPiece = 1024;
constexpr DWORD kRetryPause = 7500;

}  // namespace

HRESULT AmigaFileStream::Create(AmigaDataObject& owner, size_t index, IStream** out)
{
    *out = nullptr;
    auto* stream = new (std::nothrow) AmigaFileStream(owner, index);
    if (!stream)
        return E_OUTOFMEMORY;
    stream->AddRef();
    HRESULT hr = stream->Open();
    if (SUCCEEDED(hr))
        hr = stream->QueryInterface(IID_IStream, reinterpret_cast<void**>(out));
    stream->Release();
    return hr;
}

AmigaFileStream::AmigaFileStream(AmigaDataObject& owner, size_t index)
    : owner_(owner), index_(index), item_(CloneUnique(owner.Item(index)))
{
    owner_.AddRef();
    RemoteSession::Process().AddRef();
    startPosition_ = owner_.Progress().Position();
}

HRESULT AmigaFileStream::Open()
{
    const std::optional<RemoteItem> remote = ItemIdView(item_.get()).ToRemoteItem();
    if (!remote)
        return item_ ? E_INVALIDARG : E_OUTOFMEMORY;
    channel_ = RemoteSession::Process().Open(true);
    if (!channel_)
        return E_FAIL;
    sessionOpen_ = true;
    openResult_ = channel_->OpenFile(*remote, &size_);
    lastResult_ = openResult_;
    return openResult_;
}

AmigaFileStream::~AmigaFileStream()
{
    HRESULT result = lastResult_;
    if (sessionOpen_) {
        if (SUCCEEDED(openResult_)) {
            const HRESULT ended = channel_->EndFileRead();
            if (SUCCEEDED(result))
                result = ended;
        }
        const HRESULT reported = ReportRemoteError(*channel_, nullptr, result);
        if (SUCCEEDED(result))
            result = reported;
        RemoteSession::Process().Close();
    }
    // Whole, and as large as the descriptor said: only then may a move delete its source.
    if (SUCCEEDED(result) && SUCCEEDED(openResult_) &&
        delivered_ == ItemIdView(item_.get()).Size() && delivered_ == size_)
        owner_.FileDelivered(index_);
    RemoteSession::Process().Release();
    if (FAILED(result) && owner_.IsClipboardObject())
        owner_.EndTransfer();
    owner_.Release();
}

STDMETHODIMP AmigaFileStream::QueryInterface(REFIID riid, void** out)
{
    return QueryInterfaceFrom({{IID_IUnknown, this}, {IID_IStream, this}}, riid, out);
}

void AmigaFileStream::Count(uint32_t bytes)
{
    stepCounter_ += bytes;
    ProgressDialog& progress = owner_.Progress();
    if (stepCounter_ >= kProgressUnit) {
        progress.SetPosition(progress.Position() + stepCounter_ / kProgressUnit);
        stepCounter_ %= kProgressUnit;
    }
}

HRESULT AmigaFileStream::ReadPiece(void* buffer, ULONG count, ULONG& read)
{
    read = 0;
    if (!channel_ || FAILED(openResult_))
        return E_FAIL;
    uint32_t got = 0;
    const HRESULT hr = channel_->ReadFileData(buffer, count, &got);
    read = got;
    delivered_ += got;
    Count(got);
    return hr;
}

STDMETHODIMP AmigaFileStream::Read(void* buffer, ULONG count, ULONG* read)
{
    if (read)
        *read = 0;
    if (!buffer && count > 0)
        return STG_E_INVALIDPOINTER;
    if (owner_.Cancelled() || owner_.Progress().IsCancelled()) {
        owner_.Cancel();
        lastResult_ = HRESULT_FROM_WIN32(ERROR_CANCELLED);
        return lastResult_;
    }
    ULONG got = 0;
    lastResult_ = ReadPiece(buffer, count, got);
    if (read)
        *read = got;
    return lastResult_;
}

bool AmigaFileStream::RetryFromStart(IStream& target)
{
    const int answer = MessageBoxById(nullptr, IDS_ERR_COPY_FILE, IDS_APP_NAME,
                                      MB_ABORTRETRYIGNORE | MB_ICONEXCLAMATION | MB_TOPMOST,
                                      ThisModule());
    if (answer == IDABORT) {
        owner_.Cancel();
        return false;
    }
    if (answer != IDRETRY)
        return false;
    LARGE_INTEGER start = {};
    if (FAILED(target.Seek(start, STREAM_SEEK_SET, nullptr)))
        return false;
    channel_->EndFileRead();
    Sleep(kRetryPause);
    const std::optional<RemoteItem> remote = ItemIdView(item_.get()).ToRemoteItem();
    openResult_ = remote ? channel_->OpenFile(*remote, &size_) : E_FAIL;
    if (FAILED(openResult_))
        return false;
    owner_.Progress().SetPosition(startPosition_);
    stepCounter_ = 0;
    channel_->GetLink().ClearPendingError();
    delivered_ = 0;
    return true;
}

STDMETHODIMP AmigaFileStream::CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                                     ULARGE_INTEGER* written)
{
    if (!target)
        return STG_E_INVALIDPOINTER;
    uint64_t totalRead = 0, totalWritten = 0;
    uint8_t piece[kPiece];
    HRESULT hr = S_OK;
    while (true) {
        const uint32_t deliveredBefore = delivered_;
        uint64_t left = count.QuadPart;
        hr = S_OK;
        while (left > 0) {
            ULONG got = 0;
            hr = ReadPiece(piece, ULONG(std::min<uint64_t>(left, kPiece)), got);
            totalRead += got;
            ULONG put = 0;
            if (SUCCEEDED(hr) && got > 0) {
                hr = target->Write(piece, got, &put);
                totalWritten += put;
                if (SUCCEEDED(hr) && put != got)
                    hr = STG_E_MEDIUMFULL;
            }
            if (FAILED(hr) || got == 0)
                break;
            left -= got;
            if (owner_.Progress().IsCancelled()) {
                owner_.Cancel();
                hr = HRESULT_FROM_WIN32(ERROR_CANCELLED);
                break;
            }
        }
        // Only a failure before anything arrived may be tried again from the start.
        if (FAILED(hr) && hr != HRESULT_FROM_WIN32(ERROR_CANCELLED) && deliveredBefore == 0 &&
            RetryFromStart(*target)) {
            totalRead = totalWritten = 0;
            continue;
        }
        break;
    }
    if (read)
        read->QuadPart = totalRead;
    if (written)
        written->QuadPart = totalWritten;
    lastResult_ = hr;
    return hr;
}

STDMETHODIMP AmigaFileStream::Stat(STATSTG* stat, DWORD flags)
{
    if (!stat)
        return STG_E_INVALIDPOINTER;
    *stat = {};
    const ItemIdView item(item_.get());
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = item.Size();
    stat->mtime = stat->ctime = stat->atime = item.Modified();
    stat->grfMode = STGM_SHARE_EXCLUSIVE;
    if (flags & STATFLAG_NONAME)
        return S_OK;
    const std::string name = PcNameOf(DisplayName(item.Name(), item.Kind()));
    const int length = MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, nullptr, 0);
    stat->pwcsName = static_cast<LPOLESTR>(CoTaskMemAlloc(sizeof(WCHAR) * size_t(std::max(length, 1))));
    if (!stat->pwcsName)
        return STG_E_INSUFFICIENTMEMORY;
    stat->pwcsName[0] = L'\0';
    MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, stat->pwcsName, std::max(length, 1));
    return S_OK;
}

STDMETHODIMP AmigaFileStream::Clone(IStream** out)
{
    if (out)
        *out = nullptr;
    return E_NOTIMPL;
}

}  // namespace dm
