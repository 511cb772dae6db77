#include "transfer/clipboard.h"

#include "shell/amiga_folder.h"
#include "shell/item_id.h"
#include "transfer/amiga_data_object.h"
#include "transfer/amiga_drop_target.h"
#include "transfer/cut_set.h"

#include <vector>

namespace dm {

HRESULT CopyToClipboard(AmigaFolder& folder, UINT count, const ITEMIDLIST* const* items,
                        DWORD effect, IDataObject** placed)
{
    if (placed)
        *placed = nullptr;
    if (count == 0 || !items)
        return E_FAIL;
    folder.EnsureOle();
    AmigaDataObject* object = AmigaDataObject::New(folder, nullptr, count, items, effect);
    if (!object)
        return E_OUTOFMEMORY;
    object->AddRef();
    const HRESULT hr = OleSetClipboard(object);
    if (SUCCEEDED(hr) && effect == DROPEFFECT_MOVE) {
        // After the clipboard let the previous object go, which may have cleared its own cut.
        object->SetCutGeneration(CutSet::Replace(std::vector<const ITEMIDLIST*>(items, items + count)));
    } else if (FAILED(hr) && OpenClipboard(nullptr)) {
        EmptyClipboard();
        CloseClipboard();
    }
    if (SUCCEEDED(hr) && placed) {
        object->AddRef();
        *placed = object;
    }
    object->Release();
    return hr;
}

HRESULT PasteInto(AmigaFolder& folder, const ITEMIDLIST* item, bool testOnly)
{
    AmigaFolder* targetFolder = &folder;
    const ITEMIDLIST* target = item;
    if (!item) {
        if (!folder.OwnItem())
            return E_FAIL;
        targetFolder = folder.ParentFolder();
        if (!targetFolder)
            return E_FAIL;
        target = folder.OwnItem();
    } else {
        folder.AddRef();
    }

    HRESULT result = S_FALSE;
    AmigaDropTarget* dropTarget = (ItemAttributes(target) & SFGAO_DROPTARGET)
                                      ? AmigaDropTarget::New(*targetFolder, nullptr, target)
                                      : nullptr;
    if (dropTarget) {
        dropTarget->AddRef();
        folder.EnsureOle();
        IDataObject* data = nullptr;
        if (SUCCEEDED(OleGetClipboard(&data)) && data) {
            DWORD effect = 0;
            const POINTL point = {0, 0};
            if (dropTarget->DragEnter(data, 0, point, &effect) == S_OK && effect != 0) {
                result = S_OK;
                if (!testOnly) {
                    dropTarget->SetPasting(true);
                    const HRESULT dropped = dropTarget->Drop(data, 0, point, &effect);
                    if (FAILED(dropped))
                        result = dropped;
                }
            }
            dropTarget->DragLeave();
            data->Release();
        }
        dropTarget->Release();
    }
    targetFolder->Release();
    return result;
}

}  // namespace dm
