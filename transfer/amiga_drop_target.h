// What is dropped or pasted onto an Amiga volume, floppy, drawer or disk image item: PC files
// and folders, copied or moved onto the Amiga, and Amiga items from another Amiga window, copied
// or moved by the Amiga itself.
#pragma once

#include "core/progress_dialog.h"
#include "shell/com_object.h"
#include "shell/item_id_list.h"
#include "transfer/local_file_list.h"

#include <objidl.h>
#include <oleidl.h>

#include <cstdint>
#include <vector>

namespace dm {

class AmigaFolder;

class AmigaDropTarget final : public IDropTarget, private ComObject {
public:
    // A target for `item` of `folder`, without references; null when out of memory.
    static AmigaDropTarget* New(AmigaFolder& folder, HWND owner, const ITEMIDLIST* item);
    // What the folder's GetUIObjectOf hands out.
    static HRESULT Create(AmigaFolder& folder, HWND owner, const ITEMIDLIST* item, REFIID riid,
                          void** out);

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefObject(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseObject(); }

    STDMETHODIMP DragEnter(IDataObject* data, DWORD keys, POINTL point, DWORD* effect) override;
    STDMETHODIMP DragOver(DWORD keys, POINTL point, DWORD* effect) override;
    STDMETHODIMP DragLeave() override;
    STDMETHODIMP Drop(IDataObject* data, DWORD keys, POINTL point, DWORD* effect) override;

    // The drop comes from the clipboard: a completed move empties it.
    void SetPasting(bool pasting) { pasting_ = pasting; }

private:
    AmigaDropTarget(AmigaFolder& folder, HWND owner);
    ~AmigaDropTarget() override;

    DWORD DropMenu(DWORD effect) const;
    HRESULT DropAmigaItems(const std::vector<uint8_t>& block, DWORD& effect);
    HRESULT DropPcItems(const std::vector<uint8_t>& block, DWORD& effect);
    // Whether every dropped item can go into the target; for the first that cannot (the target
    // itself, already in it, or a drawer into its own tree) the message is shown.
    bool PassesSameFolderTest(const std::vector<const ITEMIDLIST*>& items, DWORD effect) const;
    HRESULT MoveAmigaItems(const std::vector<const ITEMIDLIST*>& items);
    HRESULT CopyAmigaItems(const std::vector<const ITEMIDLIST*>& items);
    void RefreshTarget(const ITEMIDLIST* target) const;
    void Reset();

    AmigaFolder& folder_;
    HWND owner_;
    UniqueIdList target_;
    IDataObject* data_ = nullptr;
    LocalFileList files_;
    ProgressDialog progress_;
    DWORD effect_ = 0;
    DWORD keys_ = 0;
    CLIPFORMAT accepted_ = 0;
    bool drawerTransferred_ = false;
    bool pasting_ = false;
};

}  // namespace dm
