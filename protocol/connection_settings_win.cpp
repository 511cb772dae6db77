// The registry side of the settings record.
#include "protocol/connection_settings.h"

#include "core/messages.h"
#include "core/module.h"
#include "core/registry.h"
#include "core/shared_settings_section.h"
#include "link/serial_link.h"
#include "link/tcp_link.h"
#include "resources/string_ids.h"

#include <climits>
#include <cstring>
#include <new>

namespace dm {

namespace {

constexpr char kConnectionKey[] = "Connection";
constexpr char kLoggingKey[] = "Logging";
constexpr char kConfigurationData[] = "Configuration Data";
constexpr UINT kSettingsBoxStyle = MB_OK | MB_TOPMOST;

std::string DefaultLogPath()
{
    char system[MAX_PATH + 1] = {};
    const UINT length = GetSystemDirectoryA(system, MAX_PATH);
    std::string path = length > 0 && length < MAX_PATH ? std::string(system, length) : "C:\\";
    if (!path.empty() && path.back() == '\\')
        path.pop_back();
    return path + "\\ShellExt\\Drovemark_pc.log";
}

// A stored record is the whole COMMCONFIG: its own dwSize must be the size stored.
bool WholeRecord(const std::vector<BYTE>& data)
{
    DWORD size = 0;
    if (data.size() < sizeof size)
        return false;
    std::memcpy(&size, data.data(), sizeof size);
    return size == data.size();
}

// Never 0 (no save yet) and never the stamp in force, even for two saves in one tick.
uint32_t NextStamp(uint32_t previous)
{
    uint32_t stamp = GetTickCount();
    if (stamp == previous || stamp == 0)
        stamp = previous + 1;
    return stamp == 0 ? 1 : stamp;
}

}  // namespace

ConnectionSettings::ConnectionSettings(SettingsStore store) : store_(std::move(store))
{
    Reset();
}

bool ConnectionSettings::PortPresent(const SerialLink& probe) const
{
    return probe.HasConfiguration() && (!store_.portPresent || store_.portPresent(probe.Name()));
}

bool ConnectionSettings::Load()
{
    Reset();
    int count = ReadValues();
    if (count == 0) {
        // One migration per load: a copy that yields nothing must not start another round.
        switch (MigrateOlderSettings(store_)) {
        case Migration::Migrated:
            Reset();
            count = ReadValues();
            break;
        case Migration::NothingToMigrate:
            if (SharedSection().firstRunShown == 0) {
                SharedSection().firstRunShown = 1;
                MessageBoxById(nullptr, IDS_FIRST_RUN, IDS_APP_NAME, kSettingsBoxStyle,
                               ThisModule());
            }
            break;
        case Migration::Failed: break;
        }
    }
    if (count > 0)
        stamp_ = SharedSection().settingsStamp;
    RefreshConnections();
    if (connectionName_.empty() && !connections_.empty())
        connectionName_ = connections_.front()->GetLink().Name();
    if (logPath_.empty())
        logPath_ = DefaultLogPath();
    PublishLogSettings();
    return count > 0;
}

int ConnectionSettings::ReadValues()
{
    RegKey settings;
    if (settings.Open(store_.root, store_.SettingsKey(), KEY_READ) != ERROR_SUCCESS)
        return 0;
    int count = 0;
    RegKey connection;
    if (connection.Open(settings.Get(), kConnectionKey, KEY_READ) == ERROR_SUCCESS) {
        if (std::optional<std::string> name =
                ReadString(connection.Get(), nullptr, kNameCapacity)) {
            connectionName_ = *name;
            ++count;
        }
        // 0 means "not set"; a size the packet layer cannot carry is not believed either.
        const std::optional<DWORD> size = ReadDword(connection.Get(), "Packet Size");
        if (size && *size >= 1 && *size <= 65535) {
            packetSize_ = *size;
            ++count;
        }
        // No more than the setter could have stored.
        const std::optional<DWORD> retries = ReadDword(connection.Get(), "Max Retries");
        if (retries && *retries <= DWORD(INT32_MAX)) {
            maxRetries_ = *retries;
            ++count;
        }
        ReadConnectionEntries(connection.Get(), count);
    }
    RegKey logging;
    if (logging.Open(settings.Get(), kLoggingKey, KEY_READ) == ERROR_SUCCESS) {
        if (std::optional<std::string> path =
                ReadString(logging.Get(), nullptr, kLogPathCapacity)) {
            logPath_ = *path;
            ++count;
        }
        if (const std::optional<DWORD> enabled = ReadDword(logging.Get(), "Enabled")) {
            loggingEnabled_ = *enabled != 0;
            ++count;
        }
    }
    showDesktopIcon_ = !IsDesktopIconHidden(store_);
    return count;
}

void ConnectionSettings::ReadConnectionEntries(HKEY connection, int& count)
{
    for (DWORD i = 0;; ++i) {
        const std::optional<std::string> name = SubkeyName(connection, i);
        if (!name)
            break;
        // A name the record cannot hold could never be chosen.
        if (name->size() >= kNameCapacity || FindConnection(*name))
            continue;
        RegKey key;
        try {
            if (name->compare(0, 3, "COM") == 0) {
                if (key.Open(connection, *name, KEY_READ) != ERROR_SUCCESS)
                    continue;
                auto link = std::make_unique<SerialLink>(*name, packetSize_);
                if (!PortPresent(*link))
                    continue;
                const auto size = DWORD(link->ConfigurationData().size());
                const std::optional<std::vector<BYTE>> data =
                    ReadBinary(key.Get(), kConfigurationData, size);
                if (!data || !WholeRecord(*data) ||
                    !link->SetConfigurationData(data->data(), data->size()))
                    continue;
                link->NormalizeConfiguration();
                if (InsertConnection(MakeEntry(std::move(link)), -1))
                    ++count;
            } else if (*name == kTcpName) {
                if (key.Open(connection, *name, KEY_READ) != ERROR_SUCCESS)
                    continue;
                auto link = std::make_unique<TcpLink>(DefaultPassKey(), packetSize_);
                const std::optional<std::string> address =
                    ReadString(key.Get(), "Address", kAddressCapacity);
                if (address && !address->empty()) {
                    link->SetAddress(*address);
                    ++count;
                }
                // A port number that does not fit would connect somewhere else.
                const std::optional<DWORD> port = ReadDword(key.Get(), "Port");
                if (port && *port >= 1 && *port <= 65535) {
                    link->SetPort(uint16_t(*port));
                    ++count;
                }
                if (const std::optional<DWORD> passKey = ReadDword(key.Get(), "PassKey")) {
                    link->SetHandshakeKey(*passKey ^ kPassKeyMask);
                    ++count;
                }
                InsertConnection(MakeEntry(std::move(link)), -1);
            }
        } catch (const std::bad_alloc&) {
            continue;
        }
    }
}

bool ConnectionSettings::RefreshConnections()
{
    auto indexOf = [this](std::string_view name) {
        for (size_t i = 0; i < connections_.size(); ++i) {
            if (connections_[i]->GetLink().Name() == name)
                return int(i);
        }
        return -1;
    };
    try {
        for (int n = 1; n <= 10; ++n) {
            const std::string name = "COM" + std::to_string(n);
            const int existing = indexOf(name);
            auto probe = std::make_unique<SerialLink>(name, packetSize_);
            if (!PortPresent(*probe)) {
                RemoveConnection(existing);
                continue;
            }
            if (existing < 0 && !InsertConnection(MakeEntry(std::move(probe)), -1))
                return false;
        }
        const int tcp = indexOf(kTcpName);
        if (!SocketsStarted()) {
            RemoveConnection(tcp);
        } else if (tcp < 0 &&
                   !InsertConnection(
                       MakeEntry(std::make_unique<TcpLink>(DefaultPassKey(), packetSize_)), -1)) {
            return false;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool ConnectionSettings::Save()
{
    RegKey settings;
    const LONG error = settings.Create(store_.root, store_.SettingsKey(), KEY_ALL_ACCESS);
    if (error != ERROR_SUCCESS) {
        if (error == ERROR_ACCESS_DENIED)
            MessageBoxById(nullptr, IDS_SETTINGS_READ_ONLY, IDS_APP_NAME, kSettingsBoxStyle,
                           ThisModule());
        else
            MessageBoxById(nullptr, IDS_ERROR_CODE_UNKNOWN, IDS_APP_NAME, kSettingsBoxStyle,
                           ThisModule(), {uint32_t(error)});
        return false;
    }
    // A save that breaks off half way puts back what was there, so that no process loads a mix
    // of old and new connection settings as if it were whole.
    const std::optional<RegistrySnapshot> before =
        TakeRegistrySnapshot(settings.Get(), kConnectionKey);
    RegKey connection;
    if (connection.Create(settings.Get(), kConnectionKey, KEY_ALL_ACCESS) != ERROR_SUCCESS)
        return false;

    bool result = WriteValues(connection.Get());
    connection.Close();
    if (!result && before)
        RestoreRegistrySnapshot(settings.Get(), kConnectionKey, *before);
    // The log settings only go with a complete save.
    if (result) {
        RegKey logging;
        result = logging.Create(settings.Get(), kLoggingKey, KEY_ALL_ACCESS) == ERROR_SUCCESS &&
                 WriteString(logging.Get(), nullptr, logPath_) == ERROR_SUCCESS &&
                 WriteDword(logging.Get(), "Enabled", loggingEnabled_ ? 1 : 0) == ERROR_SUCCESS;
        if (result)
            PublishLogSettings();
    }
    // The stamp last: other processes reload once they see it.
    const uint32_t stamp = NextStamp(SharedSection().settingsStamp);
    SharedSection().settingsStamp = stamp;
    stamp_ = stamp;
    settings.Close();
    if (!result)
        return false;

    const bool hidden = IsDesktopIconHidden(store_);
    if (!hidden && !showDesktopIcon_)
        return SetDesktopIconHidden(true, store_);
    if (hidden && showDesktopIcon_)
        return SetDesktopIconHidden(false, store_);
    return true;
}

bool ConnectionSettings::WriteValues(HKEY connection)
{
    bool result = WriteString(connection, nullptr, connectionName_) == ERROR_SUCCESS;
    result = WriteDword(connection, "Packet Size", packetSize_) == ERROR_SUCCESS && result;
    result = WriteDword(connection, "Max Retries", maxRetries_) == ERROR_SUCCESS && result;
    for (const auto& entry : connections_) {
        const Link& link = entry->GetLink();
        RegKey key;
        // A name with a backslash would write somewhere below another entry.
        if (link.Name().find('\\') != std::string::npos ||
            key.Create(connection, link.Name(), KEY_ALL_ACCESS) != ERROR_SUCCESS) {
            result = false;
            continue;
        }
        if (const auto* serial = dynamic_cast<const SerialLink*>(&link)) {
            const std::span<const BYTE> data = serial->ConfigurationData();
            if (!data.empty())
                result = WriteBinary(key.Get(), kConfigurationData, data.data(),
                                     DWORD(data.size())) == ERROR_SUCCESS &&
                         result;
        } else if (const auto* tcp = dynamic_cast<const TcpLink*>(&link)) {
            result = WriteString(key.Get(), "Address", tcp->Address()) == ERROR_SUCCESS && result;
            result = WriteDword(key.Get(), "Port", tcp->Port()) == ERROR_SUCCESS && result;
            result = WriteDword(key.Get(), "PassKey", tcp->HandshakeKey() ^ kPassKeyMask) ==
                         ERROR_SUCCESS &&
                     result;
        }
    }
    return result;
}

}  // namespace dm
