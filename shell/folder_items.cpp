#include "shell/folder_items.h"

#include "core/amiga_names.h"
#include "core/amiga_paths.h"
#include "core/crc32.h"
#include "shell/amiga_folder.h"
#include "shell/item_id.h"

#include <algorithm>

namespace dm {

namespace {

struct Fingerprint {
    size_t count = 0;
    uint32_t crc = 0;
    bool failed = false;
    friend bool operator==(const Fingerprint&, const Fingerprint&) = default;
};

Fingerprint FingerprintOf(const std::vector<UniqueIdList>& items, bool failed)
{
    Crc32 crc;
    for (const UniqueIdList& item : items)
        crc.Add(item.get(), ReadItemSize(item.get()));
    return {items.size(), crc.Value(), failed};
}

}  // namespace

std::optional<HRESULT> FolderItems::LoadResult() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return loaded_ ? std::optional<HRESULT>(result_) : std::nullopt;
}

bool FolderItems::Install(std::vector<UniqueIdList> items, HRESULT result, bool replace)
{
    std::vector<UniqueIdList> old;  // freed outside the lock
    std::lock_guard<std::mutex> guard(lock_);
    if (loaded_ && !replace)
        return false;
    // A folder that has never been listed shows nothing yet, like one whose listing failed.
    const Fingerprint before = FingerprintOf(items_, !loaded_ || FAILED(result_));
    const Fingerprint after = FingerprintOf(items, FAILED(result));
    old.swap(items_);
    items_ = std::move(items);
    loaded_ = true;
    result_ = result;
    return !(before == after);
}

void FolderItems::Reset()
{
    std::vector<UniqueIdList> old;
    std::lock_guard<std::mutex> guard(lock_);
    old.swap(items_);
    loaded_ = false;
    result_ = S_OK;
}

size_t FolderItems::Count() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return items_.size();
}

UniqueIdList FolderItems::CloneNext(size_t& index,
                                    const std::function<bool(const ITEMIDLIST*)>& wanted,
                                    bool& outOfMemory) const
{
    outOfMemory = false;
    std::lock_guard<std::mutex> guard(lock_);
    for (; index < items_.size(); ++index) {
        if (!wanted(items_[index].get()))
            continue;
        UniqueIdList clone = CloneUnique(items_[index].get());
        if (!clone) {
            outOfMemory = true;
            return nullptr;
        }
        ++index;
        return clone;
    }
    return nullptr;
}

std::vector<UniqueIdList> FolderItems::CloneAll() const
{
    std::vector<UniqueIdList> clones;
    std::lock_guard<std::mutex> guard(lock_);
    clones.reserve(items_.size());
    for (const UniqueIdList& item : items_)
        if (UniqueIdList clone = CloneUnique(item.get()))
            clones.push_back(std::move(clone));
    return clones;
}

std::vector<UniqueIdList>::iterator FolderItems::FindEqual(const ITEMIDLIST* item)
{
    return std::find_if(items_.begin(), items_.end(), [item](const UniqueIdList& listed) {
        return CompareItemIds(int(FolderColumn::Name), listed.get(), item) == 0;
    });
}

std::vector<UniqueIdList>::const_iterator FolderItems::FindEqual(const ITEMIDLIST* item) const
{
    return const_cast<FolderItems*>(this)->FindEqual(item);
}

bool FolderItems::Contains(const ITEMIDLIST* item) const
{
    std::lock_guard<std::mutex> guard(lock_);
    return FindEqual(item) != items_.end();
}

UniqueIdList FolderItems::CloneEqual(const ITEMIDLIST* item) const
{
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = FindEqual(item);
    return found == items_.end() ? nullptr : CloneUnique(found->get());
}

bool FolderItems::Remove(const ITEMIDLIST* item)
{
    UniqueIdList removed;
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = FindEqual(item);
    if (found == items_.end())
        return false;
    removed = std::move(*found);
    items_.erase(found);
    return true;
}

bool FolderItems::Replace(const ITEMIDLIST* item, UniqueIdList replacement)
{
    UniqueIdList removed;
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = FindEqual(item);
    if (found == items_.end())
        return false;
    // Moving to the end cannot fail once the slot exists.
    removed = std::move(*found);
    std::rotate(found, found + 1, items_.end());
    items_.back() = std::move(replacement);
    return true;
}

void FolderItems::Append(UniqueIdList item)
{
    std::lock_guard<std::mutex> guard(lock_);
    items_.push_back(std::move(item));
}

bool FolderItems::SetCutMarks(const ItemIdSet& items, bool cut)
{
    bool marked = false;
    std::lock_guard<std::mutex> guard(lock_);
    for (const UniqueIdList& listed : items_)
        if (items.count(listed.get()) && dm::SetCutMark(listed.get(), cut))
            marked = true;
    return marked;
}

std::vector<UniqueIdList> FolderItems::CloneCut() const
{
    std::vector<UniqueIdList> cut;
    std::lock_guard<std::mutex> guard(lock_);
    for (const UniqueIdList& listed : items_)
        if (ItemIdView(listed.get()).IsCut())
            cut.push_back(CloneUnique(listed.get()));
    return cut;
}

UniqueIdList FolderItems::CloneByShownName(std::string_view name) const
{
    std::lock_guard<std::mutex> guard(lock_);
    for (const UniqueIdList& listed : items_) {
        const ItemIdView item(listed.get());
        if (EqualsNoCase(DisplayName(item.Name(), item.Kind()), name))
            return CloneUnique(listed.get());
    }
    return nullptr;
}

void FolderItems::Attach(FolderView* view)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (std::find(views_.begin(), views_.end(), view) == views_.end())
        views_.push_back(view);
}

void FolderItems::Detach(FolderView* view)
{
    std::lock_guard<std::mutex> guard(lock_);
    views_.erase(std::remove(views_.begin(), views_.end(), view), views_.end());
}

size_t FolderItems::ViewCount() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return views_.size();
}

void FolderItems::UpdateViews(ViewUpdate update)
{
    // A view detaches under the lock, and only on its own thread: one of this thread's views
    // cannot go away between here and its update below.
    std::vector<FolderView*> own;
    {
        std::lock_guard<std::mutex> guard(lock_);
        const DWORD thread = GetCurrentThreadId();
        for (FolderView* view : views_) {
            if (view->OwnerThreadId() == thread)
                own.push_back(view);
            else
                view->PostUpdate(update);
        }
    }
    for (FolderView* view : own)
        view->Update(update);
}

}  // namespace dm
