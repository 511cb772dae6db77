// The Amiga side's own files, which Setup hands over: they lie in the "Amiga" subfolder of the
// folder the installer recorded as "Path" in the settings key.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace dm {

// Room a raw send keeps for "Amiga\" and the longest file name within MAX_PATH.
constexpr size_t kRawSendFolderLimit = MAX_PATH - 16;
// The final copy builds its own paths below the folder: its limit is stricter.
constexpr size_t kCopyFolderLimit = 253;

// The installation folder's "Amiga" subfolder with a trailing backslash. The registry error
// when "Path" cannot be read; E_FAIL when the folder name is longer than `folderLimit`.
HRESULT AmigaFilesFolder(size_t folderLimit, std::string& folder);

}  // namespace dm
