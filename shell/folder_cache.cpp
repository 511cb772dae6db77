#include "shell/folder_cache.h"

#include "core/amiga_dates.h"
#include "core/amiga_names.h"
#include "core/amiga_paths.h"
#include "core/crc32.h"
#include "shell/item_id.h"
#include "shell/remote_operation.h"

#include <algorithm>
#include <mutex>

namespace dm {

namespace {

// Folders are made and released on the shell's thread and on workers' threads.
std::mutex registryLock;
std::vector<AmigaFolder*>& Registry()
{
    static std::vector<AmigaFolder*> folders;
    return folders;
}

constexpr UINT kNotifyFlags = SHCNF_IDLIST | SHCNF_FLUSH;

void Notify(LONG event, const ITEMIDLIST* first, const ITEMIDLIST* second = nullptr)
{
    if (first)
        SHChangeNotify(event, kNotifyFlags, first, second);
}

void RefreshViews(AmigaFolder& folder)
{
    // A view may detach while it refreshes.
    const std::vector<FolderView*> views = folder.Views();
    for (FolderView* view : views)
        view->RefreshFromFolder();
}

// The folders that list `item`, each held.
std::vector<AmigaFolder*> FoldersListing(const ItemIdView& item)
{
    return FolderRegistry::Matching(item.ParentPath());
}

struct CutMembers {
    std::mutex lock;
    std::vector<UniqueIdList> items;
};

CutMembers& CutState()
{
    static CutMembers members;
    return members;
}

// Sets or clears the marks of `members` in every folder that lists them.
void MarkCut(const std::vector<UniqueIdList>& members, bool cut)
{
    for (const UniqueIdList& member : members) {
        std::vector<AmigaFolder*> folders = FoldersListing(ItemIdView(member.get()));
        for (AmigaFolder* folder : folders) {
            for (FolderView* view : folder->Views())
                view->MarkCut(member.get(), cut);
            const auto found = FindEqualItem(*folder, member.get());
            if (found != folder->Items().end())
                SetCutMark(found->get(), cut);
        }
        ReleaseFolders(folders);
    }
}

}  // namespace

void FolderRegistry::Add(AmigaFolder* folder)
{
    std::lock_guard<std::mutex> guard(registryLock);
    Registry().push_back(folder);
}

void FolderRegistry::Remove(AmigaFolder* folder)
{
    std::lock_guard<std::mutex> guard(registryLock);
    std::vector<AmigaFolder*>& folders = Registry();
    folders.erase(std::remove(folders.begin(), folders.end(), folder), folders.end());
}

size_t FolderRegistry::Count()
{
    std::lock_guard<std::mutex> guard(registryLock);
    return Registry().size();
}

std::vector<AmigaFolder*> FolderRegistry::Matching(std::string_view path, bool prefix)
{
    std::vector<AmigaFolder*> matching;
    std::lock_guard<std::mutex> guard(registryLock);
    for (AmigaFolder* folder : Registry()) {
        const std::string_view own = folder->Path();
        const bool matches =
            prefix ? own.size() >= path.size() && EqualsNoCase(own.substr(0, path.size()), path)
                   : EqualsNoCase(own, path);
        if (matches && folder->TryAddRef())
            matching.push_back(folder);
    }
    return matching;
}

void ReleaseFolders(std::vector<AmigaFolder*>& folders)
{
    for (AmigaFolder* folder : folders)
        folder->Release();
    folders.clear();
}

UniqueIdList MakeFolderItemId(const AmigaFolder& folder, std::string_view name, ItemKind kind,
                              uint32_t size, uint32_t usedSpace, uint32_t protection,
                              const FILETIME& modified, std::string_view comment)
{
    UniqueIdList item(
        MakeItemId(folder.Path(), name, kind, size, usedSpace, protection, modified, comment));
    if (item && CutSet::Contains(item.get()))
        SetCutMark(item.get(), true);
    return item;
}

bool AddItem(AmigaFolder& folder, const DirectoryEntry& entry)
{
    UniqueIdList item =
        MakeFolderItemId(folder, entry.name, entry.kind, entry.size, entry.inUse, entry.protection,
                         DateStampToFileTime(entry.date), entry.comment);
    if (!item)
        return false;
    try {
        folder.Items().push_back(std::move(item));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

std::vector<UniqueIdList>::iterator FindEqualItem(AmigaFolder& folder, const ITEMIDLIST* item)
{
    std::vector<UniqueIdList>& items = folder.Items();
    return std::find_if(items.begin(), items.end(), [item](const UniqueIdList& listed) {
        return CompareItemIds(int(FolderColumn::Name), listed.get(), item) == 0;
    });
}

HRESULT EnsureLoaded(AmigaFolder& folder)
{
    if (folder.loaded)
        return folder.loadResult;
    // The listing sees the items of this folder only; ReportRemoteError has no owner because
    // the shell may ask from any window.
    folder.loadResult = RunRemote(nullptr, [&folder](PacketChannel& channel) {
        return channel.ListDirectory(folder.Path(), [&folder](const DirectoryEntry& entry) {
            return AddItem(folder, entry);
        });
    });
    folder.loaded = true;
    return folder.loadResult;
}

HRESULT ReRead(AmigaFolder& folder)
{
    Crc32 before;
    const size_t countBefore = folder.Items().size();
    for (const UniqueIdList& item : folder.Items())
        before.Add(item.get(), ReadItemSize(item.get()));
    folder.Items().clear();
    folder.loaded = false;

    const HRESULT result = EnsureLoaded(folder);
    Crc32 after;
    for (const UniqueIdList& item : folder.Items())
        after.Add(item.get(), ReadItemSize(item.get()));
    if (folder.Items().size() == countBefore && after.Value() == before.Value())
        return result;

    Notify(SHCNE_UPDATEDIR, folder.AbsoluteList().get());
    RefreshViews(folder);
    return result;
}

void ReReadByPath(std::string_view path, bool prefix)
{
    std::vector<AmigaFolder*> folders = FolderRegistry::Matching(path, prefix);
    for (AmigaFolder* folder : folders)
        ReRead(*folder);
    ReleaseFolders(folders);
}

void RefreshViewsByPath(std::string_view path)
{
    std::vector<AmigaFolder*> folders = FolderRegistry::Matching(path);
    for (AmigaFolder* folder : folders)
        RefreshViews(*folder);
    ReleaseFolders(folders);
}

HRESULT RemoveItemEverywhere(const ITEMIDLIST* item, bool deleteOnAmiga)
{
    // The caller's identifier may be one of the lists changed below.
    const UniqueIdList own = CloneUnique(item);
    item = own.get();
    const ItemIdView view(item);
    const std::optional<RemoteItem> remote = view.ToRemoteItem();
    if (!remote)
        return own ? E_INVALIDARG : E_OUTOFMEMORY;
    if (deleteOnAmiga) {
        const HRESULT result =
            RunRemote(nullptr, [&](PacketChannel& channel) { return channel.Delete(*remote); });
        if (FAILED(result))
            return result;
    }
    const LONG event = IsContainerKind(view.Kind()) ? SHCNE_RMDIR : SHCNE_DELETE;
    std::vector<AmigaFolder*> folders = FoldersListing(view);
    for (AmigaFolder* folder : folders) {
        const auto found = FindEqualItem(*folder, item);
        if (found != folder->Items().end())
            folder->Items().erase(found);
        Notify(event, folder->AbsoluteList(item).get());
    }
    ReleaseFolders(folders);
    return S_OK;
}

HRESULT RenameItemEverywhere(const ITEMIDLIST* item, const std::string& newName)
{
    // The caller's identifier may be one of the lists changed below.
    const UniqueIdList old = CloneUnique(item);
    const ItemIdView view(old.get());
    const std::optional<RemoteItem> remote = view.ToRemoteItem();
    if (!remote)
        return old ? E_INVALIDARG : E_OUTOFMEMORY;
    const HRESULT result = RunRemote(
        nullptr, [&](PacketChannel& channel) { return channel.Rename(*remote, newName); });
    if (FAILED(result))
        return result;

    const size_t colon = view.Name().find(':');
    const std::string fullName = colon == std::string_view::npos
                                     ? newName
                                     : std::string(view.Name().substr(0, colon + 1)) + newName;
    const LONG event = IsContainerKind(view.Kind()) ? SHCNE_RENAMEFOLDER : SHCNE_RENAMEITEM;
    std::vector<AmigaFolder*> folders = FoldersListing(view);
    for (AmigaFolder* folder : folders) {
        UniqueIdList renamed =
            MakeFolderItemId(*folder, fullName, view.Kind(), view.Size(), view.UsedSpace(),
                             view.Protection(), view.Modified(), view.Comment());
        if (renamed) {
            const UniqueIdList oldAbsolute = folder->AbsoluteList(old.get());
            const UniqueIdList newAbsolute = folder->AbsoluteList(renamed.get());
            const auto found = FindEqualItem(*folder, old.get());
            if (found != folder->Items().end()) {
                // Moving to the end cannot fail once the slot exists.
                std::rotate(found, found + 1, folder->Items().end());
                folder->Items().back() = std::move(renamed);
            }
            Notify(event, oldAbsolute.get(), newAbsolute.get());
        }
        RefreshViews(*folder);
    }
    ReleaseFolders(folders);
    return result;
}

HRESULT UpdateItemEverywhere(const ITEMIDLIST* item, uint32_t protection,
                             const std::string& comment)
{
    const UniqueIdList old = CloneUnique(item);
    const ItemIdView view(old.get());
    const std::optional<RemoteItem> remote = view.ToRemoteItem();
    if (!remote)
        return old ? E_INVALIDARG : E_OUTOFMEMORY;
    const HRESULT result = RunRemote(nullptr, [&](PacketChannel& channel) {
        return channel.SetAttributes(*remote, protection, comment);
    });
    if (FAILED(result))
        return result;

    std::vector<AmigaFolder*> folders = FoldersListing(view);
    for (AmigaFolder* folder : folders) {
        const auto found = FindEqualItem(*folder, old.get());
        if (found != folder->Items().end()) {
            UniqueIdList updated =
                MakeFolderItemId(*folder, view.Name(), view.Kind(), view.Size(), view.UsedSpace(),
                                 protection, view.Modified(), comment);
            if (updated) {
                std::rotate(found, found + 1, folder->Items().end());
                folder->Items().back() = std::move(updated);
                Notify(SHCNE_UPDATEITEM, folder->AbsoluteList(folder->Items().back().get()).get());
            }
        }
        RefreshViews(*folder);
    }
    ReleaseFolders(folders);
    return result;
}

bool CutSet::Contains(const ITEMIDLIST* item)
{
    CutMembers& state = CutState();
    std::lock_guard<std::mutex> guard(state.lock);
    return std::any_of(state.items.begin(), state.items.end(), [item](const UniqueIdList& m) {
        return CompareItemIds(int(FolderColumn::Name), m.get(), item) == 0;
    });
}

void CutSet::Replace(const std::vector<const ITEMIDLIST*>& items)
{
    Clear();
    std::vector<UniqueIdList> clones;
    try {
        for (const ITEMIDLIST* item : items) {
            clones.push_back(CloneUnique(item));
            if (!clones.back())
                return;
        }
    } catch (const std::bad_alloc&) {
        return;
    }
    MarkCut(clones, true);
    CutMembers& state = CutState();
    std::lock_guard<std::mutex> guard(state.lock);
    state.items = std::move(clones);
}

void CutSet::Clear()
{
    std::vector<UniqueIdList> old;
    {
        CutMembers& state = CutState();
        std::lock_guard<std::mutex> guard(state.lock);
        old.swap(state.items);
    }
    MarkCut(old, false);
}

size_t CutSet::Count()
{
    CutMembers& state = CutState();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.items.size();
}

}  // namespace dm
