#include "cli/local_files.h"

#include "core/amiga_names.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>

#ifdef _WIN32
#  include <io.h>
#else
#  include <fcntl.h>
#  include <sys/stat.h>
#  include <sys/time.h>
#  include <unistd.h>
#endif

namespace dm::cli {

namespace {
constexpr uint64_t kUnitsPerSecond = 10000000;
constexpr uint64_t kUnixEpoch = 116444736000000000ull;  // 1 January 1970 as a FILETIME
}  // namespace

std::optional<LocalFileInfo> StatLocal(const std::string& path)
{
    LocalFileInfo info;
#ifdef _WIN32
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return std::nullopt;
    info.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.readOnly = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    info.size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    info.lastWrite = data.ftLastWriteTime;
#else
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return std::nullopt;
    info.directory = S_ISDIR(st.st_mode);
    info.readOnly = access(path.c_str(), W_OK) != 0;
    info.size = uint64_t(st.st_size);
    const int64_t seconds = int64_t(st.st_mtim.tv_sec);
    const uint64_t units = uint64_t(st.st_mtim.tv_nsec) / 100;
    info.lastWrite = seconds >= 0 ? MakeFileTime(kUnixEpoch + uint64_t(seconds) * kUnitsPerSecond + units)
                                  : MakeFileTime(kUnixEpoch);
#endif
    return info;
}

bool SetLocalWriteTime(const std::string& path, const FILETIME& time)
{
#ifdef _WIN32
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool ok = SetFileTime(file, nullptr, nullptr, &time) != 0;
    CloseHandle(file);
    return ok;
#else
    const uint64_t value = FileTimeValue(time);
    if (value < kUnixEpoch)
        return false;
    const uint64_t since = value - kUnixEpoch;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = time_t(since / kUnitsPerSecond);
    times[1].tv_nsec = long(since % kUnitsPerSecond * 100);
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
#endif
}

bool SetLocalReadOnly(const std::string& path)
{
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           SetFileAttributesA(path.c_str(), attributes | FILE_ATTRIBUTE_READONLY) != 0;
#else
    struct stat st {};
    return stat(path.c_str(), &st) == 0 &&
           chmod(path.c_str(), st.st_mode & ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
#endif
}

// Windows names here are in the ANSI code page, as the file calls below take them; the standard
// library's paths would take them for UTF-8.
std::vector<std::string> ListLocalFolder(const std::string& path)
{
    std::vector<std::string> names;
#ifdef _WIN32
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(JoinLocal(path, "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name != "." && name != "..")
                names.push_back(name);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
#else
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(path, error))
        names.push_back(entry.path().filename().string());
#endif
    std::sort(names.begin(), names.end());
    return names;
}

std::string JoinLocal(const std::string& folder, const std::string& name)
{
#ifdef _WIN32
    if (folder.empty())
        return name;
    const char last = folder.back();
    return folder + (last == '\\' || last == '/' || last == ':' ? "" : "\\") + name;
#else
    return (std::filesystem::path(folder) / name).string();
#endif
}

std::string LocalBaseName(const std::string& path)
{
#ifdef _WIN32
    std::string trimmed = path;
    while (trimmed.size() > 1 && (trimmed.back() == '\\' || trimmed.back() == '/'))
        trimmed.pop_back();
    const size_t cut = trimmed.find_last_of("\\/:");
    return cut == std::string::npos ? trimmed : trimmed.substr(cut + 1);
#else
    std::filesystem::path p(path);
    if (!p.has_filename())
        p = p.parent_path();
    return p.filename().string();
#endif
}

bool RenameLocal(const std::string& from, const std::string& to)
{
#ifdef _WIN32
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

void RemoveLocal(const std::string& path)
{
    std::remove(path.c_str());
}

bool MakeLocalFolder(const std::string& path)
{
#ifdef _WIN32
    return CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
#else
    return mkdir(path.c_str(), 0777) == 0 || errno == EEXIST;
#endif
}

bool IsTerminal(int fd)
{
#ifdef _WIN32
    return _isatty(fd) != 0;
#else
    return isatty(fd) != 0;
#endif
}

}  // namespace dm::cli
