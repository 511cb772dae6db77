// One Amiga file's bytes, read once from start to end as they arrive from the Amiga. A living
// stream holds the connection lock: a consumer releases it before asking for the next file.
#pragma once

#include "shell/com_object.h"
#include "shell/item_id_list.h"

#include <objidl.h>

#include <cstdint>

namespace dm {

class AmigaDataObject;
class PacketChannel;

class AmigaFileStream final : public IStream, private ComObject {
public:
    // The stream of entry `index` of `owner`, opened on the Amiga; the open's failure when the
    // Amiga refuses (the object is then gone).
    static HRESULT Create(AmigaDataObject& owner, size_t index, IStream** out);

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefObject(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseObject(); }

    STDMETHODIMP Read(void* buffer, ULONG count, ULONG* read) override;
    STDMETHODIMP Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    STDMETHODIMP CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                        ULARGE_INTEGER* written) override;
    STDMETHODIMP Commit(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Revert() override { return E_NOTIMPL; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP Stat(STATSTG* stat, DWORD flags) override;
    STDMETHODIMP Clone(IStream** out) override;

private:
    AmigaFileStream(AmigaDataObject& owner, size_t index);
    ~AmigaFileStream() override;

    HRESULT Open();
    // Counts `bytes` towards the progress, one unit per 508.
    void Count(uint32_t bytes);
    // Reads from the Amiga into `buffer`, counting progress.
    HRESULT ReadPiece(void* buffer, ULONG count, ULONG& read);
    // Asks whether to start the file again after a failure at its start; true for Retry, and
    // then the stream is open again from its first byte.
    bool RetryFromStart(IStream& target);

    AmigaDataObject& owner_;
    size_t index_;
    UniqueIdList item_;
    uint32_t size_ = 0;
    PacketChannel* channel_ = nullptr;  // the session's, while the lock is held
    bool sessionOpen_ = false;
    uint32_t stepCounter_ = 0;
    uint32_t delivered_ = 0;
    uint32_t startPosition_ = 0;
    HRESULT openResult_ = E_FAIL;
    HRESULT lastResult_ = S_OK;
};

}  // namespace dm
