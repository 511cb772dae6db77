// One folder's cached listing and the views that show it.
//
// How threads share folders: Explorer calls a folder from each window's thread, and transfers
// and workers from theirs; the folder registry hands any folder to any of them. So:
// - a folder's item list, its load state and its list of views are read and changed only
//   under that folder's lock, which is held for no more than a few copies: never while the
//   Amiga is asked (a listing is made outside it and installed whole) and never while a window
//   is updated;
// - a view is updated only on the thread that made it: requests from that thread are carried
//   out at once, requests from any other thread are posted to it (see folder_view.h);
// - callers get clones, never pointers into the list;
// - a folder's path and its root and relative lists are written before it enters the folder
//   registry, and later only by Initialize under the registry's lock.
#pragma once

#include "shell/folder_view.h"
#include "shell/item_id_list.h"

#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

namespace dm {

// The comparison of CompareIDs on two single identifiers: negative, zero or positive. An
// identifier that is not valid compares unequal to everything (1).
int CompareItemIds(int column, const ITEMIDLIST* a, const ITEMIDLIST* b);

// The order of CompareItemIds by name, for sets of item identities (valid identifiers only).
struct ItemIdOrder {
    bool operator()(const ITEMIDLIST* a, const ITEMIDLIST* b) const
    {
        return CompareItemIds(0, a, b) < 0;
    }
};
using ItemIdSet = std::set<const ITEMIDLIST*, ItemIdOrder>;

class FolderItems {
public:
    // None until a listing was attempted, then its result (a failure is kept too).
    std::optional<HRESULT> LoadResult() const;
    // Installs a listing made outside the lock. Unless `replace`, a listing that another thread
    // installed meanwhile wins and this one is dropped. Returns whether what is shown changed:
    // another count, other identifier bytes, or a failed listing before or after.
    bool Install(std::vector<UniqueIdList> items, HRESULT result, bool replace);
    // Back to "not loaded", empty.
    void Reset();

    size_t Count() const;
    // A clone of the first item at or after `index` that `wanted` accepts, and `index` moved
    // past it; null at the end (or out of memory, with `outOfMemory` set).
    UniqueIdList CloneNext(size_t& index, const std::function<bool(const ITEMIDLIST*)>& wanted,
                           bool& outOfMemory) const;
    std::vector<UniqueIdList> CloneAll() const;
    // The first item equal to `item` by name (the folder's column-0 comparison).
    bool Contains(const ITEMIDLIST* item) const;
    UniqueIdList CloneEqual(const ITEMIDLIST* item) const;
    bool Remove(const ITEMIDLIST* item);
    // The first equal item is dropped and `replacement` appended; false when there is none.
    bool Replace(const ITEMIDLIST* item, UniqueIdList replacement);
    void Append(UniqueIdList item);
    // Sets or clears the cut mark of every listed item in `items`, in one pass; whether any was.
    bool SetCutMarks(const ItemIdSet& items, bool cut);
    // Clones of the items that carry the cut mark.
    std::vector<UniqueIdList> CloneCut() const;
    // The first item whose shown name equals `name`, ASCII letters folded.
    UniqueIdList CloneByShownName(std::string_view name) const;

    void Attach(FolderView* view);
    void Detach(FolderView* view);
    size_t ViewCount() const;
    // Asks every attached view for `update` by the rule above.
    void UpdateViews(ViewUpdate update);

private:
    std::vector<UniqueIdList>::iterator FindEqual(const ITEMIDLIST* item);
    std::vector<UniqueIdList>::const_iterator FindEqual(const ITEMIDLIST* item) const;

    mutable std::mutex lock_;
    std::vector<UniqueIdList> items_;
    bool loaded_ = false;
    HRESULT result_ = S_OK;
    std::vector<FolderView*> views_;
};

}  // namespace dm
