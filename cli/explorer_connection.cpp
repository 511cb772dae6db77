#include "cli/explorer_connection.h"

#include "protocol/connection_settings.h"

namespace dm::cli {

bool UseInExplorer(const ConnectionProfile& profile, const SettingsStore& store)
{
    ConnectionSettings settings(store);
    if (!settings.LoadProfile(profile))
        return false;
    // Saving writes the icon flag too: keep the one the user chose.
    settings.SetShowDesktopIcon(!IsDesktopIconHidden(store));
    return settings.Save();
}

}  // namespace dm::cli
