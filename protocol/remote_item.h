// What a remote command needs to know of an Amiga item, and the paths requests carry.
#pragma once

#include "core/amiga_types.h"

#include <cstdint>
#include <string>

namespace dm {

struct RemoteItem {
    std::string parentPath;  // the folder path of the folder that lists it; empty at the root
    std::string name;
    ItemKind kind = ItemKind::File;
    uint32_t size = 0;       // for volumes and floppies the capacity
    uint32_t usedSpace = 0;  // volumes and floppies only

    ItemLocation Location() const { return {parentPath, name}; }
};

// parentPath, "/" when both texts are non-empty, name (DH0:Work/Devs).
std::string RemotePath(const RemoteItem& item);

// The bytes a request reserves for the path: the text, its terminator and, when either text
// is empty, one spare zero byte.
std::string RemotePathField(const RemoteItem& item);

}  // namespace dm
