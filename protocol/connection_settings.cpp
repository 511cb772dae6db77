#include "protocol/connection_settings.h"

#include "core/crc32.h"
#include "core/diag_log.h"
#include "core/shared_settings_section.h"
#include "link/serial_link.h"
#include "link/tcp_link.h"

#include <algorithm>
#include <cstdio>
#include <new>

namespace dm {

uint32_t ConnectionSettings::DefaultPassKey()
{
    return ComputeCrc32(kDefaultPassword);
}

#ifndef _WIN32
ConnectionSettings::ConnectionSettings()
{
    Reset();
}
#endif

ConnectionSettings::~ConnectionSettings()
{
    Reset();
}

void ConnectionSettings::Reset()
{
    connections_.clear();
    connectionName_.clear();
    logPath_.clear();
    showDesktopIcon_ = false;
    loggingEnabled_ = false;
    packetSize_ = kDefaultPacketSize;
    maxRetries_ = kDefaultMaxRetries;
    stamp_ = ~SharedSection().settingsStamp;
}

bool ConnectionSettings::LoadProfile(const ConnectionProfile& profile)
{
    Reset();
    if (profile.packetSize < 1 || profile.packetSize > 65535 ||
        profile.logFile.size() >= kLogPathCapacity)
        return false;
    packetSize_ = profile.packetSize;
    maxRetries_ = profile.maxRetries;
    try {
        std::unique_ptr<Link> link;
        if (!profile.serialDevice.empty()) {
            auto serial = std::make_unique<SerialLink>(profile.serialDevice, packetSize_);
            serial->SetBaudRate(profile.baud);
            link = std::move(serial);
        } else {
            auto tcp = std::make_unique<TcpLink>(ComputeCrc32(profile.password), packetSize_);
            tcp->SetAddress(profile.host);
            tcp->SetPort(profile.port);
            link = std::move(tcp);
        }
        connectionName_ = link->Name();
        if (!InsertConnection(MakeEntry(std::move(link)), -1))
            return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
    loggingEnabled_ = !profile.logFile.empty();
    logPath_ = profile.logFile;
    stamp_ = SharedSection().settingsStamp;
    PublishLogSettings();
    return true;
}

bool ConnectionSettings::IsCurrent() const
{
    return stamp_ == SharedSection().settingsStamp;
}

PacketChannel* ConnectionSettings::FindConnection(std::string_view name) const
{
    for (const auto& entry : connections_) {
        if (entry->GetLink().Name() == name)
            return entry.get();
    }
    return nullptr;
}

bool ConnectionSettings::InsertConnection(std::unique_ptr<PacketChannel> entry, int index)
{
    if (!entry)
        return false;
    try {
        const auto at = index >= 0 && size_t(index) < connections_.size()
                            ? connections_.begin() + index
                            : connections_.end();
        connections_.insert(at, std::move(entry));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

std::unique_ptr<PacketChannel> ConnectionSettings::RemoveConnection(int index)
{
    if (index < 0 || size_t(index) >= connections_.size())
        return nullptr;
    std::unique_ptr<PacketChannel> entry = std::move(connections_[size_t(index)]);
    connections_.erase(connections_.begin() + index);
    return entry;
}

bool ConnectionSettings::SetConnectionName(std::string_view name)
{
    if (name.size() >= kNameCapacity)
        return false;
    connectionName_ = name;
    return true;
}

bool ConnectionSettings::SetPacketSize(int32_t size)
{
    if (size < 1 || size > 65535)
        return false;
    packetSize_ = uint32_t(size);
    return true;
}

bool ConnectionSettings::SetMaxRetries(int32_t retries)
{
    if (retries < 0)
        return false;
    maxRetries_ = uint32_t(retries);
    return true;
}

bool ConnectionSettings::SetLogPath(std::string_view path)
{
    if (path.size() >= kLogPathCapacity)
        return false;
    logPath_ = path;
    return true;
}

void ConnectionSettings::WriteBanner() const
{
    int baud = 0;
    if (const PacketChannel* current = CurrentConnection()) {
        if (const auto* serial = dynamic_cast<const SerialLink*>(&current->GetLink()))
            baud = int(serial->BaudRate());
    }
    LogLine("\nDROVEMARK PROPERTIES\nConnection: %s (%d baud)\nPacketSize: %d\nMaxRetries: %d\n\n",
            connectionName_.c_str(), baud, int(packetSize_), int(maxRetries_));
}

void ConnectionSettings::PublishLogSettings() const
{
    SharedSettingsSection& shared = SharedSection();
    // Nobody may log into a half-written path: the switch goes off first and on last.
    if (!loggingEnabled_)
        shared.loggingEnabled = 0;
    std::snprintf(shared.logPath, sizeof shared.logPath, "%s", logPath_.c_str());
    shared.loggingEnabled = loggingEnabled_ ? 1 : 0;
}

std::unique_ptr<PacketChannel> ConnectionSettings::MakeEntry(std::unique_ptr<Link> link) const
{
    return std::make_unique<PacketChannel>(std::move(link), packetSize_, maxRetries_);
}

}  // namespace dm
