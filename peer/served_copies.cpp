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

}  // namespace

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

}  // namespace dm::peer
