// The settings record: which connection is used, every connection entry (a packet channel over
// its link, owned here), packet size, retry limit, log switch and path, desktop icon, and the
// stamp that tells whether another process saved newer settings since this record was loaded.
// On Windows it is loaded from and saved to the registry; the command-line client fills it from
// its profile instead.
#pragma once

#include "core/platform.h"
#include "protocol/connection_profile.h"
#include "protocol/packet_channel.h"

#ifdef _WIN32
#  include "core/settings_registry.h"
#endif

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dm {

class SerialLink;

class ConnectionSettings {
public:
    static constexpr uint32_t kDefaultPacketSize = 512;
    static constexpr uint32_t kDefaultMaxRetries = 50;
    static constexpr size_t kNameCapacity = 80;      // char[80] with its NUL
    static constexpr size_t kLogPathCapacity = 260;  // char[260] with its NUL
    static constexpr size_t kAddressCapacity = 200;
    static constexpr uint32_t kPassKeyMask = 0x3C71D94E;
    static constexpr char kTcpName[] = "TCP/IP";
    static constexpr char kDefaultPassword[] = "Vormantic";

    // The key of the preset password.
    static uint32_t DefaultPassKey();

#ifdef _WIN32
    explicit ConnectionSettings(SettingsStore store = {});
#else
    ConnectionSettings();
#endif
    ~ConnectionSettings();
    ConnectionSettings(const ConnectionSettings&) = delete;
    ConnectionSettings& operator=(const ConnectionSettings&) = delete;

    // Destroys every entry and returns every value to its default; the stamp then never
    // matches the shared one.
    void Reset();

#ifdef _WIN32
    // True when at least one value was read. Migrates an older version's key when there is
    // nothing to read, shows the first-run message when there is nothing to migrate either, and
    // publishes the log settings to every process.
    bool Load();
    // False when anything could not be written; then the log settings are not written either.
    bool Save();
    // Adds the present COM1 to COM10 and drops entries whose port is gone; adds TCP/IP while
    // sockets are started and drops it while not. False when a link could not be created.
    bool RefreshConnections();
    const SettingsStore& Store() const
    {
        return store_;
    }
    void SetStore(SettingsStore store)
    {
        store_ = std::move(store);
    }
#endif

    // One entry for the profile's serial device or TCP/IP server, its log settings published.
    // The record counts as current afterwards.
    bool LoadProfile(const ConnectionProfile& profile);

    // Whether no process saved settings since this record was loaded or saved.
    bool IsCurrent() const;
    uint32_t Stamp() const
    {
        return stamp_;
    }

    // The first entry of exactly that name, or null.
    PacketChannel* FindConnection(std::string_view name) const;
    // The entry named by the connection setting, or null.
    PacketChannel* CurrentConnection() const
    {
        return FindConnection(connectionName_);
    }
    // Before entry `index`, or at the end for any index outside the list (callers pass -1).
    // False when the entry is null or no room could be had.
    bool InsertConnection(std::unique_ptr<PacketChannel> entry, int index);
    // The entry, out of the list and now the caller's; null for an index out of range.
    std::unique_ptr<PacketChannel> RemoveConnection(int index);
    size_t ConnectionCount() const
    {
        return connections_.size();
    }
    PacketChannel& Connection(size_t index) const
    {
        return *connections_.at(index);
    }

    const std::string& ConnectionName() const
    {
        return connectionName_;
    }
    // Refused (false) when 80 characters or more.
    bool SetConnectionName(std::string_view name);
    uint32_t PacketSize() const
    {
        return packetSize_;
    }
    // Accepted only from 1 to 65535.
    bool SetPacketSize(int32_t size);
    uint32_t MaxRetries() const
    {
        return maxRetries_;
    }
    // Accepted only when not negative.
    bool SetMaxRetries(int32_t retries);
    bool ShowDesktopIcon() const
    {
        return showDesktopIcon_;
    }
    void SetShowDesktopIcon(bool show)
    {
        showDesktopIcon_ = show;
    }
    bool LoggingEnabled() const
    {
        return loggingEnabled_;
    }
    void SetLoggingEnabled(bool enabled)
    {
        loggingEnabled_ = enabled;
    }
    const std::string& LogPath() const
    {
        return logPath_;
    }
    // Refused (false) when 260 characters or more.
    bool SetLogPath(std::string_view path);

    // The properties block of the diagnostic log: connection, its speed (0 unless serial),
    // packet size and retries.
    void WriteBanner() const;

private:
    // The log switch and path in force for every process.
    void PublishLogSettings() const;
    std::unique_ptr<PacketChannel> MakeEntry(std::unique_ptr<Link> link) const;

#ifdef _WIN32
    int ReadValues();
    void ReadConnectionEntries(HKEY connection, int& count);
    bool PortPresent(const SerialLink& probe) const;
    bool WriteValues(HKEY settings);

    SettingsStore store_;
#endif
    std::vector<std::unique_ptr<PacketChannel>> connections_;
    std::string connectionName_;
    uint32_t packetSize_ = kDefaultPacketSize;
    uint32_t maxRetries_ = kDefaultMaxRetries;
    bool showDesktopIcon_ = false;
    bool loggingEnabled_ = false;
    std::string logPath_;
    uint32_t stamp_ = 0;
};

}  // namespace dm
