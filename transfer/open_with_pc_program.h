// Opening an Amiga file in the PC program registered for its type: the file is fetched whole
// into a fresh temporary folder and opened there; the copy is kept while the folder has a view,
// and fetched again only when the item changed on the Amiga.
#pragma once

#include <windows.h>

#include <shtypes.h>

#include <string>

namespace dm {

class AmigaFolder;

HRESULT OpenWithPcProgram(AmigaFolder& folder, const ITEMIDLIST* item, HWND owner);

// What opens a PC file; ShellExecute's result (above 32 on success). Tests put their own in.
using PcProgramLauncher = INT_PTR (*)(HWND owner, const std::string& path);
void SetPcProgramLauncher(PcProgramLauncher launcher);

}  // namespace dm
