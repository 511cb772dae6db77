#include "transfer/cut_set.h"

#include "shell/amiga_folder.h"
#include "shell/folder_cache.h"
#include "shell/item_id.h"
#include "shell/item_id_list.h"

#include <algorithm>
#include <mutex>

namespace dm {

namespace {

// Cuts are made on Explorer's threads and cleared by transfers on theirs.
struct CutMembers {
    std::mutex lock;
    std::vector<UniqueIdList> items;
    ItemIdSet identities;  // of `items`: a listing asks once per entry
    uint64_t generation = 0;
};

CutMembers& State()
{
    static CutMembers members;
    return members;
}

void Mark(const std::vector<UniqueIdList>& members, bool cut)
{
    std::vector<const ITEMIDLIST*> items;
    for (const UniqueIdList& member : members)
        items.push_back(member.get());
    MarkCutEverywhere(items, cut);
}

}  // namespace

bool CutSet::Contains(const ITEMIDLIST* item)
{
    CutMembers& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    return ItemIdView(item).IsValid() && state.identities.count(item) != 0;
}

uint64_t CutSet::Replace(const std::vector<const ITEMIDLIST*>& items)
{
    Clear();
    std::vector<UniqueIdList> clones, marks;
    try {
        for (const ITEMIDLIST* item : items) {
            clones.push_back(CloneUnique(item));
            marks.push_back(CloneUnique(item));
            if (!clones.back() || !marks.back())
                return 0;
        }
    } catch (const std::bad_alloc&) {
        return 0;
    }
    uint64_t generation;
    {
        // Stored before marking, so that a folder listing meanwhile marks them too.
        CutMembers& state = State();
        std::lock_guard<std::mutex> guard(state.lock);
        state.items = std::move(clones);
        state.identities.clear();
        for (const UniqueIdList& member : state.items)
            if (ItemIdView(member.get()).IsValid())
                state.identities.insert(member.get());
        generation = ++state.generation;
    }
    Mark(marks, true);
    return generation;
}

void CutSet::ClearIfCurrent(uint64_t generation)
{
    std::vector<UniqueIdList> old;
    {
        CutMembers& state = State();
        std::lock_guard<std::mutex> guard(state.lock);
        if (generation == 0 || state.generation != generation)
            return;
        old.swap(state.items);
        state.identities.clear();
    }
    Mark(old, false);
}

void CutSet::Clear()
{
    std::vector<UniqueIdList> old;
    {
        CutMembers& state = State();
        std::lock_guard<std::mutex> guard(state.lock);
        old.swap(state.items);
        state.identities.clear();
    }
    Mark(old, false);
}

size_t CutSet::Count()
{
    CutMembers& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.items.size();
}

}  // namespace dm
