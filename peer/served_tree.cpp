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

struct Drive {
    DriveConfig config;
    std::string host;      // the real path of the folder or image; empty without a disk
    std::string fileName;  // an image's host file name, which the PC shows
};

namespace {

constexpr size_t kMaxPathLength = 1024;
constexpr size_t kMaxComponents = 64;
constexpr int kMaxWalkDepth = 128;
constexpr size_t kMaxUsageEntries = 200000;
constexpr uint64_t kClampedCapacity = 0xFFFFFE00;
constexpr auto kProgressInterval = std::chrono::milliseconds(100);
constexpr size_t kCopyChunk = 64 * 1024;

bool IsFolderDrive(const Drive& drive)
{
    return drive.config.kind == ItemKind::Volume || drive.config.kind == ItemKind::Floppy;
}

bool HasDisk(const Drive& drive)
{
    return !drive.host.empty();
}

bool Visible(const struct stat& st)
{
    return S_ISREG(st.st_mode) || S_ISDIR(st.st_mode);
}

bool SameNode(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

uint32_t Clamp32(uint64_t value)
{
    return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(value);
}

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

uint64_t TreeBytes(int dirfd, int depth, size_t& budget)
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

// The geometry the PC shows for a partition image: sectors, surfaces, reserved,
// pre-allocated, block size, highest cylinder, DOS type.
std::string HdfGeometry(const std::string& path, uint64_t size)
{
    constexpr uint64_t kSectors = 32, kSurfaces = 1, kReserved = 2, kBlock = 512;
    const uint64_t cylinders = size / (kSectors * kSurfaces * kBlock);
    uint32_t dosType = 0x444F5300;
    Fd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    uint8_t boot[4] = {};
    if (file.Valid() && ::read(file.Get(), boot, 4) == 4 && boot[0] == 'D' && boot[1] == 'O' &&
        boot[2] == 'S' && boot[3] < 8)
        dosType |= boot[3];
    char text[96];
    std::snprintf(text, sizeof text, ":%u :%u :%u :0 :%u :%llu :0x%08X", unsigned(kSectors),
                  unsigned(kSurfaces), unsigned(kReserved), unsigned(kBlock),
                  (unsigned long long)(cylinders > 0 ? cylinders - 1 : 0), unsigned(dosType));
    return text;
}

int CopyFile(int sourceFolder, const std::string& sourceName, int destination,
             const std::string& name)
{
    struct stat st;
    Fd in = OpenFileAt(sourceFolder, sourceName, st);
    if (!in.Valid())
        return errno;
    TempFile temp;
    if (const int error = temp.Create(destination, st.st_mode & 0777))
        return error;
    std::vector<char> buffer(kCopyChunk);
    while (true) {
        const ssize_t got = ::read(in.Get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return errno;
        if (got == 0)
            break;
        if (const int error = temp.Write(buffer.data(), size_t(got)))
            return error;
    }
    const timespec times[2] = {st.st_atim, st.st_mtim};
    futimens(temp.Handle(), times);
    return temp.CommitAs(name);
}

// Takes an item's metadata along to its copy; a stamp that no longer matched the source stays
// behind.
void CarryMeta(const FolderMeta& from, const std::string& sourceName, const struct stat& source,
               FolderMeta& to, int destination, const std::string& name)
{
    const auto it = from.items.find(sourceName);
    if (it == from.items.end()) {
        to.items.erase(name);
        return;
    }
    ItemMeta meta = it->second;
    if (meta.date && ItemDate(source, &meta) != *meta.date)
        meta.date.reset();
    struct stat st;
    if (StatAt(destination, name, st))
        RecordHostTime(st, meta);
    to.items[name] = meta;
}

int CopyTree(int sourceFolder, const std::string& sourceName, int destination,
             const std::string& name, int depth);

int CopyContents(int from, int to, int depth)
{
    std::vector<NameEntry> names;
    if (const int error = ListNames(from, names))
        return error;
    const FolderMeta fromMeta = LoadFolderMeta(from);
    FolderMeta toMeta = LoadFolderMeta(to);
    int result = 0;
    for (const NameEntry& entry : names) {
        struct stat st;
        if (IsReservedName(entry.name) || !StatAt(from, entry.name, st) || !Visible(st))
            continue;
        // A merge replaces the files of the same name, whatever their case.
        const std::string target = FindEntry(to, entry.name).value_or(entry.name);
        struct stat existing;
        if (StatAt(to, target, existing) &&
            (!Visible(existing) || S_ISDIR(existing.st_mode) != S_ISDIR(st.st_mode))) {
            result = EEXIST;
            break;
        }
        result = CopyTree(from, entry.name, to, target, depth);
        if (result != 0)
            break;
        CarryMeta(fromMeta, entry.name, st, toMeta, to, target);
    }
    SaveFolderMeta(to, toMeta);
    return result;
}

int CopyTree(int sourceFolder, const std::string& sourceName, int destination,
             const std::string& name, int depth)
{
    struct stat st;
    if (!StatAt(sourceFolder, sourceName, st))
        return errno;
    if (S_ISREG(st.st_mode))
        return CopyFile(sourceFolder, sourceName, destination, name);
    if (!S_ISDIR(st.st_mode))
        return 0;  // links and devices are not part of what the Amiga sees
    if (depth >= kMaxWalkDepth)
        return ENAMETOOLONG;
    if (mkdirat(destination, name.c_str(), 0755) != 0) {
        const int failure = errno;
        struct stat existing;
        if (failure != EEXIST)
            return failure;
        if (!StatAt(destination, name, existing) || !S_ISDIR(existing.st_mode))
            return EEXIST;
    }
    Fd from = OpenDirectoryAt(sourceFolder, sourceName);
    if (!from.Valid())
        return errno;
    Fd to = OpenDirectoryAt(destination, name);
    if (!to.Valid())
        return errno;
    return CopyContents(from.Get(), to.Get(), depth + 1);
}

struct Counter {
    const std::function<bool(const CountStep&)>& step;
    CountStep pending;
    bool anyPending = false;
    bool sentAny = false;
    bool stopped = false;
    std::chrono::steady_clock::time_point last;

    void Flush()
    {
        if (stopped)
            return;
        stopped = !step(pending);
        pending = CountStep {};
        anyPending = false;
        sentAny = true;
        last = std::chrono::steady_clock::now();
    }
    void AddFile(uint64_t size)
    {
        if (uint64_t(pending.bytes) + size > 0xFFFFFFFFu && anyPending)
            Flush();
        pending.bytes = Clamp32(uint64_t(pending.bytes) + size);
        ++pending.files;
        anyPending = true;
    }
    void AddDrawer()
    {
        ++pending.drawers;
        anyPending = true;
    }
    // Once per drawer; a fast walk reports several drawers in one step.
    void DrawerDone()
    {
        if (!sentAny || std::chrono::steady_clock::now() - last >= kProgressInterval)
            Flush();
    }
};

void CountFolder(int dirfd, int depth, Counter& counter)
{
    std::vector<NameEntry> names;
    if (ListNames(dirfd, names) != 0)
        return;
    std::vector<std::string> folders;
    for (const NameEntry& entry : names) {
        struct stat st;
        if (IsReservedName(entry.name) || !StatAt(dirfd, entry.name, st))
            continue;
        if (S_ISREG(st.st_mode)) {
            counter.AddFile(uint64_t(st.st_size));
        } else if (S_ISDIR(st.st_mode)) {
            counter.AddDrawer();
            folders.push_back(entry.name);
        }
    }
    counter.DrawerDone();
    if (depth >= kMaxWalkDepth)
        return;
    for (const std::string& name : folders) {
        if (counter.stopped)
            return;
        Fd inner = OpenDirectoryAt(dirfd, name);
        if (inner.Valid())
            CountFolder(inner.Get(), depth + 1, counter);
    }
}

}  // namespace

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
        const std::optional<std::string> found = FindEntry(folder.Get(), std::string(parts[i]));
        struct stat st;
        if (!found || !StatAt(folder.Get(), *found, st) || !S_ISDIR(st.st_mode))
            return error::NotFound;
        Fd next = OpenDirectoryAt(folder.Get(), *found);
        if (!next.Valid())
            return ErrorFromErrno(errno, Access::Read);
        folder = std::move(next);
    }
    const std::string leaf(parts.back());
    if (const std::optional<std::string> found = FindEntry(folder.Get(), leaf)) {
        target.name = *found;
        target.exists = StatAt(folder.Get(), target.name, target.st);
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

uint32_t ServedTree::OpenForRead(std::string_view path, Fd& file, uint32_t& size) const
{
    Target target;
    if (const uint32_t code = Resolve(path, target))
        return code;
    if (!target.drive)
        return error::NotPossible;
    struct stat st;
    if (target.isDrive) {
        if (IsFolderDrive(*target.drive))
            return HasDisk(*target.drive) ? error::NotPossible : error::DiskNotMounted;
        file = Fd(::open(target.drive->host.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (!file.Valid() || fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode))
            return error::DeviceOpen;
    } else {
        if (!target.exists || !Visible(target.st))
            return error::NotFound;
        if (S_ISDIR(target.st.st_mode))
            return error::NotPossible;
        const FolderMeta meta = LoadFolderMeta(target.parent.Get());
        const auto it = meta.items.find(target.name);
        if (ItemProtection(target.st, it == meta.items.end() ? nullptr : &it->second) &
            protection::ReadForbidden)
            return error::ReadProtected;
        file = OpenFileAt(target.parent.Get(), target.name, st);
        if (!file.Valid())
            return ErrorFromErrno(errno, Access::Read);
    }
    if (uint64_t(st.st_size) > 0xFFFFFFFFu)
        return error::TooLarge;
    size = uint32_t(st.st_size);
    return error::None;
}

uint32_t ServedTree::CreateDrawer(const DirectoryEntry& record)
{
    if (record.kind != ItemKind::Drawer)
        return error::NotPossible;
    Target target;
    if (const uint32_t code = Resolve(record.name, target))
        return code;
    if (!target.drive)
        return error::BadPath;
    if (target.isDrive)
        return error::Exists;
    if (target.exists)
        return S_ISDIR(target.st.st_mode) ? error::None : error::Exists;
    const int parent = target.parent.Get();
    if (mkdirat(parent, target.name.c_str(), 0755) != 0)
        return ErrorFromErrno(errno, Access::Write);
    FolderMeta meta = LoadFolderMeta(parent);
    ItemMeta& item = meta.items[target.name];
    item = ItemMeta {};
    item.protection = record.protection & 0xFF;
    ApplyDate(parent, target.name, record.date, item);
    SaveFolderMeta(parent, std::move(meta));
    return error::None;
}

// Empties a drawer the way the server's Delete of a drawer does: everything inside, depth
// first, stopping at the first item that is protected from deletion.
static uint32_t RemoveContents(int dirfd, int depth)
{
    if (depth >= kMaxWalkDepth)
        return error::PathTooLong;
    std::vector<NameEntry> names;
    if (const int failure = ListNames(dirfd, names))
        return ErrorFromErrno(failure, Access::Delete);
    FolderMeta meta = LoadFolderMeta(dirfd);
    for (const NameEntry& entry : names) {
        struct stat st;
        if (entry.name == kSidecarName || !StatAt(dirfd, entry.name, st))
            continue;
        const auto it = meta.items.find(entry.name);
        if (ItemProtection(st, it == meta.items.end() ? nullptr : &it->second) &
            protection::DeleteForbidden)
            return error::DeleteProtected;
        if (S_ISDIR(st.st_mode)) {
            Fd inner = OpenDirectoryAt(dirfd, entry.name);
            if (!inner.Valid())
                return ErrorFromErrno(errno, Access::Delete);
            if (const uint32_t code = RemoveContents(inner.Get(), depth + 1))
                return code;
            unlinkat(inner.Get(), kSidecarName, 0);
            if (unlinkat(dirfd, entry.name.c_str(), AT_REMOVEDIR) != 0)
                return ErrorFromErrno(errno, Access::Delete);
        } else if (unlinkat(dirfd, entry.name.c_str(), 0) != 0) {
            return ErrorFromErrno(errno, Access::Delete);
        }
    }
    return error::None;
}

uint32_t ServedTree::Delete(std::string_view path)
{
    Target target;
    if (const uint32_t code = ResolveItem(path, target))
        return code;
    const int parent = target.parent.Get();
    FolderMeta meta = LoadFolderMeta(parent);
    const auto it = meta.items.find(target.name);
    if (ItemProtection(target.st, it == meta.items.end() ? nullptr : &it->second) &
        protection::DeleteForbidden)
        return error::DeleteProtected;
    if (S_ISDIR(target.st.st_mode)) {
        Fd inner = OpenDirectoryAt(parent, target.name);
        if (!inner.Valid())
            return ErrorFromErrno(errno, Access::Delete);
        if (const uint32_t code = RemoveContents(inner.Get(), 0))
            return code;
        unlinkat(inner.Get(), kSidecarName, 0);
        if (unlinkat(parent, target.name.c_str(), AT_REMOVEDIR) != 0)
            return ErrorFromErrno(errno, Access::Delete);
    } else if (unlinkat(parent, target.name.c_str(), 0) != 0) {
        return ErrorFromErrno(errno, Access::Delete);
    }
    meta.items.erase(target.name);
    SaveFolderMeta(parent, std::move(meta));
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

uint32_t ServedTree::Rename(std::string_view path, std::string_view newName)
{
    Target target;
    if (const uint32_t code = Resolve(path, target))
        return code;
    if (!target.drive)
        return error::NotPossible;
    if (target.isDrive) {
        if (!IsFolderDrive(*target.drive))
            return error::NotPossible;
        if (!HasDisk(*target.drive))
            return error::DiskNotMounted;
        return Relabel(*target.drive, newName);
    }
    if (const uint32_t code = CheckComponent(newName))
        return code;
    if (newName.find(':') != std::string_view::npos || newName.find('/') != std::string_view::npos)
        return error::BadPath;
    if (!target.exists || !Visible(target.st))
        return error::NotFound;
    const int parent = target.parent.Get();
    const std::string to(newName);
    if (const std::optional<std::string> existing = FindEntry(parent, to)) {
        struct stat other;
        if (StatAt(parent, *existing, other) && !SameNode(other, target.st))
            return error::Exists;
    }
    if (renameat(parent, target.name.c_str(), parent, to.c_str()) != 0)
        return ErrorFromErrno(errno, Access::Write);
    FolderMeta meta = LoadFolderMeta(parent);
    if (auto node = meta.items.extract(target.name)) {
        node.key() = to;
        meta.items.insert(std::move(node));
    }
    SaveFolderMeta(parent, std::move(meta));
    return error::None;
}

uint32_t ServedTree::Move(std::string_view source, std::string_view destinationFolder)
{
    Target from, to;
    Fd folder;
    if (const uint32_t code = ResolveItem(source, from))
        return code;
    if (const uint32_t code = Resolve(destinationFolder, to))
        return code;
    if (const uint32_t code = OpenContainer(to, folder))
        return code;
    if (to.drive != from.drive)
        return error::NotPossible;  // a rename cannot cross devices
    struct stat sourceFolder, destination;
    if (fstat(from.parent.Get(), &sourceFolder) != 0 || fstat(folder.Get(), &destination) != 0)
        return ErrorFromErrno(errno, Access::Other);
    if (SameNode(sourceFolder, destination))
        return error::None;
    if (FindEntry(folder.Get(), from.name))
        return error::Exists;
    if (renameat(from.parent.Get(), from.name.c_str(), folder.Get(), from.name.c_str()) != 0)
        return ErrorFromErrno(errno, Access::Write);
    FolderMeta fromMeta = LoadFolderMeta(from.parent.Get());
    if (auto node = fromMeta.items.extract(from.name)) {
        FolderMeta toMeta = LoadFolderMeta(folder.Get());
        toMeta.items[from.name] = node.mapped();
        SaveFolderMeta(folder.Get(), std::move(toMeta));
        SaveFolderMeta(from.parent.Get(), std::move(fromMeta));
    }
    return error::None;
}

uint32_t ServedTree::SetAttributes(std::string_view path, uint32_t protectionBits,
                                   const std::string* comment)
{
    Target target;
    if (const uint32_t code = ResolveItem(path, target))
        return code;
    if (comment && comment->size() > kMaxCommentLength)
        return error::TooLarge;
    const int parent = target.parent.Get();
    FolderMeta meta = LoadFolderMeta(parent);
    ItemMeta& item = meta.items[target.name];
    item.protection = protectionBits & 0xFF;
    if (comment)
        item.comment = *comment;
    return ErrorFromErrno(SaveFolderMeta(parent, std::move(meta)), Access::Write);
}

uint32_t ServedTree::NewDrawer(std::string_view parentPath)
{
    Target target;
    Fd folder;
    if (const uint32_t code = Resolve(parentPath, target))
        return code;
    if (const uint32_t code = OpenContainer(target, folder))
        return code;
    for (int number = 1; number < 10000; ++number) {
        const std::string name = "Unnamed" + std::to_string(number);
        if (FindEntry(folder.Get(), name))
            continue;
        if (mkdirat(folder.Get(), name.c_str(), 0755) == 0)
            return error::None;
        if (errno != EEXIST)
            return ErrorFromErrno(errno, Access::Write);
    }
    return error::Exists;
}

uint32_t ServedTree::Count(std::string_view path,
                           const std::function<bool(const CountStep&)>& step) const
{
    Target target;
    if (const uint32_t code = Resolve(path, target))
        return code;
    if (!target.drive)
        return error::NotPossible;
    struct stat st;
    if (target.isDrive && !IsFolderDrive(*target.drive)) {
        if (stat(target.drive->host.c_str(), &st) != 0)
            return error::DeviceOpen;
        step(CountStep {Clamp32(uint64_t(st.st_size)), 0, 1});
        return error::None;
    }
    if (!target.isDrive && target.exists && S_ISREG(target.st.st_mode)) {
        step(CountStep {Clamp32(uint64_t(target.st.st_size)), 0, 1});
        return error::None;
    }
    Fd folder;
    if (const uint32_t code = OpenContainer(target, folder))
        return code;
    Counter counter {step};
    CountFolder(folder.Get(), 0, counter);
    if (counter.anyPending)
        counter.Flush();
    return error::None;
}

uint32_t ServedTree::PrepareUpload(const DirectoryEntry& record, Upload& upload) const
{
    Target target;
    if (const uint32_t code = Resolve(record.name, target))
        return code;
    if (!target.drive)
        return error::BadPath;
    upload.drive = target.drive;
    upload.record = record;
    if (target.isDrive) {
        const ItemKind kind = target.drive->config.kind;
        if (kind == ItemKind::RomFile)
            return error::FileWriteProtected;
        if (kind != ItemKind::AdfFile && kind != ItemKind::HdfFile)
            return error::NotPossible;
        struct stat st;
        if (stat(target.drive->host.c_str(), &st) != 0)
            return error::DeviceOpen;
        if (uint64_t(st.st_size) != record.size)
            return error::SizeMismatch;
        upload.folder = OpenDirectoryPath(FolderOf(target.drive->host));
        if (!upload.folder.Valid())
            return error::DeviceOpen;
        upload.image = true;
        upload.imageSize = uint64_t(st.st_size);
        upload.replaces = true;
        upload.confirmText = target.drive->fileName;
        upload.name = target.drive->fileName;
        upload.mode = st.st_mode & 0777;
        return error::None;
    }
    if (target.exists) {
        if (!S_ISREG(target.st.st_mode))
            return error::Exists;
        const FolderMeta meta = LoadFolderMeta(target.parent.Get());
        const auto it = meta.items.find(target.name);
        if (ItemProtection(target.st, it == meta.items.end() ? nullptr : &it->second) &
            protection::WriteForbidden)
            return error::FileWriteProtected;
        upload.replaces = true;
        upload.confirmText = target.name;
        upload.replacedSize = uint64_t(target.st.st_size);
        upload.mode = target.st.st_mode & 0777;
    }
    if (const uint32_t code = CheckRoom(*target.drive, record.size, upload.replacedSize))
        return code;
    upload.folder = std::move(target.parent);
    upload.name = target.name;
    return error::None;
}

uint32_t ServedTree::BeginUpload(Upload& upload, uint32_t size) const
{
    if (upload.image && size != upload.imageSize)
        return error::SizeMismatch;
    if (!upload.image && size != upload.record.size) {
        if (const uint32_t code = CheckRoom(*upload.drive, size, upload.replacedSize))
            return code;
    }
    return ErrorFromErrno(upload.temp.Create(upload.folder.Get(), upload.mode), Access::Write);
}

uint32_t ServedTree::WriteUpload(Upload& upload, const void* data, size_t size) const
{
    return ErrorFromErrno(upload.temp.Write(data, size), Access::Write);
}

uint32_t ServedTree::FinishUpload(Upload& upload) const
{
    const int folder = upload.folder.Get();
    if (const int failure = upload.temp.CommitAs(upload.name))
        return ErrorFromErrno(failure, Access::Write);
    if (upload.image)
        return error::None;
    FolderMeta meta = LoadFolderMeta(folder);
    ItemMeta& item = meta.items[upload.name];
    item = ItemMeta {};
    item.protection = upload.record.protection & 0xFF;
    ApplyDate(folder, upload.name, upload.record.date, item);
    SaveFolderMeta(folder, std::move(meta));
    return error::None;
}

uint32_t ServedTree::PrepareCopy(std::string_view source, std::string_view destinationFolder,
                                 CopyPlan& plan) const
{
    Target from, to;
    if (const uint32_t code = Resolve(source, from))
        return code;
    if (!from.drive)
        return error::NotPossible;
    struct stat sourceSt;
    if (from.isDrive) {
        const Drive& drive = *from.drive;
        plan.sourceIsDrive = true;
        if (IsFolderDrive(drive)) {
            if (const uint32_t code = OpenDriveFolder(drive, plan.sourceFolder))
                return code;
            plan.name = Label(drive);
        } else {
            plan.sourceFolder = OpenDirectoryPath(FolderOf(drive.host));
            if (!plan.sourceFolder.Valid())
                return error::DeviceOpen;
            plan.sourceName = drive.fileName;
            plan.name = drive.fileName;
        }
        if (fstatat(plan.sourceFolder.Get(),
                    plan.sourceName.empty() ? "." : plan.sourceName.c_str(), &sourceSt,
                    AT_SYMLINK_NOFOLLOW) != 0)
            return error::DeviceOpen;
    } else {
        if (!from.exists || !Visible(from.st))
            return error::NotFound;
        const FolderMeta meta = LoadFolderMeta(from.parent.Get());
        const auto it = meta.items.find(from.name);
        if (ItemProtection(from.st, it == meta.items.end() ? nullptr : &it->second) &
            protection::ReadForbidden)
            return error::ReadProtected;
        sourceSt = from.st;
        plan.sourceFolder = std::move(from.parent);
        plan.sourceName = from.name;
        plan.name = from.name;
    }

    if (const uint32_t code = Resolve(destinationFolder, to))
        return code;
    if (const uint32_t code = OpenContainer(to, plan.destination))
        return code;
    const int destination = plan.destination.Get();
    if (S_ISDIR(sourceSt.st_mode)) {
        Fd top;
        struct stat topSt;
        if (OpenDriveFolder(*to.drive, top) == error::None && fstat(top.Get(), &topSt) == 0 &&
            Within(destination, sourceSt, topSt))
            return error::NotPossible;  // a drawer cannot hold a copy of itself
    }
    uint64_t replaced = 0;
    if (const std::optional<std::string> existing = FindEntry(destination, plan.name)) {
        struct stat st;
        if (!StatAt(destination, *existing, st) || !Visible(st) ||
            S_ISDIR(st.st_mode) != S_ISDIR(sourceSt.st_mode))
            return error::Exists;
        if (SameNode(st, sourceSt))
            return error::NotPossible;  // onto itself
        plan.conflict = true;
        plan.confirmText = *existing;
        plan.name = *existing;
        replaced = S_ISREG(st.st_mode) ? uint64_t(st.st_size) : 0;
    }
    uint64_t bytes = uint64_t(sourceSt.st_size);
    if (S_ISDIR(sourceSt.st_mode)) {
        Fd inner =
            plan.sourceName.empty()
                ? Fd(openat(plan.sourceFolder.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC))
                : OpenDirectoryAt(plan.sourceFolder.Get(), plan.sourceName);
        bytes = inner.Valid() ? TreeBytes(inner.Get()) : 0;
    }
    return CheckRoom(*to.drive, bytes, replaced);
}

uint32_t ServedTree::RunCopy(CopyPlan& plan) const
{
    const int destination = plan.destination.Get();
    if (plan.sourceName.empty()) {
        // A whole volume becomes a drawer named after it.
        if (mkdirat(destination, plan.name.c_str(), 0755) != 0 && errno != EEXIST)
            return ErrorFromErrno(errno, Access::Write);
        Fd to = OpenDirectoryAt(destination, plan.name);
        if (!to.Valid())
            return ErrorFromErrno(errno, Access::Write);
        return ErrorFromErrno(CopyContents(plan.sourceFolder.Get(), to.Get(), 1), Access::Write);
    }
    struct stat st;
    if (!StatAt(plan.sourceFolder.Get(), plan.sourceName, st))
        return ErrorFromErrno(errno, Access::Read);
    const int failure =
        CopyTree(plan.sourceFolder.Get(), plan.sourceName, destination, plan.name, 0);
    FolderMeta toMeta = LoadFolderMeta(destination);
    if (!plan.sourceIsDrive) {
        const FolderMeta fromMeta = LoadFolderMeta(plan.sourceFolder.Get());
        CarryMeta(fromMeta, plan.sourceName, st, toMeta, destination, plan.name);
    } else {
        toMeta.items.erase(plan.name);
    }
    SaveFolderMeta(destination, std::move(toMeta));
    return ErrorFromErrno(failure, Access::Write);
}

uint32_t ServedTree::PrepareFormat(std::string_view device, std::string_view label,
                                   uint32_t dosType, FormatPlan& plan) const
{
    if (!device.empty() && device.back() == ':')
        device.remove_suffix(1);
    for (const auto& drive : drives_) {
        if (IsFolderDrive(*drive) && EqualNoCase(drive->config.device, device)) {
            plan.drive = drive.get();
            break;
        }
    }
    if (!plan.drive)
        return error::DeviceOpen;
    if (!HasDisk(*plan.drive))
        return error::DiskNotMounted;
    if (!plan.drive->config.formattable)
        return error::DiskWriteProtected;
    if ((dosType & 0xFFFFFF00u) != 0x444F5300u || (dosType & 0xFF) > 7)
        return error::NotPossible;
    if (!ValidLabel(label))
        return error::BadTitle;
    plan.label = label;
    plan.confirmText = Label(*plan.drive);
    return error::None;
}

uint32_t ServedTree::Erase(const FormatPlan& plan) const
{
    Fd folder;
    if (const uint32_t code = OpenDriveFolder(*plan.drive, folder))
        return code;
    // The disk keeps its old name until the last step writes the new one.
    FolderMeta kept;
    kept.label = LoadFolderMeta(folder.Get()).label;
    if (const int failure = EmptyDirectory(folder.Get()))
        return ErrorFromErrno(failure, Access::Delete);
    return ErrorFromErrno(SaveFolderMeta(folder.Get(), std::move(kept)), Access::Write);
}

uint32_t ServedTree::Name(const FormatPlan& plan) const
{
    Fd folder;
    if (const uint32_t code = OpenDriveFolder(*plan.drive, folder))
        return code;
    FolderMeta meta = LoadFolderMeta(folder.Get());
    meta.label = plan.label;
    return ErrorFromErrno(SaveFolderMeta(folder.Get(), std::move(meta)), Access::Write);
}

}  // namespace dm::peer
