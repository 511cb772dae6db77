#include "setup/amiga_files.h"

#include "core/registry.h"
#include "core/settings_registry.h"

#include <optional>

namespace dm {

HRESULT AmigaFilesFolder(size_t folderLimit, std::string& folder)
{
    folder.clear();
    RegKey key;
    const LONG opened = key.Open(HKEY_LOCAL_MACHINE, SettingsStore().SettingsKey(), KEY_QUERY_VALUE);
    if (opened != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(DWORD(opened));
    const std::optional<std::string> path = ReadString(key.Get(), "Path", MAX_PATH - 1);
    if (!path)
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    if (path->empty() || path->size() > folderLimit)
        return E_FAIL;
    folder = *path;
    if (folder.back() != '\\')
        folder += '\\';
    folder += "Amiga\\";
    return S_OK;
}

}  // namespace dm
