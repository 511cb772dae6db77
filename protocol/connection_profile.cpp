#include "protocol/connection_profile.h"

#include <sys/stat.h>
#include <cstdlib>
#include <fstream>

namespace dm {

namespace {

constexpr size_t kMaxConfigSize = 64 * 1024;

bool ParseNumber(std::string_view text, uint32_t min, uint32_t max, uint32_t& value)
{
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != text.npos)
        return false;
    const unsigned long long parsed = std::strtoull(std::string(text).c_str(), nullptr, 10);
    if (parsed < min || parsed > max)
        return false;
    value = uint32_t(parsed);
    return true;
}

// Printable text only: a control character in a path or address is a mistake or an attack.
bool PlainText(std::string_view text, size_t maxLength)
{
    if (text.empty() || text.size() > maxLength)
        return false;
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;
    }
    return true;
}

std::string_view Trim(std::string_view text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == text.npos)
        return {};
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool ChoosesTcp(std::string_view key)
{
    return key == "host" || key == "port";
}

}  // namespace

std::string ApplySetting(ConnectionProfile& profile, std::string_view key, std::string_view value)
{
    using P = ConnectionProfile;
    uint32_t n = 0;
    if (key == "host") {
        if (!PlainText(value, P::kMaxHostLength))
            return "host must be 1 to 199 printable characters";
        profile.host = value;
    } else if (key == "port") {
        if (!ParseNumber(value, 1, 65535, n))
            return "port must be a number from 1 to 65535";
        profile.port = uint16_t(n);
    } else if (key == "password") {
        // Empty is a valid password; only control characters are refused.
        if (!value.empty() && !PlainText(value, P::kMaxTextLength))
            return "password must be printable and at most 259 characters";
        profile.password = value;
    } else if (key == "serial") {
        if (!PlainText(value, P::kMaxTextLength))
            return "serial must name a device";
        profile.serialDevice = value;
    } else if (key == "baud") {
        if (!ParseNumber(value, 1, P::kMaxBaud, n))
            return "baud must be a number from 1 to 4000000";
        profile.baud = n;
    } else if (key == "packet-size") {
        if (!ParseNumber(value, P::kMinPacketSize, 65535, n))
            return "packet-size must be a number from 5 to 65535";
        profile.packetSize = n;
    } else if (key == "retries") {
        if (!ParseNumber(value, 0, P::kMaxRetries, n))
            return "retries must be a number from 0 to 100000";
        profile.maxRetries = n;
    } else if (key == "log") {
        if (!PlainText(value, P::kMaxTextLength))
            return "log must be a file path of at most 259 characters";
        profile.logFile = value;
    } else {
        return "unknown setting '" + std::string(key.substr(0, 40)) + "'";
    }
    return {};
}

std::vector<std::string> ApplyConfigText(std::string_view text, ConnectionProfile& profile)
{
    std::vector<std::string> problems;
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    bool serialHere = false, tcpHere = false;
    const std::string savedSerial = profile.serialDevice;
    size_t number = 0;
    while (!text.empty()) {
        ++number;
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == text.npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const std::string where = "line " + std::to_string(number) + ": ";
        if (line.find('\0') != line.npos) {
            problems.push_back(where + "contains a NUL byte");
            continue;
        }
        line = Trim(line);
        if (line.empty() || line[0] == '#')
            continue;
        const size_t equals = line.find('=');
        if (equals == line.npos) {
            problems.push_back(where + "expected key = value");
            continue;
        }
        const std::string_view key = Trim(line.substr(0, equals));
        const std::string problem = ApplySetting(profile, key, Trim(line.substr(equals + 1)));
        if (!problem.empty()) {
            problems.push_back(where + problem);
            continue;
        }
        serialHere = serialHere || key == "serial";
        tcpHere = tcpHere || ChoosesTcp(key);
    }
    if (tcpHere && !serialHere && !savedSerial.empty())
        profile.serialDevice.clear();
    return problems;
}

std::vector<std::string> ApplyConfigFile(const std::string& path, ConnectionProfile& profile)
{
    struct stat info {};
    if (path.empty() || stat(path.c_str(), &info) != 0)
        return {};
    if (!S_ISREG(info.st_mode))
        return {path + ": not a regular file"};
    if (size_t(info.st_size) > kMaxConfigSize)
        return {path + ": larger than 64 KiB"};
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open())
        return {path + ": cannot be read"};
    std::string text(kMaxConfigSize + 1, '\0');
    in.read(text.data(), std::streamsize(text.size()));
    if (in.bad() || !in.eof())
        return {path + (in.bad() ? ": cannot be read" : ": larger than 64 KiB")};
    text.resize(size_t(in.gcount()));
    std::vector<std::string> problems = ApplyConfigText(text, profile);
    for (std::string& problem : problems)
        problem = path + ": " + problem;
    return problems;
}

std::vector<std::string> ApplyEnvironment(const EnvironmentLookup& lookup,
                                          ConnectionProfile& profile)
{
    static constexpr struct {
        const char* variable;
        const char* key;
    } kVariables[] = {{"DROVEMARK_HOST", "host"},
                      {"DROVEMARK_PORT", "port"},
                      {"DROVEMARK_PASSWORD", "password"},
                      {"DROVEMARK_SERIAL", "serial"},
                      {"DROVEMARK_BAUD", "baud"}};
    std::vector<std::string> problems;
    bool serialHere = false, tcpHere = false;
    const std::string savedSerial = profile.serialDevice;
    for (const auto& [variable, key] : kVariables) {
        const char* value = lookup(variable);
        if (!value || !*value)
            continue;
        const std::string problem = ApplySetting(profile, key, value);
        if (!problem.empty()) {
            problems.push_back(std::string(variable) + ": " + problem);
            continue;
        }
        serialHere = serialHere || std::string_view(key) == "serial";
        tcpHere = tcpHere || ChoosesTcp(key);
    }
    if (tcpHere && !serialHere && !savedSerial.empty())
        profile.serialDevice.clear();
    return problems;
}

std::string DefaultConfigPath(const EnvironmentLookup& lookup)
{
    auto set = [&](const char* name) -> std::string {
        const char* value = lookup(name);
        return value ? value : "";
    };
#ifdef _WIN32
    const std::string appData = set("APPDATA");
    return appData.empty() ? std::string() : appData + "\\drovemark\\config";
#else
    const std::string config = set("XDG_CONFIG_HOME");
    // The XDG rules ignore a relative path.
    if (!config.empty() && config[0] == '/')
        return config + "/drovemark/config";
    const std::string home = set("HOME");
    return home.empty() ? std::string() : home + "/.config/drovemark/config";
#endif
}

std::vector<std::string> LoadUserProfile(ConnectionProfile& profile)
{
    const EnvironmentLookup lookup = [](const char* name) {
        return std::getenv(name);
    };
    std::vector<std::string> problems = ApplyConfigFile(DefaultConfigPath(lookup), profile);
    for (std::string& problem : ApplyEnvironment(lookup, profile))
        problems.push_back(std::move(problem));
    return problems;
}

}  // namespace dm
