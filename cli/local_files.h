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
// The names in a folder, sorted, without "." and "..".
std::vector<std::string> ListLocalFolder(const std::string& path);
std::string JoinLocal(const std::string& folder, const std::string& name);
std::string LocalBaseName(const std::string& path);
bool IsTerminal(int fd);

}  // namespace dm::cli
