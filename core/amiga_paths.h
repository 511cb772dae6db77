// How Amiga items are named and shown: the hidden device part of volume and image names, the
// Volume:dir/file path shown to the user, and the protection letters.
#pragma once

#include "core/amiga_types.h"
#include "core/platform.h"

#include <optional>
#include <string>
#include <string_view>

namespace dm {

// Passed to DisplayPrefixLength to mean a whole path rather than one item's name.
constexpr int kFullPathKind = 7;

// How many leading bytes of a name (or of a whole path, with kFullPathKind) are its device
// part and not shown: DH0:Work shows as Work.
size_t DisplayPrefixLength(std::string_view text, int kind);

inline std::string_view DisplayName(std::string_view name, ItemKind kind)
{
    return name.substr(DisplayPrefixLength(name, int(kind)));
}

// parentPath, "/" when parentPath is not empty, name: what a listing request for the item
// as a folder carries.
std::string FolderPath(std::string_view parentPath, std::string_view name);

// The path the user sees (Work:Devs/file), or none when it would reach 260 characters.
std::optional<std::string> AmigaPath(std::string_view parentPath, std::string_view name);

// The letters H S P A (shown when set) and R W E D (shown when clear), in that order.
std::string AttributeText(uint32_t protection);

// The string id of the kind's type name ("Volume", "Drawer", "HDF File" ...).
UINT TypeTextId(ItemKind kind);

}  // namespace dm
