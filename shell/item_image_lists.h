// The view's large and small image lists, with a cache from an item's icon location to its
// image-list index so that each distinct icon is extracted once per view.
#pragma once

#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>

#include <string>
#include <vector>

namespace dm {

class ItemImageLists {
public:
    ItemImageLists() = default;
    ~ItemImageLists() { Destroy(); }
    ItemImageLists(const ItemImageLists&) = delete;
    ItemImageLists& operator=(const ItemImageLists&) = delete;

    // Makes both lists at the shell's icon sizes; E_OUTOFMEMORY when either cannot be made.
    HRESULT Create();
    // The index of the item's icon in both lists, added on first use; -1 when there is none.
    int IndexForItem(IShellFolder* folder, const ITEMIDLIST* item);
    void Destroy();

    HIMAGELIST Large() const { return large_; }
    HIMAGELIST Small() const { return small_; }

private:
    struct CacheEntry {
        int index;
        std::string key;
    };

    int IndexOf(IShellFolder* folder, const ITEMIDLIST* item);
    int AddIcons(HICON largeIcon, HICON smallIcon);

    HIMAGELIST large_ = nullptr;
    HIMAGELIST small_ = nullptr;
    int largeWidth_ = 0;
    int largeHeight_ = 0;
    int smallWidth_ = 0;
    int smallHeight_ = 0;
    std::vector<CacheEntry> cache_;
};

}  // namespace dm
