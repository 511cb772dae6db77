// Each folder's listing, read from the Amiga once per folder object, and the propagation of
// changes to every open folder of the same path, with the shell's change notifications.
#pragma once

#include "core/amiga_types.h"
#include "shell/amiga_folder.h"
#include "shell/folder_items.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace dm {

// Every live folder of this process, in order of creation.
class FolderRegistry {
public:
    static void Add(AmigaFolder* folder);
    static void Remove(AmigaFolder* folder);
    // Runs `work` under the registry's lock: a change of a listed folder's path or lists, or a
    // read of them from another thread, so that neither sees the other half done.
    static void Locked(const std::function<void()>& work);
    static size_t Count();
    // The live folders whose path equals `path` (or, with `prefix`, starts with it), ASCII
    // letters folded; each comes with a reference the caller releases.
    static std::vector<AmigaFolder*> Matching(std::string_view path, bool prefix = false);
};

// Releases the folders Matching handed out.
void ReleaseFolders(std::vector<AmigaFolder*>& folders);

// The folder's listing, read on the first call; a failure is kept until the folder is re-read.
// Safe from any thread (see folder_items.h).
HRESULT EnsureLoaded(AmigaFolder& folder);
// Reads the listing again; the shell and the views hear of it only when it changed.
HRESULT ReRead(AmigaFolder& folder);
void ReReadByPath(std::string_view path, bool prefix);
void RefreshViewsByPath(std::string_view path);

// Removes the item from every open folder that lists it, deleting it on the Amiga first when
// `deleteOnAmiga` (a remote failure changes nothing).
HRESULT RemoveItemEverywhere(const ITEMIDLIST* item, bool deleteOnAmiga);
// Renames on the Amiga, then in every open folder; a volume keeps its device part.
HRESULT RenameItemEverywhere(const ITEMIDLIST* item, const std::string& newName);
// In a protection value sent: leave the item's comment as it is on the Amiga.
constexpr uint32_t kKeepCommentFlag = 0x40000000;
// Sets protection bits and comment on the Amiga, then in every open folder.
HRESULT UpdateItemEverywhere(const ITEMIDLIST* item, uint32_t protection,
                             const std::string& comment);

// The folder-side halves of a re-read and a rename, for what the Amiga already did: a listing
// made outside the folder's lock replaces its list (the shell and the views hear of it only when
// it changed), and a renamed item is renamed in every open folder that lists it.
void InstallReRead(AmigaFolder& folder, std::vector<UniqueIdList> items, HRESULT result);
void RenameInFolders(const ITEMIDLIST* item, const std::string& newName);

// The identifier of one listing record in `folder`, with its cut mark when it was last cut to
// the clipboard; null when out of memory.
UniqueIdList MakeFolderItemId(const AmigaFolder& folder, std::string_view name, ItemKind kind,
                              uint32_t size, uint32_t usedSpace, uint32_t protection,
                              const FILETIME& modified, std::string_view comment);

// Sets or clears the cut mark of `items` in every open folder that lists them, and dims or
// restores their rows in those folders' views, each once.
void MarkCutEverywhere(const std::vector<const ITEMIDLIST*>& items, bool cut);

}  // namespace dm
