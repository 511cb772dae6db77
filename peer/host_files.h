// The host side of the emulated Amiga: descriptor-relative file operations that never follow a
// symbolic link and never leave the folder they start from, and the AmigaDOS error codes that
// host failures become.
#pragma once

#include "core/platform.h"

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dm::peer {

// The error numbers the server reports with ErrorReport.
namespace error {
constexpr uint32_t None = 0;
constexpr uint32_t Unspecified = 1;
constexpr uint32_t NoMemory = 2;
constexpr uint32_t VolumeFull = 3;
constexpr uint32_t InUse = 4;
constexpr uint32_t BadPath = 5;
constexpr uint32_t NotFound = 6;
constexpr uint32_t TooLarge = 7;
constexpr uint32_t NotPossible = 8;
constexpr uint32_t BadTitle = 9;
constexpr uint32_t PathTooLong = 11;
constexpr uint32_t VolumeNotMounted = 12;
constexpr uint32_t DeleteProtected = 13;
constexpr uint32_t FileWriteProtected = 14;
constexpr uint32_t DiskWriteProtected = 15;
constexpr uint32_t ReadProtected = 16;
constexpr uint32_t NotDosDisk = 17;
constexpr uint32_t DrawerNotEmpty = 18;
constexpr uint32_t DiskNotMounted = 19;
constexpr uint32_t Exists = 20;
constexpr uint32_t FileIo = 21;
constexpr uint32_t DeviceOpen = 22;
constexpr uint32_t SizeMismatch = 26;
constexpr uint32_t UnknownCommand = 28;
constexpr uint32_t Handshake = 29;
}  // namespace error

// The report text of a code: the same wording the PC shows.
std::string ErrorText(uint32_t code);

// What was being attempted decides which protection a refusal names.
enum class Access { Read, Write, Delete, Other };
uint32_t ErrorFromErrno(int error, Access access);

// Host names of the server's own: the metadata sidecars and unfinished uploads.
constexpr std::string_view kReservedPrefix = ".drovemark-";
inline bool IsReservedName(std::string_view name)
{
    return name.substr(0, kReservedPrefix.size()) == kReservedPrefix;
}

bool EqualNoCase(std::string_view a, std::string_view b);
bool LessNoCase(std::string_view a, std::string_view b);

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept
    {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    void Reset(int fd = -1);

private:
    int fd_ = -1;
};

// Sets errno and returns an invalid Fd on failure; a symbolic link is never followed.
Fd OpenDirectoryAt(int dirfd, const std::string& name);
Fd OpenDirectoryPath(const std::string& path);
// A regular file only: a FIFO or a device would block or misbehave.
Fd OpenFileAt(int dirfd, const std::string& name, struct stat& st);

struct NameEntry {
    std::string name;
    unsigned char type = 0;  // d_type, DT_UNKNOWN when the file system does not say
};
// Every name in the folder except "." and ".."; 0 or an errno.
int ListNames(int dirfd, std::vector<NameEntry>& names);

bool StatAt(int dirfd, const std::string& name, struct stat& st);
bool HasSubfolder(int dirfd);

// The name as it exists in the folder: an exact match first, else one that differs only in
// ASCII case (the Amiga's names are case-insensitive).
std::optional<std::string> FindEntry(int dirfd, const std::string& name);
// The same, with the item's stat.
std::optional<std::string> FindEntry(int dirfd, const std::string& name, struct stat& st);

// Removes a file or a whole tree; 0 or an errno. Links are removed, never followed.
int RemoveTree(int dirfd, const std::string& name);
// Removes everything inside the folder.
int EmptyDirectory(int dirfd);

// A file written under a reserved name and renamed into place only once complete.
class TempFile {
public:
    TempFile() = default;
    ~TempFile() { Discard(); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    int Create(int dirfd, mode_t mode);  // 0 or an errno; the folder must outlive the file
    int Write(const void* data, size_t size);
    int CommitAs(const std::string& name);
    void Discard();
    int Handle() const { return file_.Get(); }

private:
    int dirfd_ = -1;
    std::string name_;
    peer::Fd file_;
};

FILETIME FileTimeFromTimespec(const timespec& time);
timespec TimespecFromFileTime(const FILETIME& time);

}  // namespace dm::peer
