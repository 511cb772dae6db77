// The IExtractIconA object the folder hands out for one item. Drives and disk images show the
// module's own icons; drawers and files show what the PC shows for a folder or a file of the
// same extension, under "DROVEMARK::" locations that the shell can use as cache keys.
#pragma once

#include "core/amiga_types.h"
#include "shell/com_object.h"

#include <windows.h>

#include <shlobj.h>

#include <string>
#include <string_view>

namespace dm {

inline constexpr char kIconKeyPrefix[] = "DROVEMARK::";
inline constexpr size_t kIconKeyPrefixLength = sizeof kIconKeyPrefix - 1;

class AmigaIconProvider final : public IExtractIconA, public ComObject {
public:
    // `name` is the item's full name; more than 259 characters are cut.
    static HRESULT Create(std::string_view name, ItemKind kind, REFIID riid, void** out);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IExtractIconA
    STDMETHODIMP GetIconLocation(UINT flags, LPSTR location, UINT locationSize, int* index,
                                 UINT* flagsOut) override;
    STDMETHODIMP Extract(LPCSTR location, UINT index, HICON* large, HICON* small,
                         UINT sizes) override;

private:
    AmigaIconProvider(std::string_view name, ItemKind kind);

    // The registered extension of a file's name, or nothing.
    std::string_view RegisteredExtension() const;

    std::string name_;
    ItemKind kind_;
};

}  // namespace dm
