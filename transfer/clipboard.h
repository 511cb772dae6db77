// Copy and Cut of Amiga items to the clipboard.
#pragma once

#include <windows.h>

#include <objidl.h>
#include <shtypes.h>

namespace dm {

class AmigaFolder;

// Puts a data object for the items on the clipboard; `effect` DROPEFFECT_COPY or
// DROPEFFECT_MOVE (a cut, whose items are marked until it is pasted or replaced). E_FAIL without
// items; otherwise what the clipboard answered. `placed`, when given, receives the object.
HRESULT CopyToClipboard(AmigaFolder& folder, UINT count, const ITEMIDLIST* const* items,
                        DWORD effect, IDataObject** placed = nullptr);

// Drops the clipboard's content on `item` of `folder`, or on the folder itself when there is
// none: S_OK when it can go there (and, unless `testOnly`, went, or the drop's failure),
// S_FALSE when it cannot, E_FAIL at the root.
HRESULT PasteInto(AmigaFolder& folder, const ITEMIDLIST* item, bool testOnly);

}  // namespace dm
