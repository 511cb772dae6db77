// What the client needs of files on this computer, the same on Windows and elsewhere.
#pragma once

#include "core/platform.h"

#include <optional>
#include <string>
#include <vector>

namespace dm::cli {

struct LocalFileInfo {
    bool directory = false;
    bool readOnly = false;
    uint64_t size = 0;
    FILETIME lastWrite {};
};

std::optional<LocalFileInfo> StatLocal(const std::string& path);
bool SetLocalWriteTime(const std::string& path, const FILETIME& time);
// Takes away the right to write (read-only attribute on Windows, write bits elsewhere).
bool SetLocalReadOnly(const std::string& path);
// The names in a folder, sorted, without "." and "..".
std::vector<std::string> ListLocalFolder(const std::string& path);
std::string JoinLocal(const std::string& folder, const std::string& name);
std::string LocalBaseName(const std::string& path);
// Replaces `to` if it exists.
bool RenameLocal(const std::string& from, const std::string& to);
void RemoveLocal(const std::string& path);
// True also when the folder is there already.
bool MakeLocalFolder(const std::string& path);
bool IsTerminal(int fd);

}  // namespace dm::cli
