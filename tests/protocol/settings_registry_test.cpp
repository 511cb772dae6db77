// The settings record against the registry of the test prefix.
#include "core/crc32.h"
#include "link/serial_link.h"
#include "protocol/connection_settings.h"
#include "protocol/registry_support.h"
#include "resources/string_ids.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

namespace dm {
namespace {

using namespace test;
using namespace std::string_literals;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::StartsWith;

std::vector<std::string> NamesOf(const ConnectionSettings& settings)
{
    std::vector<std::string> names;
    for (size_t i = 0; i < settings.ConnectionCount(); ++i)
        names.push_back(settings.Connection(i).GetLink().Name());
    return names;
}

SerialLink& Serial(const ConnectionSettings& settings, const char* name)
{
    return dynamic_cast<SerialLink&>(settings.FindConnection(name)->GetLink());
}

TcpLink& Tcp(const ConnectionSettings& settings)
{
    return dynamic_cast<TcpLink&>(settings.FindConnection("TCP/IP")->GetLink());
}

std::string Record(const SerialLink& link)
{
    return std::string(link.ConfigurationData().begin(), link.ConfigurationData().end());
}

// A COMMCONFIG record with its head changed.
std::string Changed(std::string record, const std::function<void(COMMCONFIG&)>& change)
{
    COMMCONFIG head {};
    std::memcpy(&head, record.data(), sizeof head);
    change(head);
    std::memcpy(record.data(), &head, sizeof head);
    return record;
}

DCB LineOf(const std::string& record)
{
    COMMCONFIG head {};
    std::memcpy(&head, record.data(), std::min(record.size(), sizeof head));
    return head.dcb;
}

class RegistrySettings : public RegistryTest {
protected:
    bool IconFlagsAre(std::optional<uint32_t> flag) const
    {
        bool all = true;
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            for (const char* panel : {"\\ClassicStartMenu", "\\NewStartPanel"}) {
                const auto raw = ReadRaw(store_.hideIconsKey + panel, kDesktopIconValue, root);
                all = all && (flag ? raw == RawValue {REG_DWORD, Dword(*flag)} : !raw);
            }
        }
        return all;
    }
    Messages messages_;
};

TEST_F(RegistrySettings, AnEmptyMachineGetsDefaultsAndTheFirstRunMessageOnce)
{
    SharedSection().firstRunShown = 0;
    ConnectionSettings settings(store_);
    EXPECT_THAT(messages_.During([&] { EXPECT_FALSE(settings.Load()); }),
                Contains(StartsWith("Drovemark is running for the first time")));
    EXPECT_EQ(messages_.caption, "Drovemark");
    EXPECT_THAT(NamesOf(settings), ElementsAre("COM1", "COM2", "COM4", "TCP/IP"));
    EXPECT_EQ(settings.ConnectionName(), "COM1");
    EXPECT_EQ(Serial(settings, "COM1").BaudRate(), 19200u);
    EXPECT_EQ(Tcp(settings).Address(), "127.0.0.1");
    EXPECT_EQ(Tcp(settings).Port(), 356);
    EXPECT_EQ(Tcp(settings).HandshakeKey(), ComputeCrc32("Vormantic"));
    EXPECT_EQ(settings.PacketSize(), 512u);
    EXPECT_EQ(settings.MaxRetries(), 50u);
    EXPECT_FALSE(settings.LoggingEnabled());
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, MAX_PATH);
    EXPECT_EQ(settings.LogPath(), std::string(system) + "\\ShellExt\\Drovemark_pc.log");
    EXPECT_EQ(SharedSection().logPath, settings.LogPath());
    EXPECT_FALSE(settings.IsCurrent());

    // Still nothing there, but the message was shown once already. Without sockets there is
    // no TCP/IP entry.
    StopSockets();
    EXPECT_THAT(messages_.During([&] { EXPECT_FALSE(settings.Load()); }, 300), ElementsAre());
    ASSERT_TRUE(StartSockets());
    EXPECT_THAT(NamesOf(settings), ElementsAre("COM1", "COM2", "COM4"));
    EXPECT_FALSE(ReadRaw(store_.productKey, nullptr));
}

TEST_F(RegistrySettings, SaveStoresTheLayoutByteForByteAndLoadsItBack)
{
    ConnectionSettings settings(store_);
    settings.Load();
    ASSERT_TRUE(settings.SetConnectionName("TCP/IP") && settings.SetPacketSize(1024) &&
                settings.SetMaxRetries(7) && settings.SetLogPath("C:\\logs\\dm.log"));
    settings.SetLoggingEnabled(true);
    const uint32_t key = ComputeCrc32("secret");
    Tcp(settings).SetAddress("amiga.local");
    Tcp(settings).SetPort(2000);
    Tcp(settings).SetHandshakeKey(key);
    Serial(settings, "COM2").SetBaudRate(57600);
    const std::string com2 = Record(Serial(settings, "COM2"));
    const uint32_t before = SharedSection().settingsStamp;
    ASSERT_TRUE(settings.Save());
    EXPECT_NE(SharedSection().settingsStamp, before);
    EXPECT_TRUE(settings.IsCurrent());
    EXPECT_STREQ(SharedSection().logPath, "C:\\logs\\dm.log");
    EXPECT_EQ(SharedSection().loggingEnabled, 1u);

    const struct {
        const char* key;
        const char* name;
        RawValue value;
    } stored[] = {
        {"Connection", nullptr, {REG_SZ, "TCP/IP\0"s}},
        {"Connection", "Packet Size", {REG_DWORD, Dword(1024)}},
        {"Connection", "Max Retries", {REG_DWORD, Dword(7)}},
        {"Connection\\COM2", "Configuration Data", {REG_BINARY, com2}},
        {"Connection\\TCP/IP", "Address", {REG_SZ, "amiga.local\0"s}},
        {"Connection\\TCP/IP", "Port", {REG_DWORD, Dword(2000)}},
        {"Connection\\TCP/IP", "PassKey", {REG_DWORD, Dword(key ^ 0x3C71D94E)}},
        {"Logging", nullptr, {REG_SZ, "C:\\logs\\dm.log\0"s}},
        {"Logging", "Enabled", {REG_DWORD, Dword(1)}},
    };
    for (const auto& value : stored)
        EXPECT_EQ(ReadRaw(Key(value.key), value.name), value.value) << value.key << value.name;
    EXPECT_EQ(com2.size(), 52u);  // dwSize bytes, and dwSize says so
    EXPECT_EQ(com2.substr(0, 4), Dword(52));
    EXPECT_EQ(LineOf(com2).BaudRate, 57600u);
    EXPECT_TRUE(IconFlagsAre(1));

    // Each entry's values are read back in the tests that store them raw.
    ConnectionSettings loaded(store_);
    EXPECT_TRUE(loaded.Load());
    EXPECT_TRUE(loaded.IsCurrent());
    EXPECT_EQ(loaded.ConnectionName(), "TCP/IP");
    EXPECT_EQ(loaded.LogPath(), "C:\\logs\\dm.log");
    EXPECT_FALSE(loaded.ShowDesktopIcon());
    // Every entry is made with the loaded packet size and retry limit.
    EXPECT_EQ(loaded.CurrentConnection()->PacketSize(), 1024u);
    EXPECT_EQ(loaded.CurrentConnection()->MaxRetries(), 7u);

    loaded.SetShowDesktopIcon(true);
    ASSERT_TRUE(loaded.Save());
    EXPECT_TRUE(IconFlagsAre(std::nullopt));
    loaded.Load();
    EXPECT_TRUE(loaded.ShowDesktopIcon());
}

TEST_F(RegistrySettings, ValuesOfAWrongTypeSizeOrRangeReadAsMissing)
{
    const std::string connection = Key("Connection"), tcp = Key("Connection\\TCP/IP");
    WriteRaw(connection, nullptr, REG_SZ, std::string(80, 'x') + '\0');
    WriteRaw(tcp, "Address", REG_BINARY, "10.0.0.9");
    WriteRaw(tcp, "PassKey", REG_DWORD, Dword(0x11111111 ^ 0x3C71D94E));
    WriteRaw(Key("Logging"), "Enabled", REG_SZ, "1\0"s);
    WriteRaw(Key("Logging"), nullptr, REG_SZ, std::string(260, 'p'));
    // Stored 0 means the default packet size; others count while a packet can carry them.
    // The retry limit and the port are read likewise.
    const struct {
        std::string stored;
        uint32_t packetSize, retries, port;
    } cases[] = {{Dword(0), 512, 0, 356},
                 {Dword(4096), 4096, 4096, 4096},
                 {Dword(65536), 512, 65536, 356},
                 {Dword(0xFFFFFFFF), 512, 50, 356},
                 {"\x10\x27"s, 512, 50, 356}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.packetSize);
        WriteRaw(connection, "Packet Size", REG_DWORD, c.stored);
        WriteRaw(connection, "Max Retries", REG_DWORD, c.stored);
        WriteRaw(tcp, "Port", REG_DWORD, c.stored);
        ConnectionSettings settings(store_);
        EXPECT_TRUE(settings.Load());  // the pass key is good
        EXPECT_EQ(settings.PacketSize(), c.packetSize);
        EXPECT_EQ(settings.MaxRetries(), c.retries);
        EXPECT_EQ(Tcp(settings).Port(), c.port);
        EXPECT_EQ(Tcp(settings).Address(), "127.0.0.1");
        EXPECT_EQ(Tcp(settings).HandshakeKey(), 0x11111111u);
        EXPECT_EQ(settings.ConnectionName(), "TCP/IP");  // the first entry, for want of a name
        EXPECT_FALSE(settings.LoggingEnabled());
        EXPECT_THAT(settings.LogPath(), testing::EndsWith("\\ShellExt\\Drovemark_pc.log"));
    }
}

TEST_F(RegistrySettings, SerialEntriesNeedTheirPortAndTheirWholeRecord)
{
    const std::string good = Record(SerialLink("COM1", 512));
    ASSERT_EQ(good.size(), 52u);
    auto store = [&](const std::string& port, const std::string& record, DWORD type = REG_BINARY) {
        WriteRaw(Key("Connection\\" + port), "Configuration Data", type, record);
    };
    store("COM4", Changed(good, [](COMMCONFIG& c) {
              c.dcb.BaudRate = 38400;
              c.dcb.Parity = EVENPARITY;
          }));
    store("COM1", good.substr(0, 51));
    store("COM3", good);  // the port is gone
    WriteRaw(Key("Connection\\TCP/IP"), "Address", REG_SZ, "10.0.0.2\0"s);
    ConnectionSettings settings(store_);
    EXPECT_TRUE(settings.Load());
    // In the registry's order; the refresh brings COM1 and COM2 back with defaults.
    EXPECT_THAT(NamesOf(settings), ElementsAre("COM4", "TCP/IP", "COM1", "COM2"));
    EXPECT_EQ(Serial(settings, "COM4").BaudRate(), 38400u);
    EXPECT_EQ(LineOf(Record(Serial(settings, "COM4"))).Parity, NOPARITY);
    EXPECT_EQ(Serial(settings, "COM1").BaudRate(), 19200u);

    const struct {
        const char* what;
        std::string record;
        DWORD type;
    } bad[] = {
        {"one byte too many", good + '\0', REG_BINARY},
        {"dwSize above the size", Changed(good, [](COMMCONFIG& c) { c.dwSize = 1000; }),
         REG_BINARY},
        {"dwSize below the size", Changed(good, [](COMMCONFIG& c) { c.dwSize = 48; }), REG_BINARY},
        {"provider data outside", Changed(good, [](COMMCONFIG& c) { c.dwProviderSize = 100; }),
         REG_BINARY},
        {"not binary", good, REG_SZ},
    };
    for (const auto& b : bad) {
        SCOPED_TRACE(b.what);
        store("COM2", Changed(b.record, [](COMMCONFIG& c) { c.dcb.BaudRate = 600; }), b.type);
        settings.Load();
        EXPECT_EQ(NamesOf(settings).back(), "COM2");
        EXPECT_EQ(Serial(settings, "COM2").BaudRate(), 19200u);
    }
    store("COM2", Changed(good, [](COMMCONFIG& c) { c.dcb.BaudRate = 600; }));
    settings.Load();
    EXPECT_THAT(NamesOf(settings), ElementsAre("COM2", "COM4", "TCP/IP", "COM1"));
    EXPECT_EQ(Serial(settings, "COM2").BaudRate(), 600u);
}

TEST_F(RegistrySettings, OnlyTheFirstOlderKeyIsMigratedAndOnlyWhole)
{
    const std::string older = store_.productKey + "\\1.9", newer = store_.productKey + "\\2.0";
    WriteRaw(older, "Stray", REG_DWORD, Dword(1));
    WriteRaw(older + "\\Connection", "Max Retries", REG_DWORD, Dword(9));
    WriteRaw(older + "\\Connection\\TCP/IP", "Address", REG_SZ, "10.1.9.1\0"s);
    WriteRaw(older + "\\Logging", "Enabled", REG_DWORD, Dword(1));
    WriteRaw(newer + "\\Connection", "Max Retries", REG_DWORD, Dword(20));
    SharedSection().firstRunShown = 0;
    ConnectionSettings settings(store_);

    // Part of the old key cannot be read: nothing is half copied, and the old key stays.
    SetAccess(older + "\\Connection\\TCP/IP", kNobody);
    EXPECT_THAT(messages_.During([&] { EXPECT_FALSE(settings.Load()); }, 300), ElementsAre());
    EXPECT_FALSE(ReadRaw(Key("Connection"), "Max Retries"));
    EXPECT_TRUE(ReadRaw(older, "Stray"));
    SetAccess(older + "\\Connection\\TCP/IP", kAllMayWrite);

    for (int load = 0; load < 2; ++load) {
        EXPECT_THAT(messages_.During([&] { EXPECT_TRUE(settings.Load()); }, 300), ElementsAre());
        EXPECT_EQ(settings.MaxRetries(), 9u);
        EXPECT_EQ(Tcp(settings).Address(), "10.1.9.1");
        EXPECT_TRUE(settings.LoggingEnabled());
        EXPECT_FALSE(ReadRaw(older, "Stray"));
        EXPECT_FALSE(ReadRaw(Key(), "Stray"));
        EXPECT_EQ(ReadRaw(newer + "\\Connection", "Max Retries"),
                  (RawValue {REG_DWORD, Dword(20)}));
    }
    EXPECT_EQ(SharedSection().firstRunShown, 0u);
}

TEST_F(RegistrySettings, SavingWithoutWriteAccessChangesNothing)
{
    ConnectionSettings settings(store_);
    settings.Load();
    ASSERT_TRUE(settings.Save());
    EXPECT_TRUE(CanWriteSettings(store_));
    EXPECT_FALSE(ReadRaw(Key(), "WriteTest"));

    ASSERT_TRUE(settings.SetMaxRetries(3));
    const uint32_t shared = SharedSection().settingsStamp, own = settings.Stamp();
    SetAccess(Key(), kAllMayRead);
    EXPECT_FALSE(CanWriteSettings(store_));
    EXPECT_THAT(messages_.During([&] { EXPECT_FALSE(settings.Save()); }),
                Contains(Text(IDS_SETTINGS_READ_ONLY)));
    EXPECT_EQ(messages_.caption, "Drovemark");
    SetAccess(Key(), kAllMayWrite);
    EXPECT_EQ(SharedSection().settingsStamp, shared);
    EXPECT_EQ(settings.Stamp(), own);
    EXPECT_EQ(ReadRaw(Key("Connection"), "Max Retries"), (RawValue {REG_DWORD, Dword(50)}));

    // Any other failure shows its error code.
    SettingsStore nowhere = store_;
    nowhere.root = reinterpret_cast<HKEY>(uintptr_t(0x1234));
    ConnectionSettings lost(nowhere);
    EXPECT_THAT(messages_.During([&] { EXPECT_FALSE(lost.Save()); }),
                Contains(Text(IDS_ERROR_CODE_UNKNOWN, unsigned(ERROR_INVALID_HANDLE))));
    EXPECT_EQ(SharedSection().settingsStamp, shared);
}

TEST_F(RegistrySettings, AFailedEntryWritePutsBackTheStoredSettingsAndLeavesTheLogUnwritten)
{
    ConnectionSettings settings(store_);
    settings.Load();
    ASSERT_TRUE(settings.SetLogPath("C:\\old.log") && settings.Save());
    settings.SetLoggingEnabled(true);
    ASSERT_TRUE(settings.SetLogPath("C:\\new.log") && settings.SetMaxRetries(11));
    Tcp(settings).SetPort(2001);
    Serial(settings, "COM2").SetBaudRate(38400);
    const uint32_t before = SharedSection().settingsStamp;

    SetAccess(Key("Connection\\COM1"), kAllMayRead);
    EXPECT_THAT(messages_.During([&] { EXPECT_FALSE(settings.Save()); }, 300), ElementsAre());
    SetAccess(Key("Connection\\COM1"), kAllMayWrite);
    // What the other entries had written is put back: no process loads a half-saved mix...
    EXPECT_EQ(ReadRaw(Key("Connection"), "Max Retries"), (RawValue {REG_DWORD, Dword(50)}));
    EXPECT_EQ(ReadRaw(Key("Connection\\TCP/IP"), "Port"), (RawValue {REG_DWORD, Dword(356)}));
    EXPECT_NE(LineOf(ReadRaw(Key("Connection\\COM2"), "Configuration Data")->bytes).BaudRate,
              38400u);
    // ...nor the log settings, neither here nor for the other processes,
    EXPECT_EQ(ReadRaw(Key("Logging"), nullptr), (RawValue {REG_SZ, "C:\\old.log\0"s}));
    EXPECT_EQ(ReadRaw(Key("Logging"), "Enabled"), (RawValue {REG_DWORD, Dword(0)}));
    EXPECT_STREQ(SharedSection().logPath, "C:\\old.log");
    EXPECT_EQ(SharedSection().loggingEnabled, 0u);
    // ...which reload once more and find what was there before.
    EXPECT_NE(SharedSection().settingsStamp, before);
}

}  // namespace
}  // namespace dm
