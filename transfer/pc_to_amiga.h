// PC files and folders onto the Amiga: each entry of a LocalFileList created below a target
// drawer (or written into a disk image item), with the overwrite questions of one batch, and for
// a move the PC sources removed afterwards: only those that arrived whole.
#pragma once

#include "core/progress_dialog.h"
#include "protocol/remote_questions.h"
#include "shell/item_id_list.h"
#include "transfer/local_file_list.h"

#include <windows.h>

#include <shlobj.h>

#include <vector>

namespace dm {

struct PcTransferOutcome {
    // Per entry of the list: a file written whole and confirmed, or a drawer created.
    std::vector<bool> delivered;
    bool drawerTransferred = false;
    // Every entry was delivered (none declined, none left out).
    bool AllDelivered() const;
};

// Sends the entries below `target` (a volume, floppy, drawer, or an image item that takes one
// file). Stops at the first failure or cancel; a file of which not every byte arrived is never
// counted as delivered.
HRESULT SendLocalFiles(const LocalFileList& files, const ITEMIDLIST* target, HWND owner,
                       ProgressDialog& progress, RemoteQuestions& questions,
                       PcTransferOutcome& outcome);

// The sources of a move that were delivered: files first, in list order, then folders from the
// deepest up, each folder only when nothing is left in it. Whether all of them went.
bool DeleteDeliveredSources(const LocalFileList& files, const PcTransferOutcome& outcome);

// A single file dropped on a floppy drive or volume that is exactly as large as the drive's
// disk image item (and at least as large as the drive) goes to that image item: the listing of
// `folder`, which lists `target`, is searched for it. Null when the drop stays as it is.
UniqueIdList DiskImageTarget(IShellFolder& folder, const ITEMIDLIST* target,
                             const LocalFileList& files);

}  // namespace dm
