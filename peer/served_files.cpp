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

namespace {

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
    ItemMeta item;
    item.protection = record.protection & 0xFF;
    ApplyDate(parent, target.name, record.date, item);
    SaveItemMeta(parent, target.name, item);
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
    const FolderMeta meta = LoadFolderMeta(parent);
    const auto kept = meta.items.find(target.name);
    ItemMeta item = kept == meta.items.end() ? ItemMeta {} : kept->second;
    item.protection = protectionBits & 0xFF;
    if (comment)
        item.comment = *comment;
    return ErrorFromErrno(SaveItemMeta(parent, target.name, item), Access::Write);
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
    ItemMeta item;
    item.protection = upload.record.protection & 0xFF;
    if (!upload.image)
        ApplyDate(upload.temp.Handle(), upload.record.date, item);  // a rename keeps the time
    if (const int failure = upload.temp.CommitAs(upload.name))
        return ErrorFromErrno(failure, Access::Write);
    if (!upload.image)
        SaveItemMeta(upload.folder.Get(), upload.name, item);
    return error::None;
}

}  // namespace dm::peer
