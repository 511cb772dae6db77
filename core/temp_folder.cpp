#include "core/temp_folder.h"

#include "core/amiga_names.h"
#include "core/platform.h"

#include <cstdlib>

#ifndef _WIN32
#  include <dirent.h>
#  include <sys/stat.h>
#  include <unistd.h>
#  include <cerrno>
#endif

namespace dm {

namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

constexpr char kPrefix[] = "Drovemark_";

bool HasTempPrefix(const std::string& name)
{
    const size_t length = sizeof kPrefix - 1;
    return name.size() >= length && EqualsNoCase(std::string_view(name).substr(0, length), kPrefix);
}

#ifdef _WIN32

std::string TempDirectory()
{
    char path[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof path, path);
    if (length == 0 || length >= sizeof path)
        return {};
    return std::string(path, length);
}

bool MakeDirectory(const std::string& path, bool& exists)
{
    if (CreateDirectoryA(path.c_str(), nullptr))
        return true;
    exists = GetLastError() == ERROR_ALREADY_EXISTS;
    return false;
}

bool DeleteTree(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*.*").c_str(), &found);
    bool ok = true;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string path = folder + "\\" + name;
            const DWORD attributes = found.dwFileAttributes;
            // A junction is removed as a link: what it points to is not ours.
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                ok = DeleteTree(path);
            } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
                ok = RemoveDirectoryA(path.c_str()) != 0;
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                ok = DeleteFileA(path.c_str()) != 0;
            }
        } while (ok && FindNextFileA(search, &found));
        FindClose(search);
    }
    return RemoveDirectoryA(folder.c_str()) != 0 && ok;
}

#else

std::string TempDirectory()
{
    const char* dir = std::getenv("TMPDIR");
    std::string path = dir && *dir ? dir : "/tmp";
    if (path.back() != '/')
        path += '/';
    return path;
}

bool MakeDirectory(const std::string& path, bool& exists)
{
    if (mkdir(path.c_str(), 0700) == 0)
        return true;
    exists = errno == EEXIST;
    return false;
}

bool DeleteTree(const std::string& folder)
{
    bool ok = true;
    if (DIR* dir = opendir(folder.c_str())) {
        while (ok) {
            const dirent* entry = readdir(dir);
            if (!entry)
                break;
            const std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            const std::string path = folder + "/" + name;
            struct stat info {};
            // Links are removed as links, never followed.
            if (lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
                chmod(path.c_str(), 0700);
                ok = DeleteTree(path);
            } else {
                ok = unlink(path.c_str()) == 0;
            }
        }
        closedir(dir);
    }
    return rmdir(folder.c_str()) == 0 && ok;
}

#endif

}  // namespace

bool CreateTempFolder(std::string& path)
{
    const std::string base = TempDirectory();
    if (base.empty())
        return false;
    for (unsigned long number = 0;; ++number) {
        const std::string candidate = base + kPrefix + std::to_string(number);
        bool exists = false;
        if (MakeDirectory(candidate, exists)) {
            path = candidate;
            return true;
        }
        if (!exists)
            return false;
    }
}

void RemoveTempFolderOf(const std::string& filePath)
{
    const size_t folderEnd = filePath.rfind(kSeparator);
    if (folderEnd == std::string::npos || folderEnd == 0)
        return;
    const std::string folder = filePath.substr(0, folderEnd);
    const size_t parentEnd = folder.rfind(kSeparator);
    if (parentEnd == std::string::npos)
        return;
    if (!HasTempPrefix(folder.substr(parentEnd + 1)))
        return;
    DeleteTree(folder);
}

}  // namespace dm
