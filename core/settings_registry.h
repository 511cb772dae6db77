// Where the settings live in the registry, the write probe, the migration of an older version's
// key and the shell's desktop icon flags.
#pragma once

#ifdef _WIN32

#  include "core/platform.h"

#  include <functional>
#  include <string>

namespace dm {

// The machine's settings by default; tests point it elsewhere.
struct SettingsStore {
    HKEY root = HKEY_LOCAL_MACHINE;
    // Older versions kept their settings in sibling subkeys of the product key.
    std::string productKey = "SOFTWARE\\Quenzor\\Drovemark";
    std::string versionKey = "2005.0";
    // Below both HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE.
    std::string hideIconsKey =
        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\HideDesktopIcons";
    // Whether a COM port counts as present besides having a default configuration (empty: every
    // port that has one). Wine answers GetDefaultCommConfigA for any name at all.
    std::function<bool(const std::string& port)> portPresent;

    std::string SettingsKey() const { return productKey + "\\" + versionKey; }
};

// The value named by the class identifier in the shell's flags.
inline constexpr char kDesktopIconValue[] = "{6B2D9A41-5C7E-4F83-9D10-3A5E7C24B8F6}";

// Whether the settings key can be created with all access and a value set in it ("WriteTest",
// removed again at once).
bool CanWriteSettings(const SettingsStore& store = {});

bool IsWindowsXPOrLater();

// Whether the shell hides the folder's icon on the desktop: the first of the four flags that
// exists and is non-zero.
bool IsDesktopIconHidden(const SettingsStore& store = {});
// Writes the flags (user ClassicStartMenu first; a failure there skips the rest) and tells the
// shell. Hiding creates a missing key; showing where there is no key or value is success. The
// result is that of the last ClassicStartMenu write.
bool SetDesktopIconHidden(bool hide, const SettingsStore& store = {});

enum class Migration { NothingToMigrate, Migrated, Failed };

// Copies the subkeys of the first sibling of the version key into the version key, then
// deletes that sibling. A failed copy removes what it had added and leaves the sibling.
Migration MigrateOlderSettings(const SettingsStore& store = {});

}  // namespace dm

#endif  // _WIN32
