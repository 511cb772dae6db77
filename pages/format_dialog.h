// The Format dialog of a drive: its options, the two questions of the server through the format
// worker, the step progress, and the Cancel that stops a running format at its next step.
#pragma once

#include <windows.h>

#include <shtypes.h>

#include <cstdint>
#include <string>

namespace dm {

// DOS types sent with a format; a directory-cache file system is always international.
uint32_t DosTypeFor(bool fastFileSystem, bool international, bool directoryCache);

// What the dialog's controls hold when Start is pressed.
struct FormatChoice {
    uint32_t dosType = 0;
    bool quick = false;
    bool bootable = false;
    std::string volumeName;  // at most 30 characters
};
FormatChoice ReadFormatChoice(HWND dialog);

// Runs the dialog for one `Volume` or `Floppy` item on the calling thread until it is closed.
// S_OK when the disk was formatted, cancelled when closed without a format, E_INVALIDARG for
// an item that is not a drive.
HRESULT ShowFormatDialog(const ITEMIDLIST* device, HWND owner);

}  // namespace dm
