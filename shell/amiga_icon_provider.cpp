#include "shell/amiga_icon_provider.h"

#include "core/module.h"
#include "resources/resource_ids.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace dm {

namespace {

constexpr size_t kNameMax = 259;
constexpr UINT kKeyFlags = GIL_PERCLASS | GIL_NOTFILENAME;

// The module's icon resource for a kind that has one, else 0.
int ModuleIconOf(ItemKind kind)
{
    switch (kind) {
    case ItemKind::Volume: return IDI_VOLUME;
    case ItemKind::Floppy: return IDI_FLOPPY;
    case ItemKind::RomFile: return IDI_ROM_FILE;
    case ItemKind::AdfFile: return IDI_ADF_FILE;
    case ItemKind::HdfFile: return IDI_HDF_FILE;
    default: return 0;
    }
}

// Writes "DROVEMARK::" and `tail`; false when it does not fit with its terminator.
bool PutKey(LPSTR out, UINT outSize, std::string_view tail)
{
    const size_t length = kIconKeyPrefixLength + tail.size();
    if (length >= outSize)
        return false;
    std::memcpy(out, kIconKeyPrefix, kIconKeyPrefixLength);
    std::memcpy(out + kIconKeyPrefixLength, tail.data(), tail.size());
    out[length] = '\0';
    return true;
}

// Icons handed to the caller are its own to destroy, so each one is a fresh copy rather than
// the shared handle LoadIcon gives.
HICON LoadModuleIcon(UINT id, int size)
{
    return static_cast<HICON>(
        LoadImageA(ThisModule(), MAKEINTRESOURCEA(id), IMAGE_ICON, size, size, 0));
}

}  // namespace

AmigaIconProvider::AmigaIconProvider(std::string_view name, ItemKind kind)
    : name_(name.substr(0, std::min(name.find('\0'), kNameMax))), kind_(kind)
{
}

HRESULT AmigaIconProvider::Create(std::string_view name, ItemKind kind, REFIID riid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    AmigaIconProvider* provider;
    try {
        provider = new (std::nothrow) AmigaIconProvider(name, kind);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return QueryNewObject<AmigaIconProvider, IExtractIconA>(provider, riid, out);
}

HRESULT AmigaIconProvider::QueryInterface(REFIID riid, void** out)
{
    return QueryInterfaceFrom({{IID_IUnknown, this}, {kIID_IExtractIconA, this}}, riid, out);
}

ULONG AmigaIconProvider::AddRef()
{
    return AddRefObject();
}

ULONG AmigaIconProvider::Release()
{
    return ReleaseObject();
}

std::string_view AmigaIconProvider::RegisteredExtension() const
{
    const size_t at = name_.find_last_of(".\\:");
    if (at == std::string::npos || name_[at] != '.')
        return {};
    // The name holds at most 259 characters, so its extension fits.
    char extension[kNameMax + 1];
    const size_t length = name_.size() - at;
    std::memcpy(extension, name_.data() + at, length);
    extension[length] = '\0';
    HKEY key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, extension, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return {};
    char value[80];
    DWORD valueSize = sizeof value;
    const LONG found = RegQueryValueExA(key, nullptr, nullptr, nullptr,
                                        reinterpret_cast<BYTE*>(value), &valueSize);
    RegCloseKey(key);
    if (found != ERROR_SUCCESS)
        return {};
    return std::string_view(name_).substr(at);
}

HRESULT AmigaIconProvider::GetIconLocation(UINT flags, LPSTR location, UINT locationSize,
                                           int* index, UINT* flagsOut)
{
    if (!location || !index || !flagsOut)
        return E_POINTER;
    if (locationSize > 0)
        location[0] = '\0';
    *index = 0;
    *flagsOut = 0;

    const int moduleIcon = ModuleIconOf(kind_);
    if (moduleIcon != 0) {
        if (locationSize == 0)
            return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
        // A cut path would name some other file.
        const DWORD length = GetModuleFileNameA(ThisModule(), location, locationSize);
        if (length == 0 || length >= locationSize) {
            location[0] = '\0';
            return HRESULT_FROM_WIN32(length == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER);
        }
        // The shell reads a positive index as a position among the module's icons and a
        // negative one as a resource id; only the id names the right icon.
        *index = -moduleIcon;
        *flagsOut = GIL_PERCLASS;
        return S_OK;
    }

    const int open = (flags & GIL_OPENICON) ? 1 : 0;
    if (kind_ == ItemKind::File) {
        const std::string_view extension = RegisteredExtension();
        if (!extension.empty() && PutKey(location, locationSize, extension)) {
            CharUpperA(location);
            *index = open;
            *flagsOut = kKeyFlags;
            return S_OK;
        }
    }
    char number[12];
    std::snprintf(number, sizeof number, "%d", int(kind_));
    if (!PutKey(location, locationSize, number))
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    *index = open;
    *flagsOut = kKeyFlags;
    return S_OK;
}

HRESULT AmigaIconProvider::Extract(LPCSTR location, UINT index, HICON* large, HICON* small,
                                   UINT sizes)
{
    if (large)
        *large = nullptr;
    if (small)
        *small = nullptr;
    if (!location)
        return E_INVALIDARG;

    if (std::strncmp(location, kIconKeyPrefix, kIconKeyPrefixLength) != 0) {
        // A negative index names a resource id, the way file,index locations do.
        const int signedIndex = int(index);
        const UINT id = LOWORD(signedIndex < 0 ? 0u - index : index);
        const int largeSize = LOWORD(sizes) ? LOWORD(sizes) : GetSystemMetrics(SM_CXICON);
        const int smallSize = HIWORD(sizes) ? HIWORD(sizes) : GetSystemMetrics(SM_CXSMICON);
        HICON largeIcon = large ? LoadModuleIcon(id, largeSize) : nullptr;
        HICON smallIcon = small ? LoadModuleIcon(id, smallSize) : nullptr;
        if ((large && !largeIcon) || (small && !smallIcon)) {
            if (largeIcon)
                DestroyIcon(largeIcon);
            if (smallIcon)
                DestroyIcon(smallIcon);
            return E_FAIL;
        }
        if (large)
            *large = largeIcon;
        if (small)
            *small = smallIcon;
        return S_OK;
    }

    if (index > 1)
        return E_INVALIDARG;
    const DWORD attributes =
        kind_ == ItemKind::Drawer ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    UINT request = SHGFI_ICON | SHGFI_USEFILEATTRIBUTES | SHGFI_SHELLICONSIZE;
    if (index == 1)
        request |= SHGFI_OPENICON;
    SHFILEINFOA largeInfo {};
    if (!SHGetFileInfoA(name_.c_str(), attributes, &largeInfo, sizeof largeInfo, request) ||
        !largeInfo.hIcon)
        return E_UNEXPECTED;
    SHFILEINFOA smallInfo {};
    if (!SHGetFileInfoA(name_.c_str(), attributes, &smallInfo, sizeof smallInfo,
                        request | SHGFI_SMALLICON))
        smallInfo.hIcon = nullptr;
    if (large)
        *large = largeInfo.hIcon;
    else
        DestroyIcon(largeInfo.hIcon);
    if (small)
        *small = smallInfo.hIcon;
    else if (smallInfo.hIcon)
        DestroyIcon(smallInfo.hIcon);
    return S_OK;
}

}  // namespace dm
