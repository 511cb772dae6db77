#include "core/settings_registry.h"

#include "core/registry.h"

#include <shlobj.h>

#include <set>
#include <vector>

namespace dm {

namespace {

constexpr const char* kIconPanels[] = {"ClassicStartMenu", "NewStartPanel"};

std::string PanelKey(const SettingsStore& store, const char* panel)
{
    return store.hideIconsKey + "\\" + panel;
}

// One flag in one key. Showing an icon that no flag hides is already done.
bool WriteIconFlag(HKEY root, const std::string& path, bool hide)
{
    RegKey key;
    if (hide) {
        if (key.Create(root, path, KEY_ALL_ACCESS) != ERROR_SUCCESS)
            return false;
        return WriteDword(key.Get(), kDesktopIconValue, 1) == ERROR_SUCCESS;
    }
    const LONG opened = key.Open(root, path, KEY_ALL_ACCESS);
    if (opened == ERROR_FILE_NOT_FOUND)
        return true;
    if (opened != ERROR_SUCCESS)
        return false;
    const LONG deleted = RegDeleteValueA(key.Get(), kDesktopIconValue);
    return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND;
}

}  // namespace

bool CanWriteSettings(const SettingsStore& store)
{
    RegKey key;
    if (key.Create(store.root, store.SettingsKey(), KEY_ALL_ACCESS) != ERROR_SUCCESS)
        return false;
    if (WriteDword(key.Get(), "WriteTest", 0) != ERROR_SUCCESS)
        return false;
    RegDeleteValueA(key.Get(), "WriteTest");
    return true;
}

bool IsWindowsXPOrLater()
{
    OSVERSIONINFOA version {};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExA(&version))
        return false;
#pragma GCC diagnostic pop
    return version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
           (version.dwMajorVersion > 5 ||
            (version.dwMajorVersion == 5 && version.dwMinorVersion != 0));
}

bool IsDesktopIconHidden(const SettingsStore& store)
{
    if (!IsWindowsXPOrLater())
        return false;
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        for (const char* panel : kIconPanels) {
            RegKey key;
            if (key.Open(root, PanelKey(store, panel), KEY_READ) != ERROR_SUCCESS)
                continue;
            const std::optional<DWORD> flag = ReadDword(key.Get(), kDesktopIconValue);
            if (flag && *flag != 0)
                return true;
        }
    }
    return false;
}

bool SetDesktopIconHidden(bool hide, const SettingsStore& store)
{
    if (!IsWindowsXPOrLater())
        return true;
    bool result = WriteIconFlag(HKEY_CURRENT_USER, PanelKey(store, kIconPanels[0]), hide);
    if (result) {
        WriteIconFlag(HKEY_CURRENT_USER, PanelKey(store, kIconPanels[1]), hide);
        result = WriteIconFlag(HKEY_LOCAL_MACHINE, PanelKey(store, kIconPanels[0]), hide);
        if (result)
            WriteIconFlag(HKEY_LOCAL_MACHINE, PanelKey(store, kIconPanels[1]), hide);
    }
    SHChangeNotify(SHCNE_ASSOCCHANGED, 0, nullptr, nullptr);
    return result;
}

Migration MigrateOlderSettings(const SettingsStore& store)
{
    RegKey product;
    if (product.Open(store.root, store.productKey, KEY_ALL_ACCESS) != ERROR_SUCCESS)
        return Migration::NothingToMigrate;
    std::optional<std::string> older;
    for (DWORD i = 0; (older = SubkeyName(product.Get(), i)); ++i) {
        if (*older != store.versionKey)
            break;
    }
    if (!older)
        return Migration::NothingToMigrate;

    RegKey source, target;
    if (source.Open(product.Get(), *older, KEY_ALL_ACCESS) != ERROR_SUCCESS ||
        target.Create(product.Get(), store.versionKey, KEY_ALL_ACCESS) != ERROR_SUCCESS)
        return Migration::Failed;
    // What the target holds already stays; only what the copy adds is undone on failure.
    std::set<std::string> existing;
    for (DWORD i = 0; std::optional<std::string> name = SubkeyName(target.Get(), i); ++i)
        existing.insert(*name);
    if (CopyKeyTree(source.Get(), target.Get(), false) != ERROR_SUCCESS) {
        std::vector<std::string> added;
        for (DWORD i = 0; std::optional<std::string> name = SubkeyName(target.Get(), i); ++i) {
            if (!existing.count(*name))
                added.push_back(*name);
        }
        for (const std::string& name : added)
            DeleteKeyTree(target.Get(), name);
        return Migration::Failed;
    }
    source.Close();
    DeleteKeyTree(product.Get(), *older);
    return Migration::Migrated;
}

}  // namespace dm
