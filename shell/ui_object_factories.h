// The objects the folder hands out that belong to layers above it (the view, the context menu,
// the data object, the drop target, the settings sheet). The module fills this table when it
// loads; a maker that is not there makes the request fail with E_NOINTERFACE.
#pragma once

#include <windows.h>

#include <oleidl.h>
#include <shtypes.h>

namespace dm {

class AmigaFolder;

struct UiObjectFactories {
    HRESULT (*createView)(AmigaFolder& folder, HWND owner, REFIID riid, void** out) = nullptr;
    HRESULT(*createContextMenu)
    (AmigaFolder& folder, HWND owner, UINT count, const ITEMIDLIST* const* items, REFIID riid,
     void** out) = nullptr;
    HRESULT(*createDataObject)
    (AmigaFolder& folder, HWND owner, UINT count, const ITEMIDLIST* const* items, REFIID riid,
     void** out) = nullptr;
    HRESULT(*createDropTarget)
    (AmigaFolder& folder, HWND owner, const ITEMIDLIST* item, REFIID riid, void** out) = nullptr;
    // The feedback side of a drag of `data` out of the view.
    HRESULT (*createDropSource)(IDataObject& data, IDropSource** out) = nullptr;
    // The settings sheet's shell extension, for the class factory.
    HRESULT (*createSettingsExtension)(REFIID riid, void** out) = nullptr;
    // Shows the settings sheet modally.
    void (*showSettingsSheet)(HWND owner) = nullptr;
    // The format dialog of one drive item, until it is closed (S_OK: formatted).
    HRESULT (*showFormatDialog)(const ITEMIDLIST* device, HWND owner) = nullptr;

    // The commands whose work lies in the layers above: a file opened in its PC program, the
    // clipboard (effect 1 copy, 2 cut), a paste into `item` (null: the folder itself; S_FALSE
    // when the clipboard holds nothing that can go there) and the properties window.
    HRESULT (*openWithPcProgram)(AmigaFolder& folder, const ITEMIDLIST* item, HWND owner) = nullptr;
    HRESULT(*copyToClipboard)
    (AmigaFolder& folder, UINT count, const ITEMIDLIST* const* items, DWORD effect) = nullptr;
    HRESULT (*pasteInto)(AmigaFolder& folder, const ITEMIDLIST* item, bool testOnly) = nullptr;
    HRESULT(*showProperties)
    (AmigaFolder& folder, UINT count, const ITEMIDLIST* const* items) = nullptr;

    // Whether an item was last cut to the clipboard: a folder marks it when it lists it.
    bool (*isCut)(const ITEMIDLIST* item) = nullptr;
    // The last folder of the process is gone: the cut marks have nothing left to show on.
    void (*lastFolderGone)() = nullptr;
};

UiObjectFactories& UiFactories();

}  // namespace dm
