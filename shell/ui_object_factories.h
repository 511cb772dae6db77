// The objects the folder hands out that belong to layers above it (the view, the context menu,
// the data object, the drop target, the settings sheet). The module fills this table when it
// loads; a maker that is not there makes the request fail with E_NOINTERFACE.
#pragma once

#include <windows.h>

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
    // The settings sheet's shell extension, for the class factory.
    HRESULT (*createSettingsExtension)(REFIID riid, void** out) = nullptr;
    // Shows the settings sheet modally.
    void (*showSettingsSheet)(HWND owner) = nullptr;
};

UiObjectFactories& UiFactories();

}  // namespace dm
