// The properties window of Amiga items, on a thread of its own so that Explorer's window stays
// free; when drawers are among the items, a counting worker fills in what they contain.
#pragma once

#include <windows.h>

#include <shtypes.h>

namespace dm {

class AmigaFolder;

// S_OK once the window's thread has taken over the items (within half a second), else E_FAIL.
HRESULT ShowItemProperties(AmigaFolder& folder, UINT count, const ITEMIDLIST* const* items);

// Properties windows still open in this process.
long OpenPropertiesWindows();

}  // namespace dm
