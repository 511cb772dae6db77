// The connection of the command-line client: built from defaults, an optional config file,
// the environment and the command line, each overriding the one before. Everything read is
// checked; a line or variable that does not make sense is reported, never half-used. A level
// that names a host or port but no serial device chooses TCP/IP over a lower level's device.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace dm {

struct ConnectionProfile {
    static constexpr size_t kMaxHostLength = 199;
    static constexpr size_t kMaxTextLength = 259;
    static constexpr uint32_t kMaxBaud = 4000000;
    static constexpr uint32_t kMinPacketSize = 5;
    static constexpr uint32_t kMaxRetries = 100000;

    std::string host = "127.0.0.1";
    uint16_t port = 356;
    std::string password = "Vormantic";
    std::string serialDevice;  // when set, the serial line is used instead of TCP/IP
    uint32_t baud = 19200;
    uint32_t packetSize = 512;
    uint32_t maxRetries = 50;
    std::string logFile;  // empty: no log
};

// One setting by its config-file key (host, port, password, serial, baud, packet-size, retries,
// log). Empty when accepted, else what is wrong with it (the profile is then unchanged).
std::string ApplySetting(ConnectionProfile& profile, std::string_view key, std::string_view value);

// "key = value" lines; blank lines and lines starting with '#' are ignored, CR LF endings
// accepted. Returns the problems as "line N: ..."; the good lines are applied either way.
std::vector<std::string> ApplyConfigText(std::string_view text, ConnectionProfile& profile);

// The file at `path`: a missing file is no problem; one that cannot be read, is not a regular
// file or is larger than 64 KiB is.
std::vector<std::string> ApplyConfigFile(const std::string& path, ConnectionProfile& profile);

using EnvironmentLookup = std::function<const char*(const char* name)>;

// DROVEMARK_HOST, DROVEMARK_PORT, DROVEMARK_PASSWORD, DROVEMARK_SERIAL and DROVEMARK_BAUD; an
// empty variable counts as unset.
std::vector<std::string> ApplyEnvironment(const EnvironmentLookup& lookup,
                                          ConnectionProfile& profile);

// $XDG_CONFIG_HOME/drovemark/config, else ~/.config/drovemark/config (%APPDATA%\drovemark\config
// on Windows); empty when neither is known.
std::string DefaultConfigPath(const EnvironmentLookup& lookup);

// Defaults, then the config file, then the environment of this process.
std::vector<std::string> LoadUserProfile(ConnectionProfile& profile);

}  // namespace dm
