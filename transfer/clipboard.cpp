#include "transfer/clipboard.h"

#include "shell/amiga_folder.h"
#include "transfer/amiga_data_object.h"
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

}  // namespace dm
