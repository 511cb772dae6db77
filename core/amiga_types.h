// The Amiga's description of an object, as the core passes it between the wire and the shell.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dm {

enum class ItemKind : uint8_t {
    Volume = 0,
    Floppy = 1,
    Drawer = 2,
    File = 3,
    RomFile = 4,
    AdfFile = 5,
    HdfFile = 6,
};

inline bool IsContainerKind(ItemKind kind)
{
    return kind == ItemKind::Volume || kind == ItemKind::Floppy || kind == ItemKind::Drawer;
}

// AmigaDOS DateStamp: the Amiga clock keeps local time.
struct DateStamp {
    int32_t days = 0;     // since 1 January 1978
    int32_t minutes = 0;  // since midnight
    int32_t ticks = 0;    // 1/50 s within the minute

    friend bool operator==(const DateStamp&, const DateStamp&) = default;
};

// AmigaDOS protection bits: H S P A are shown when set, R W E D when clear (set forbids).
namespace protection {
constexpr uint32_t Hold = 0x80;
constexpr uint32_t Script = 0x40;
constexpr uint32_t Pure = 0x20;
constexpr uint32_t Archived = 0x10;
constexpr uint32_t ReadForbidden = 0x08;
constexpr uint32_t WriteForbidden = 0x04;
constexpr uint32_t ExecuteForbidden = 0x02;
constexpr uint32_t DeleteForbidden = 0x01;
}  // namespace protection

// One remote object, decoded from (or to be encoded as) a directory entry record.
struct DirectoryEntry {
    uint32_t size = 0;
    uint32_t inUse = 0;
    uint32_t protection = 0;
    DateStamp date;
    ItemKind kind = ItemKind::File;
    std::string name;
    std::string comment;
};

// Where an item sits: the two texts that paths are built from.
struct ItemLocation {
    std::string_view parentPath;
    std::string_view name;
};

}  // namespace dm
