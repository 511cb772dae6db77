#include "peer/served_drive.h"
#include "peer/served_tree.h"

#include "peer/metadata.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace dm::peer {

bool ValidDevice(std::string_view device)
{
    if (device.empty() || device.size() > kMaxLabelLength)
        return false;
    return std::all_of(device.begin(), device.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-';
    });
}

bool ValidLabel(std::string_view label)
{
    if (label.empty() || label.size() > kMaxLabelLength)
        return false;
    return std::none_of(label.begin(), label.end(),
                        [](char c) { return c == ':' || c == '/' || uint8_t(c) < 0x20; });
}

// One name of a path below a drive.
// Of --escaped-names: "%2E%2E" on the host is ".." on the wire.
std::string Unescaped(std::string_view host)
{
    std::string name;
    for (size_t i = 0; i < host.size(); ++i) {
        if (host[i] == '%' && i + 2 < host.size() && std::isxdigit(uint8_t(host[i + 1])) &&
            std::isxdigit(uint8_t(host[i + 2]))) {
            name += char(std::stoi(std::string(host.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            name += host[i];
        }
    }
    return name;
}

std::string Escaped(std::string_view name)
{
    static const char hex[] = "0123456789ABCDEF";
    const bool dotsOnly = name.find_first_not_of('.') == std::string_view::npos;
    std::string host;
    for (char c : name) {
        if (c == '%' || c == '/' || uint8_t(c) < 0x20 || (dotsOnly && c == '.')) {
            host += '%';
            host += hex[uint8_t(c) >> 4];
            host += hex[uint8_t(c) & 15];
        } else {
            host += c;
        }
    }
    return host;
}

uint32_t CheckComponent(std::string_view name)
{
    if (name.empty() || name == "." || name == ".." || IsReservedName(name))
        return error::BadPath;
    if (name.size() > kMaxNameLength)
        return error::PathTooLong;
    return error::None;
}

std::string BaseName(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// What a folder name becomes as a volume name.
std::string LabelFromName(std::string name)
{
    for (char& c : name) {
        if (c == ':' || c == '/' || uint8_t(c) < 0x20)
            c = '_';
    }
    return name.substr(0, kMaxLabelLength);
}

static uint64_t TreeBytes(int dirfd, int depth, size_t& budget)
{
    std::vector<NameEntry> names;
    if (depth > kMaxWalkDepth || ListNames(dirfd, names) != 0)
        return 0;
    uint64_t total = 0;
    for (const NameEntry& entry : names) {
        if (budget == 0)
            break;
        --budget;
        struct stat st;
        if (IsReservedName(entry.name) || !StatAt(dirfd, entry.name, st))
            continue;
        if (S_ISREG(st.st_mode)) {
            total += uint64_t(st.st_size);
        } else if (S_ISDIR(st.st_mode)) {
            Fd inner = OpenDirectoryAt(dirfd, entry.name);
            if (inner.Valid())
                total += TreeBytes(inner.Get(), depth + 1, budget);
        }
    }
    return total;
}

uint64_t TreeBytes(int dirfd)
{
    size_t budget = kMaxUsageEntries;
    return TreeBytes(dirfd, 0, budget);
}

// Whether `folder` is `node` or lies below it; the walk up ends at the drive's top folder.
bool Within(int folder, const struct stat& node, const struct stat& top)
{
    Fd current(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (int depth = 0; current.Valid() && depth <= kMaxWalkDepth; ++depth) {
        struct stat st;
        if (fstat(current.Get(), &st) != 0)
            return false;
        if (SameNode(st, node))
            return true;
        if (SameNode(st, top))
            return false;
        current = Fd(openat(current.Get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    return false;
}

ServedTree::ServedTree() = default;
ServedTree::~ServedTree() = default;

bool ServedTree::AddDrive(const DriveConfig& config, std::string& reason)
{
    auto drive = std::make_unique<Drive>();
    drive->config = config;
    const ItemKind kind = config.kind;
    const bool folderKind = kind == ItemKind::Volume || kind == ItemKind::Floppy;
    if (!folderKind && kind != ItemKind::AdfFile && kind != ItemKind::HdfFile &&
        kind != ItemKind::RomFile) {
        reason = "drawers and files cannot be drives";
        return false;
    }
    if (kind == ItemKind::RomFile ? !config.device.empty() : !ValidDevice(config.device)) {
        reason = "bad device name \"" + config.device + "\"";
        return false;
    }
    if (!config.label.empty() && !ValidLabel(config.label)) {
        reason = "bad volume name \"" + config.label + "\" (1 to 30 characters, no : or /)";
        return false;
    }
    if (config.hostPath.empty()) {
        if (kind != ItemKind::Floppy) {
            reason = "no host path for " + config.device;
            return false;
        }
    } else {
        char* real = realpath(config.hostPath.c_str(), nullptr);
        struct stat st;
        if (!real || stat(real, &st) != 0 ||
            (folderKind ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode))) {
            std::free(real);
            reason = config.hostPath + (folderKind ? " is not a folder" : " is not a file");
            return false;
        }
        drive->host = real;
        std::free(real);
    }
    if (!folderKind)
        drive->fileName = BaseName(drive->host);
    if (kind == ItemKind::Floppy)
        drive->config.formattable = HasDisk(*drive);

    const std::string name = DriveName(*drive);
    for (const auto& other : drives_) {
        if (EqualNoCase(DriveName(*other), name) ||
            (folderKind && IsFolderDrive(*other) &&
             EqualNoCase(other->config.device, config.device))) {
            reason = "two drives named " + name;
            return false;
        }
    }
    drives_.push_back(std::move(drive));
    return true;
}

std::vector<std::string> ServedTree::DriveNames() const
{
    std::vector<std::string> names;
    for (const auto& drive : drives_)
        names.push_back(DriveName(*drive));
    return names;
}

std::string ServedTree::Label(const Drive& drive) const
{
    Fd folder = OpenDirectoryPath(drive.host);
    if (folder.Valid()) {
        const FolderMeta meta = LoadFolderMeta(folder.Get());
        if (!meta.label.empty() && ValidLabel(meta.label))
            return meta.label;
    }
    if (!drive.config.label.empty())
        return drive.config.label;
    const std::string base = LabelFromName(BaseName(drive.host));
    return base.empty() ? drive.config.device : base;
}

std::string ServedTree::DriveName(const Drive& drive) const
{
    switch (drive.config.kind) {
    case ItemKind::Volume:
    case ItemKind::Floppy:
        return HasDisk(drive) ? drive.config.device + ":" + Label(drive) : drive.config.device;
    case ItemKind::RomFile: return "::" + drive.fileName;
    default: return ":" + drive.config.device + ":" + drive.fileName;
    }
}

DirectoryEntry ServedTree::DriveEntry(const Drive& drive) const
{
    DirectoryEntry entry;
    entry.kind = drive.config.kind;
    entry.name = DriveName(drive);
    struct stat st;
    if (!IsFolderDrive(drive)) {
        if (stat(drive.host.c_str(), &st) != 0)
            return entry;
        entry.size = Clamp32(uint64_t(st.st_size));
        entry.date = ItemDate(st, nullptr);
        if (drive.config.kind == ItemKind::RomFile) {
            entry.protection = protection::WriteForbidden | protection::DeleteForbidden;
            entry.comment =
                "ROM image\xA0\xA0" + std::to_string((st.st_size + 1023) / 1024) + " KB";
        } else if (drive.config.kind == ItemKind::HdfFile) {
            entry.comment = HdfGeometry(drive.host, uint64_t(st.st_size));
        }
        return entry;
    }

    entry.protection =
        kCapabilityBit | (drive.config.formattable || !HasDisk(drive) ? kFormattableBit : 0);
    Fd folder = HasDisk(drive) ? OpenDirectoryPath(drive.host) : Fd();
    if (!folder.Valid() || fstat(folder.Get(), &st) != 0) {
        entry.inUse = 0xFFFFFFFF;  // no usable medium
        return entry;
    }
    entry.date = ItemDate(st, nullptr);
    if (HasSubfolder(folder.Get()))
        entry.protection |= kHasSubdrawersBit;

    uint64_t capacity = 0, used = 0;
    struct statvfs fs;
    if (drive.config.capacity != 0 || drive.config.kind == ItemKind::Floppy) {
        capacity = drive.config.capacity != 0 ? drive.config.capacity : kFloppyCapacity;
        used = std::min(TreeBytes(folder.Get()), capacity);
    } else if (fstatvfs(folder.Get(), &fs) == 0) {
        capacity = uint64_t(fs.f_blocks) * fs.f_frsize;
        used = capacity - std::min<uint64_t>(capacity, uint64_t(fs.f_bfree) * fs.f_frsize);
        if (capacity > kClampedCapacity) {
            // Kept in proportion, so that the PC shows how full the disk really is.
            used = uint64_t(double(used) / double(capacity) * double(kClampedCapacity));
            capacity = kClampedCapacity;
        }
    }
    entry.size = Clamp32(capacity);
    entry.inUse = Clamp32(used);
    return entry;
}

uint32_t ServedTree::OpenDriveFolder(const Drive& drive, Fd& folder) const
{
    if (!IsFolderDrive(drive))
        return error::NotPossible;
    if (!HasDisk(drive))
        return error::DiskNotMounted;
    folder = OpenDirectoryPath(drive.host);
    if (!folder.Valid())
        return errno == ENOENT ? error::VolumeNotMounted : ErrorFromErrno(errno, Access::Read);
    return error::None;
}

uint32_t ServedTree::Resolve(std::string_view path, Target& target) const
{
    target = Target {};
    if (path.empty())
        return error::None;
    if (path.size() > kMaxPathLength)
        return error::PathTooLong;
    const size_t slash = path.find('/');
    const std::string_view top = path.substr(0, slash);
    for (const auto& drive : drives_) {
        if (EqualNoCase(DriveName(*drive), top)) {
            target.drive = drive.get();
            break;
        }
    }
    // As on the Amiga, a bare device ("DH0:") or volume ("Work:") is the volume mounted there.
    if (!target.drive && slash == std::string_view::npos && top.size() > 1 && top.back() == ':' &&
        top.find(':') == top.size() - 1) {
        const std::string_view bare = top.substr(0, top.size() - 1);
        for (const auto& drive : drives_) {
            if (IsFolderDrive(*drive) &&
                (EqualNoCase(drive->config.device, bare) ||
                 (HasDisk(*drive) && EqualNoCase(Label(*drive), bare)))) {
                target.drive = drive.get();
                break;
            }
        }
    }
    if (!target.drive)
        return top.find(':') != std::string_view::npos ? error::VolumeNotMounted : error::BadPath;
    if (slash == std::string_view::npos) {
        target.isDrive = true;
        target.exists = true;
        return error::None;
    }
    if (!IsFolderDrive(*target.drive))
        return error::NotFound;

    std::vector<std::string_view> parts;
    for (size_t start = slash + 1;;) {
        const size_t next = path.find('/', start);
        parts.push_back(path.substr(start, next == std::string_view::npos ? next : next - start));
        if (next == std::string_view::npos)
            break;
        start = next + 1;
    }
    if (parts.size() > kMaxComponents)
        return error::PathTooLong;
    std::vector<std::string> escaped;
    if (escapedNames_) {
        for (const std::string_view part : parts)
            escaped.push_back(Escaped(part));
        parts.assign(escaped.begin(), escaped.end());
    }
    for (const std::string_view part : parts) {
        if (const uint32_t code = CheckComponent(part))
            return code;
    }

    Fd folder;
    if (const uint32_t code = OpenDriveFolder(*target.drive, folder))
        return code;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        struct stat st;
        const std::optional<std::string> found = FindEntry(folder.Get(), std::string(parts[i]), st);
        if (!found || !S_ISDIR(st.st_mode))
            return error::NotFound;
        Fd next = OpenDirectoryAt(folder.Get(), *found);
        if (!next.Valid())
            return ErrorFromErrno(errno, Access::Read);
        folder = std::move(next);
    }
    const std::string leaf(parts.back());
    if (const std::optional<std::string> found = FindEntry(folder.Get(), leaf, target.st)) {
        target.name = *found;
        target.exists = true;
    } else {
        target.name = leaf;
    }
    target.parent = std::move(folder);
    return error::None;
}

uint32_t ServedTree::OpenContainer(const Target& target, Fd& folder) const
{
    if (!target.drive)
        return error::NotPossible;
    if (target.isDrive)
        return OpenDriveFolder(*target.drive, folder);
    if (!target.exists || !Visible(target.st))
        return error::NotFound;
    if (!S_ISDIR(target.st.st_mode))
        return error::NotPossible;
    folder = OpenDirectoryAt(target.parent.Get(), target.name);
    return folder.Valid() ? error::None : ErrorFromErrno(errno, Access::Read);
}

uint32_t ServedTree::CheckRoom(const Drive& drive, uint64_t adding, uint64_t replacing) const
{
    if (drive.config.capacity == 0 && drive.config.kind != ItemKind::Floppy)
        return error::None;  // the host file system says when it is full
    const uint64_t capacity = drive.config.capacity != 0 ? drive.config.capacity : kFloppyCapacity;
    Fd folder;
    if (OpenDriveFolder(drive, folder) != error::None)
        return error::None;
    const uint64_t used = TreeBytes(folder.Get());
    return used - std::min(used, replacing) + adding > capacity ? error::VolumeFull : error::None;
}

uint32_t ServedTree::ResolveItem(std::string_view path, Target& target) const
{
    if (const uint32_t code = Resolve(path, target))
        return code;
    if (!target.drive || target.isDrive)
        return error::NotPossible;
    if (!target.exists || !Visible(target.st))
        return error::NotFound;
    return error::None;
}

uint32_t ServedTree::List(std::string_view path, std::vector<DirectoryEntry>& entries) const
{
    entries.clear();
    if (path.empty()) {
        for (const auto& drive : drives_)
            entries.push_back(DriveEntry(*drive));
        return error::None;
    }
    Target target;
    Fd folder;
    if (const uint32_t code = Resolve(path, target))
        return code;
    if (const uint32_t code = OpenContainer(target, folder))
        return code;
    std::vector<NameEntry> names;
    if (const int failure = ListNames(folder.Get(), names))
        return ErrorFromErrno(failure, Access::Read);
    const FolderMeta meta = LoadFolderMeta(folder.Get());
    for (const NameEntry& name : names) {
        struct stat st;
        if (IsReservedName(name.name) || !StatAt(folder.Get(), name.name, st) || !Visible(st))
            continue;
        const auto it = meta.items.find(name.name);
        const ItemMeta* item = it == meta.items.end() ? nullptr : &it->second;
        DirectoryEntry entry;
        entry.name = escapedNames_ ? Unescaped(name.name) : name.name;
        entry.protection = ItemProtection(st, item) & 0xFF;
        entry.date = ItemDate(st, item);
        entry.comment = item ? item->comment : "";
        if (S_ISDIR(st.st_mode)) {
            entry.kind = ItemKind::Drawer;
            Fd inner = OpenDirectoryAt(folder.Get(), name.name);
            if (inner.Valid() && HasSubfolder(inner.Get()))
                entry.protection |= kHasSubdrawersBit;
        } else {
            entry.kind = ItemKind::File;
            entry.size = Clamp32(uint64_t(st.st_size));
        }
        entries.push_back(std::move(entry));
    }
    std::sort(entries.begin(), entries.end(), [](const DirectoryEntry& a, const DirectoryEntry& b) {
        return LessNoCase(a.name, b.name);
    });
    return error::None;
}

uint32_t ServedTree::Relabel(const Drive& drive, std::string_view newName) const
{
    std::string_view label = newName;
    // The PC may send the name with its device part.
    if (const size_t colon = label.find(':'); colon != std::string_view::npos) {
        if (!EqualNoCase(label.substr(0, colon), drive.config.device))
            return error::BadTitle;
        label = label.substr(colon + 1);
    }
    if (!ValidLabel(label))
        return error::BadTitle;
    const std::string name = drive.config.device + ":" + std::string(label);
    for (const auto& other : drives_) {
        if (other.get() != &drive && EqualNoCase(DriveName(*other), name))
            return error::Exists;
    }
    Fd folder;
    if (const uint32_t code = OpenDriveFolder(drive, folder))
        return code;
    FolderMeta meta = LoadFolderMeta(folder.Get());
    meta.label = label;
    return ErrorFromErrno(SaveFolderMeta(folder.Get(), std::move(meta)), Access::Write);
}

}  // namespace dm::peer
