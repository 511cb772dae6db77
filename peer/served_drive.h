// A drive of the served tree, and the limits and name and walk helpers that the tree's volumes,
// file operations, copies and disk images share.
#pragma once

#include "peer/served_tree.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace dm::peer {

struct Drive {
    DriveConfig config;
    std::string host;      // the real path of the folder or image; empty without a disk
    std::string fileName;  // an image's host file name, which the PC shows
};

inline constexpr size_t kMaxPathLength = 1024;
inline constexpr size_t kMaxComponents = 64;
inline constexpr int kMaxWalkDepth = 128;
inline constexpr size_t kMaxUsageEntries = 200000;
inline constexpr uint64_t kClampedCapacity = 0xFFFFFE00;
inline constexpr auto kProgressInterval = std::chrono::milliseconds(100);
inline constexpr size_t kCopyChunk = 64 * 1024;

inline bool IsFolderDrive(const Drive& drive)
{
    return drive.config.kind == ItemKind::Volume || drive.config.kind == ItemKind::Floppy;
}

inline bool HasDisk(const Drive& drive)
{
    return !drive.host.empty();
}

inline bool Visible(const struct stat& st)
{
    return S_ISREG(st.st_mode) || S_ISDIR(st.st_mode);
}

inline bool SameNode(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

inline uint32_t Clamp32(uint64_t value)
{
    return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(value);
}

bool ValidDevice(std::string_view device);
bool ValidLabel(std::string_view label);
std::string Unescaped(std::string_view host);
std::string Escaped(std::string_view name);
uint32_t CheckComponent(std::string_view name);
std::string BaseName(const std::string& path);
std::string FolderOf(const std::string& path);
std::string LabelFromName(std::string name);
uint64_t TreeBytes(int dirfd);
bool Within(int folder, const struct stat& node, const struct stat& top);
std::string HdfGeometry(const std::string& path, uint64_t size);

}  // namespace dm::peer
