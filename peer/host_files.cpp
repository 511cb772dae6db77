#include "peer/host_files.h"

#include "core/string_table.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace dm::peer {

namespace {

constexpr int kMaxRemoveDepth = 256;
constexpr int64_t kUnixEpochSeconds = 11644473600;  // 1601 to 1970
constexpr int64_t kUnitsPerSecond = 10000000;

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

int RemoveTreeAt(int dirfd, const std::string& name, int depth);

int EmptyDirectoryAt(int dirfd, int depth)
{
    std::vector<NameEntry> names;
    if (const int error = ListNames(dirfd, names))
        return error;
    for (const NameEntry& entry : names) {
        if (const int error = RemoveTreeAt(dirfd, entry.name, depth))
            return error;
    }
    return 0;
}

int RemoveTreeAt(int dirfd, const std::string& name, int depth)
{
    struct stat st;
    if (!StatAt(dirfd, name, st))
        return errno;
    if (!S_ISDIR(st.st_mode))
        return unlinkat(dirfd, name.c_str(), 0) == 0 ? 0 : errno;
    if (depth >= kMaxRemoveDepth)
        return ENAMETOOLONG;
    Fd inner = OpenDirectoryAt(dirfd, name);
    if (!inner.Valid())
        return errno;
    if (const int error = EmptyDirectoryAt(inner.Get(), depth + 1))
        return error;
    return unlinkat(dirfd, name.c_str(), AT_REMOVEDIR) == 0 ? 0 : errno;
}

}  // namespace

std::string ErrorText(uint32_t code)
{
    if (code == error::None || code > 0xFFFF)
        return {};
    const char* text = FindStringTableText(UINT(code + 999));
    return text ? text : "";
}

uint32_t ErrorFromErrno(int err, Access access)
{
    switch (err) {
    case 0: return error::None;
    case ENOENT:
    case ENOTDIR: return error::NotFound;
    case EEXIST: return error::Exists;
    case ENOSPC:
    case EDQUOT: return error::VolumeFull;
    case EROFS: return error::DiskWriteProtected;
    case ENOTEMPTY: return error::DrawerNotEmpty;
    case ENAMETOOLONG: return error::PathTooLong;
    case ENOMEM: return error::NoMemory;
    case EBUSY:
    case ETXTBSY: return error::InUse;
    case EFBIG: return error::TooLarge;
    case ELOOP: return error::BadPath;
    case EISDIR:
    case EXDEV:
    case EINVAL:
    case EMLINK: return error::NotPossible;
    case EACCES:
    case EPERM:
        switch (access) {
        case Access::Read: return error::ReadProtected;
        case Access::Delete: return error::DeleteProtected;
        default: return error::FileWriteProtected;
        }
    default: return error::FileIo;
    }
}

bool EqualNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Lower(x) == Lower(y); });
}

bool LessNoCase(std::string_view a, std::string_view b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return uint8_t(Lower(x)) < uint8_t(Lower(y));
    });
}

void Fd::Reset(int fd)
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

Fd OpenDirectoryAt(int dirfd, const std::string& name)
{
    return Fd(openat(dirfd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

Fd OpenDirectoryPath(const std::string& path)
{
    return Fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

Fd OpenFileAt(int dirfd, const std::string& name, struct stat& st)
{
    Fd file(openat(dirfd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file.Valid())
        return file;
    if (fstat(file.Get(), &st) != 0)
        return Fd();
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return Fd();
    }
    return file;
}

int ListNames(int dirfd, std::vector<NameEntry>& names)
{
    names.clear();
    // A fresh open of the folder, so that the listing starts at its beginning.
    const int fd = openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    DIR* dir = fdopendir(fd);
    if (!dir) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    errno = 0;
    while (const dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.push_back({entry->d_name, entry->d_type});
        errno = 0;
    }
    const int error = errno;
    closedir(dir);
    return error;
}

bool StatAt(int dirfd, const std::string& name, struct stat& st)
{
    return fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool HasSubfolder(int dirfd)
{
    std::vector<NameEntry> names;
    if (ListNames(dirfd, names) != 0)
        return false;
    for (const NameEntry& entry : names) {
        if (IsReservedName(entry.name))
            continue;
        if (entry.type == DT_DIR)
            return true;
        struct stat st;
        if (entry.type == DT_UNKNOWN && StatAt(dirfd, entry.name, st) && S_ISDIR(st.st_mode))
            return true;
    }
    return false;
}

std::optional<std::string> FindEntry(int dirfd, const std::string& name)
{
    struct stat st;
    return FindEntry(dirfd, name, st);
}

std::optional<std::string> FindEntry(int dirfd, const std::string& name, struct stat& st)
{
    if (StatAt(dirfd, name, st))
        return name;
    std::vector<NameEntry> names;
    if (ListNames(dirfd, names) != 0)
        return std::nullopt;
    for (const NameEntry& entry : names) {
        if (EqualNoCase(entry.name, name) && StatAt(dirfd, entry.name, st))
            return entry.name;
    }
    return std::nullopt;
}

int RemoveTree(int dirfd, const std::string& name)
{
    return RemoveTreeAt(dirfd, name, 0);
}

int EmptyDirectory(int dirfd)
{
    return EmptyDirectoryAt(dirfd, 0);
}

int TempFile::Create(int dirfd, mode_t mode)
{
    Discard();
    static std::atomic<unsigned> counter {0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = std::string(kReservedPrefix) + "upload-" + std::to_string(getpid()) +
                           "-" + std::to_string(counter++);
        const int fd =
            openat(dirfd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0) {
            dirfd_ = dirfd;
            name_ = std::move(name);
            file_.Reset(fd);
            return 0;
        }
        if (errno != EEXIST)
            return errno;
    }
    return EEXIST;
}

int TempFile::Write(const void* data, size_t size)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t done = ::write(file_.Get(), bytes, size);
        if (done < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        bytes += done;
        size -= size_t(done);
    }
    return 0;
}

int TempFile::CommitAs(const std::string& name)
{
    if (!file_.Valid())
        return EBADF;
    file_.Reset();
    if (renameat(dirfd_, name_.c_str(), dirfd_, name.c_str()) != 0) {
        const int error = errno;
        Discard();
        return error;
    }
    name_.clear();
    dirfd_ = -1;
    return 0;
}

void TempFile::Discard()
{
    file_.Reset();
    if (!name_.empty() && dirfd_ >= 0)
        unlinkat(dirfd_, name_.c_str(), 0);
    name_.clear();
    dirfd_ = -1;
}

FILETIME FileTimeFromTimespec(const timespec& time)
{
    const int64_t seconds = int64_t(time.tv_sec) + kUnixEpochSeconds;
    if (seconds < 0)
        return MakeFileTime(0);
    return MakeFileTime(uint64_t(seconds) * kUnitsPerSecond + uint64_t(time.tv_nsec) / 100);
}

timespec TimespecFromFileTime(const FILETIME& time)
{
    const uint64_t value = FileTimeValue(time);
    timespec result {};
    result.tv_sec = time_t(int64_t(value / kUnitsPerSecond) - kUnixEpochSeconds);
    result.tv_nsec = long((value % kUnitsPerSecond) * 100);
    return result;
}

}  // namespace dm::peer
