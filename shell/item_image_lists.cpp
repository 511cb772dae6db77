#include "shell/item_image_lists.h"

#include "shell/com_object.h"

#include <shellapi.h>

#include <cstdio>
#include <memory>
#include <type_traits>

namespace dm {

namespace {

constexpr UINT kLocationSize = 260;

struct IconDeleter {
    void operator()(HICON icon) const { DestroyIcon(icon); }
};
using OwnedIcon = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;

struct ReleaseDeleter {
    void operator()(IUnknown* object) const { object->Release(); }
};
using ExtractorRef = std::unique_ptr<IExtractIconA, ReleaseDeleter>;

// The system image list's icon size, kept when it cannot be read.
void ReadShellIconSize(UINT extraFlags, int& width, int& height)
{
    SHFILEINFOA info {};
    const auto list = reinterpret_cast<HIMAGELIST>(SHGetFileInfoA(
        ".exe", FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
        SHGFI_SYSICONINDEX | SHGFI_USEFILEATTRIBUTES | SHGFI_SHELLICONSIZE | extraFlags));
    int listWidth = 0;
    int listHeight = 0;
    if (list && ImageList_GetIconSize(list, &listWidth, &listHeight) && listWidth > 0 &&
        listHeight > 0) {
        width = listWidth;
        height = listHeight;
    }
}

std::string CacheKey(const char* location, int index, UINT flags)
{
    const int length = std::snprintf(nullptr, 0, "\"%s\" %d %08x", location, index, flags);
    if (length < 0)
        return {};
    std::string key(size_t(length) + 1, '\0');
    std::snprintf(key.data(), key.size(), "\"%s\" %d %08x", location, index, flags);
    key.pop_back();
    return key;
}

}  // namespace

HRESULT ItemImageLists::Create()
{
    Destroy();
    largeWidth_ = GetSystemMetrics(SM_CXICON);
    largeHeight_ = GetSystemMetrics(SM_CYICON);
    smallWidth_ = GetSystemMetrics(SM_CXSMICON);
    smallHeight_ = GetSystemMetrics(SM_CYSMICON);
    ReadShellIconSize(0, largeWidth_, largeHeight_);
    ReadShellIconSize(SHGFI_SMALLICON, smallWidth_, smallHeight_);

    large_ = ImageList_Create(largeWidth_, largeHeight_, ILC_COLORDDB | ILC_MASK, 1, 1);
    small_ = ImageList_Create(smallWidth_, smallHeight_, ILC_COLORDDB | ILC_MASK, 1, 1);
    if (!large_ || !small_) {
        Destroy();
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

void ItemImageLists::Destroy()
{
    cache_.clear();
    if (large_)
        ImageList_Destroy(large_);
    if (small_)
        ImageList_Destroy(small_);
    large_ = nullptr;
    small_ = nullptr;
}

int ItemImageLists::AddIcons(HICON largeIcon, HICON smallIcon)
{
    const int smallIndex = ImageList_ReplaceIcon(small_, -1, smallIcon);
    const int largeIndex = ImageList_ReplaceIcon(large_, -1, largeIcon);
    if (smallIndex >= 0 && smallIndex == largeIndex)
        return smallIndex;
    if (smallIndex >= 0)
        ImageList_Remove(small_, smallIndex);
    if (largeIndex >= 0)
        ImageList_Remove(large_, largeIndex);
    return -1;
}

int ItemImageLists::IndexOf(IShellFolder* folder, const ITEMIDLIST* item)
{
    if (!folder || !item || !large_ || !small_)
        return -1;
    void* object = nullptr;
    if (FAILED(folder->GetUIObjectOf(nullptr, 1, &item, kIID_IExtractIconA, nullptr, &object)) ||
        !object)
        return -1;
    const ExtractorRef extractor(static_cast<IExtractIconA*>(object));

    char location[kLocationSize] = {};
    int iconIndex = 0;
    UINT flags = 0;
    if (FAILED(
            extractor->GetIconLocation(GIL_FORSHELL, location, kLocationSize, &iconIndex, &flags)))
        return -1;
    location[kLocationSize - 1] = '\0';

    const bool cached = (flags & GIL_DONTCACHE) == 0;
    std::string key;
    if (cached) {
        key = CacheKey(location, iconIndex, flags);
        for (const CacheEntry& entry : cache_) {
            if (entry.key == key)
                return entry.index;
        }
    }

    HICON largeHandle = nullptr;
    HICON smallHandle = nullptr;
    const HRESULT extracted =
        extractor->Extract(location, UINT(iconIndex), &largeHandle, &smallHandle,
                           MAKELONG(WORD(largeWidth_), WORD(smallWidth_)));
    const OwnedIcon largeIcon(largeHandle);
    const OwnedIcon smallIcon(smallHandle);
    if (FAILED(extracted) || extracted == S_FALSE || !largeIcon || !smallIcon)
        return -1;
    const int index = AddIcons(largeIcon.get(), smallIcon.get());
    if (index < 0)
        return -1;
    if (cached) {
        try {
            cache_.push_back({index, std::move(key)});
        } catch (...) {
            // Without its entry the icon is just extracted again next time.
        }
    }
    return index;
}

int ItemImageLists::IndexForItem(IShellFolder* folder, const ITEMIDLIST* item)
{
    try {
        return IndexOf(folder, item);
    } catch (...) {
        return -1;
    }
}

}  // namespace dm
