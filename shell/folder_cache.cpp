#include "shell/folder_cache.h"

#include "core/amiga_dates.h"
#include "core/amiga_names.h"
#include "core/amiga_paths.h"
#include "shell/item_id.h"
#include "shell/remote_operation.h"
#include "shell/ui_object_factories.h"

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

// The folders that list `item`, each held.
std::vector<AmigaFolder*> FoldersListing(const ItemIdView& item)
{
    return FolderRegistry::Matching(item.ParentPath());
}

// The folder's listing as the Amiga gives it now, made outside any folder lock.
HRESULT ListFolder(AmigaFolder& folder, std::vector<UniqueIdList>& items)
{
    // ReportRemoteError has no owner because the shell may ask from any window.
    return RunRemote(nullptr, [&](PacketChannel& channel) {
        return channel.ListDirectory(folder.Path(), [&](const DirectoryEntry& entry) {
            UniqueIdList item = MakeFolderItemId(folder, entry.name, entry.kind, entry.size,
                                                 entry.inUse, entry.protection,
                                                 DateStampToFileTime(entry.date), entry.comment);
            if (!item)
                return false;
            try {
                items.push_back(std::move(item));
            } catch (const std::bad_alloc&) {
                return false;
            }
            return true;
        });
    });
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

void FolderRegistry::Locked(const std::function<void()>& work)
{
    std::lock_guard<std::mutex> guard(registryLock);
    work();
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
    const auto isCut = UiFactories().isCut;
    if (item && isCut && isCut(item.get()))
        SetCutMark(item.get(), true);
    return item;
}

HRESULT EnsureLoaded(AmigaFolder& folder)
{
    if (const std::optional<HRESULT> loaded = folder.Items().LoadResult())
        return *loaded;
    std::vector<UniqueIdList> items;
    const HRESULT result = ListFolder(folder, items);
    // Another thread may have loaded the folder meanwhile: its listing stands.
    folder.Items().Install(std::move(items), result, false);
    return folder.Items().LoadResult().value_or(result);
}

HRESULT ReRead(AmigaFolder& folder)
{
    std::vector<UniqueIdList> items;
    const HRESULT result = ListFolder(folder, items);
    InstallReRead(folder, std::move(items), result);
    return result;
}

void InstallReRead(AmigaFolder& folder, std::vector<UniqueIdList> items, HRESULT result)
{
    if (!folder.Items().Install(std::move(items), result, true))
        return;
    Notify(SHCNE_UPDATEDIR, folder.AbsoluteList().get());
    folder.Items().UpdateViews(ViewUpdate::Refill);
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
        folder->Items().UpdateViews(ViewUpdate::Refill);
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
        folder->Items().Remove(item);
        Notify(event, folder->AbsoluteList(item).get());
    }
    ReleaseFolders(folders);
    return S_OK;
}

HRESULT RenameItemEverywhere(const ITEMIDLIST* item, const std::string& newName)
{
    // The caller's identifier may be one of the lists changed below.
    const UniqueIdList old = CloneUnique(item);
    const std::optional<RemoteItem> remote = ItemIdView(old.get()).ToRemoteItem();
    if (!remote)
        return old ? E_INVALIDARG : E_OUTOFMEMORY;
    const HRESULT result = RunRemote(
        nullptr, [&](PacketChannel& channel) { return channel.Rename(*remote, newName); });
    if (SUCCEEDED(result))
        RenameInFolders(old.get(), newName);
    return result;
}

void RenameInFolders(const ITEMIDLIST* old, const std::string& newName)
{
    const ItemIdView view(old);
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
            const UniqueIdList oldAbsolute = folder->AbsoluteList(old);
            const UniqueIdList newAbsolute = folder->AbsoluteList(renamed.get());
            folder->Items().Replace(old, std::move(renamed));
            Notify(event, oldAbsolute.get(), newAbsolute.get());
        }
        folder->Items().UpdateViews(ViewUpdate::Refill);
    }
    ReleaseFolders(folders);
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

    // The Amiga takes only the low byte as protection bits; the rest of the cached value holds
    // this module's own marks (cut, formattable, has subdrawers), which a change must keep. With
    // the keep-comment flag the Amiga kept the comment, and so does the cache.
    const uint32_t cachedProtection = (protection & 0xFFu) | (view.Protection() & ~0xFFu);
    const std::string cachedComment =
        (protection & kKeepCommentFlag) ? std::string(view.Comment()) : comment;
    std::vector<AmigaFolder*> folders = FoldersListing(view);
    for (AmigaFolder* folder : folders) {
        UniqueIdList updated =
            MakeFolderItemId(*folder, view.Name(), view.Kind(), view.Size(), view.UsedSpace(),
                             cachedProtection, view.Modified(), cachedComment);
        if (updated) {
            const UniqueIdList absolute = folder->AbsoluteList(updated.get());
            if (folder->Items().Replace(old.get(), std::move(updated)))
                Notify(SHCNE_UPDATEITEM, absolute.get());
        }
        folder->Items().UpdateViews(ViewUpdate::Refill);
    }
    ReleaseFolders(folders);
    return result;
}

void MarkCutEverywhere(const std::vector<const ITEMIDLIST*>& items, bool cut)
{
    ItemIdSet set;
    std::vector<std::string_view> parents;
    for (const ITEMIDLIST* item : items) {
        const ItemIdView view(item);
        if (!view.IsValid())
            continue;
        set.insert(item);
        if (std::none_of(parents.begin(), parents.end(), [&](std::string_view parent) {
                return EqualsNoCase(parent, view.ParentPath());
            }))
            parents.push_back(view.ParentPath());
    }
    for (std::string_view parent : parents) {
        std::vector<AmigaFolder*> folders = FolderRegistry::Matching(parent);
        for (AmigaFolder* folder : folders) {
            folder->Items().SetCutMarks(set, cut);
            folder->Items().UpdateViews(ViewUpdate::CutMarks);
        }
        ReleaseFolders(folders);
    }
}

}  // namespace dm
