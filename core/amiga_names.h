// Names and paths between the Amiga and Windows.
#pragma once

#include "core/amiga_types.h"
#include "core/platform.h"

#include <optional>
#include <string>
#include <string_view>

namespace dm {

// Equal with ASCII letters folded to one case, byte by byte: how paths and names are compared.
bool EqualsNoCase(std::string_view a, std::string_view b);

// Both items lie on the same Amiga device (their parent path, or the name of a top-level item,
// agree up to and including the ":").
bool SameVolume(const ItemLocation& a, const ItemLocation& b);

// A name an Amiga file or drawer can have: not empty, no "/", no control character. A listing
// that holds another is damaged (or hostile): its names would climb out of the PC folder.
bool IsPossibleAmigaName(std::string_view name);

// The PC name of one Amiga name, whatever it holds: one component, never empty, ".", "..", a
// device name or a drive, no character Windows refuses or trims. Everything that puts an Amiga
// file on the PC names it by this.
std::string PcNameOf(std::string_view amigaName);

// A "/"-separated Amiga path made a Windows relative path of PcNameOf components: nothing in it
// leaves the folder it is joined to. None when the result would reach 260 characters.
std::optional<std::string> MakeWindowsName(std::string_view amigaPath);

// What the shell tells us of one PC file or folder being dropped or pasted.
struct PcFileDescriptor {
    DWORD attributes = 0;
    FILETIME lastWriteTime {};
    DWORD sizeHigh = 0;
    DWORD sizeLow = 0;
    std::string name;  // relative to the drop, "\"-separated
};

// The record that creates `file` below `destination`, named by its path relative to the base
// folder of `first` (the drop's first descriptor). E_FAIL for files of 4 GB or more, names
// outside the base folder, and paths of 260 characters or more.
HRESULT MakeCreateRecord(const PcFileDescriptor& file, const PcFileDescriptor* first,
                         const ItemLocation& destination, DirectoryEntry& record);

}  // namespace dm
