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

// A "/"-separated Amiga path made safe as a Windows relative path: "\" separators, no
// characters Windows refuses, no device names, no dot-only components. None when the result
// would reach 260 characters.
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
