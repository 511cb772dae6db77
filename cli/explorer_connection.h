// The connection the Explorer folder uses, set from the command line: the same settings record
// the folder loads, so the client and the folder never disagree on the registry layout.
#pragma once

#ifdef _WIN32

#  include "core/settings_registry.h"
#  include "protocol/connection_profile.h"

namespace dm::cli {

// Makes the profile's serial device or TCP/IP server the folder's only and chosen connection,
// with its log settings. The desktop icon stays as it is. False when nothing could be written.
bool UseInExplorer(const ConnectionProfile& profile, const SettingsStore& store = {});

}  // namespace dm::cli

#endif  // _WIN32
