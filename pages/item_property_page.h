// The "General" page of Amiga items: name, icon, type, location, size, dates, comment and
// protection bits; capacity and usage of volumes; device and mount information of disk images.
// Comment and protection bits of files and drawers are sent to the Amiga on OK.
#pragma once

#include "shell/item_id_list.h"
#include "transfer/operation_worker.h"

#include <windows.h>

#include <cstdint>
#include <vector>

namespace dm {

class AmigaFolder;

struct PropertiesRequest {
    AmigaFolder* folder = nullptr;  // held
    std::vector<UniqueIdList> items;
    HANDLE takenOver = nullptr;
    HMODULE pinnedModule = nullptr;  // the properties thread's reference to this module
    CountingWorker counter;
    UINT dialog = 0;
    // What the page shows, counted up while the worker counts.
    uint32_t totalSize = 0;
    uint32_t protection = 0;
    int32_t files = 0;
    int32_t drawers = 0;
    uint32_t mixedBits = 0;  // protection bits that differ between the items
    int mountInfoMode = 1;   // 1 emulator configuration, 0 mount list
    HICON icon = nullptr;
};

// The dialog for these items: by kind for one, by where they are for several.
UINT ItemPageFor(const std::vector<UniqueIdList>& items);

INT_PTR CALLBACK ItemPropertyPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// The protection value sent for `item`: its own bits where `mask` is clear, the new ones where
// it is set; bits 8-31 come from `value`. Nothing is sent (S_OK) when neither the bits nor, without
// the keep-comment flag, the comment change.
HRESULT ApplyAttributes(PropertiesRequest& request, const ITEMIDLIST* item, uint32_t value,
                        uint32_t mask, const std::string& comment);

}  // namespace dm
