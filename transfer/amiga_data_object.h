// The Amiga items of a drag, a Copy or a Cut, as the shell's virtual files: a file group
// descriptor naming every file and drawer (drawers expanded when the drop or paste happens),
// and each file's bytes as a stream read straight from the Amiga. A move deletes the sources on
// the Amiga only once every file was read to its end and the target reported the move.
#pragma once

#include "core/progress_dialog.h"
#include "shell/com_object.h"
#include "shell/item_id_list.h"

#include <objidl.h>
#include <shlobj.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <vector>

namespace dm {

class AmigaFolder;

class AmigaDataObject final : public IDataObject, private ComObject {
public:
    // effect: 0 for a drag, DROPEFFECT_COPY or DROPEFFECT_MOVE for the clipboard.
    static AmigaDataObject* New(AmigaFolder& folder, HWND owner, UINT count,
                                const ITEMIDLIST* const* items, DWORD effect);
    // What the folder's GetUIObjectOf hands out: a drag object asked for `riid`.
    static HRESULT Create(AmigaFolder& folder, HWND owner, UINT count,
                          const ITEMIDLIST* const* items, REFIID riid, void** out);

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefObject(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseObject(); }

    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC* format) override;
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override;
    STDMETHODIMP SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) override;
    STDMETHODIMP EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override;
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP DUnadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

    // What the file streams report back.
    ProgressDialog& Progress() { return progress_; }
    bool Cancelled() const { return cancelled_; }
    void Cancel() { cancelled_ = true; }
    bool IsClipboardObject() const { return effect_ != 0; }
    // The cut set this object made, cleared when its move completes or it is let go.
    void SetCutGeneration(uint64_t generation);
    // The stream of descriptor `index` was read to its end and matched the item's size.
    void FileDelivered(size_t index);
    // Stops the progress and lets the link go; what was delivered stays counted.
    void EndTransfer();

    bool SourceDeleted() const { return sourceDeleted_; }
    // Entries of the item list: the selection, then (once expanded) what lies in its drawers.
    size_t ItemCount() const { return items_.size(); }
    const ITEMIDLIST* Item(size_t index) const { return items_[index].get(); }

private:
    AmigaDataObject(AmigaFolder& folder, HWND owner, DWORD effect);
    ~AmigaDataObject() override;

    // E_INVALIDARG unless the request names no device, the content aspect and, for all but
    // the stream, index -1 and global memory.
    HRESULT CheckRequest(const FORMATETC& format) const;
    HRESULT FileGroupDescriptor(STGMEDIUM& medium);
    HRESULT IdListArray(STGMEDIUM& medium) const;
    HRESULT FileContents(LONG index, STGMEDIUM& medium);
    std::optional<FILEDESCRIPTORA> Descriptor(size_t index) const;
    HRESULT ExpandFolders();
    HRESULT ExpandInto(IShellFolder& parent, const ITEMIDLIST* item);
    void HoldSession();
    HRESULT DeleteSources(DWORD effect);

    AmigaFolder& folder_;
    HWND owner_;
    std::vector<UniqueIdList> items_;
    size_t topLevelCount_ = 0;
    ProgressDialog progress_;
    uint32_t filesToDeliver_ = 0;
    std::set<size_t> delivered_;  // descriptor indexes; a file read twice counts once
    DWORD effect_;
    uint64_t cutGeneration_ = 0;
    bool sessionHeld_ = false;
    bool modernShell_;
    bool expandFolders_;
    bool expanded_ = false;
    bool folderInfoShown_ = false;
    std::chrono::steady_clock::time_point nameShownAt_ {};
    bool cancelled_ = false;
    bool sourceDeleted_ = false;
};

}  // namespace dm
