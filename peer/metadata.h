// What a host file system cannot hold of an Amiga object (protection bits, a comment, a date
// stamp finer than the host's idea of local time, a volume's name) lives in one hidden sidecar
// file per folder, so that it survives restarts of the server.
#pragma once

#include "core/amiga_types.h"

#include <sys/stat.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace dm::peer {

constexpr char kSidecarName[] = ".drovemark-meta";

struct ItemMeta {
    uint32_t protection = 0;
    std::string comment;
    // The stamp counts only while the host file keeps the modification time it was set with;
    // a file changed behind the server's back shows its host time again.
    std::optional<DateStamp> date;
    int64_t mtimeSeconds = 0;
    int64_t mtimeNanoseconds = 0;
};

struct FolderMeta {
    std::map<std::string, ItemMeta> items;  // by host name
    std::string label;                      // a drive's name, kept in its top folder
};

// A missing or unreadable sidecar reads as empty; lines that do not parse are skipped, and so is
// a last line a kill cut short.
FolderMeta LoadFolderMeta(int dirfd);
// Drops entries whose host item has gone; removes the sidecar when nothing is left. 0 or errno.
int SaveFolderMeta(int dirfd, FolderMeta meta);
// Records one item's metadata, replacing what was kept for it: one appended line, the whole
// sidecar rewritten only when the superseded lines have piled up. 0 or errno.
int SaveItemMeta(int dirfd, const std::string& name, const ItemMeta& item);

// Exposed for tests: the sidecar's text form.
std::string SerializeFolderMeta(const FolderMeta& meta);
FolderMeta ParseFolderMeta(const std::string& text);

// The date of a host item: the stamp kept for it, or its host modification time.
DateStamp ItemDate(const struct stat& st, const ItemMeta* meta);
// Sets the host modification time to the stamp and records both; 0 or errno.
int ApplyDate(int dirfd, const std::string& name, const DateStamp& date, ItemMeta& meta);
int ApplyDate(int fd, const DateStamp& date, ItemMeta& meta);
// Records the host modification time the stamp now belongs to.
void RecordHostTime(const struct stat& st, ItemMeta& meta);

// The protection of a host item: the bits kept for it, or what the host permissions allow.
uint32_t ItemProtection(const struct stat& st, const ItemMeta* meta);

}  // namespace dm::peer
