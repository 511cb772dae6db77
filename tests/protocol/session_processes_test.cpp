// Two processes of this program: the shared section, the connection lock, and settings saved
// by the other process.
#include "protocol/registry_support.h"
#include "resources/string_ids.h"
#include "support/test_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace dm {
namespace {

using namespace test;
using ::testing::Contains;

TEST(SharedSectionAcrossProcesses, EveryProcessOfTheProgramSeesTheSameRecord)
{
    SharedSectionGuard guard;
    ASSERT_TRUE(SectionSharedAcrossProcesses());
    SharedSection().settingsStamp = 4660;
    EXPECT_EQ(ExitCodeOf(StartChild({"stamp", "4660", "22136"})), 0);
    EXPECT_EQ(SharedSection().settingsStamp, 22136u);
}

// Another process that takes the lock, signals, holds it for a while and then closes or ends.
HANDLE StartHolder(const std::string& lock, int holdMs, const char* then)
{
    const std::string readyName = UniqueName("ready");
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, readyName.c_str());
    HANDLE holder = StartChild({"hold", lock, std::to_string(holdMs), readyName, then});
    const bool held = holder && WaitForSingleObject(ready, 10000) == WAIT_OBJECT_0;
    CloseHandle(ready);
    return held ? holder : nullptr;
}

RemoteSession::Config LockOnly(const std::string& lock, uint32_t waitMs)
{
    RemoteSession::Config config;
    config.lockName = lock;
    config.lockWaitMs = waitMs;
    config.load = TcpLoader(1);
    return config;
}

TEST(ConnectionLockAcrossProcesses, TheSecondWaitsForTheFirstsCloseOrGivesUpWithAMessage)
{
    const std::string lock = UniqueName("lock");
    HANDLE holder = StartHolder(lock, 1000, "close");
    ASSERT_TRUE(holder);

    Messages messages;
    RemoteSession impatient(LockOnly(lock, 300));
    impatient.AddRef();
    long long gaveUp = 0;
    EXPECT_THAT(messages.During([&] {
        gaveUp = ElapsedMs([&] { EXPECT_EQ(impatient.Open(false), nullptr); });
    }),
                Contains(Text(IDS_ERR_CONN_CONFLICT)));
    EXPECT_EQ(messages.caption, "Error");
    EXPECT_GE(gaveUp, 290);
    EXPECT_LT(gaveUp, 900);
    impatient.Release();

    RemoteSession patient(LockOnly(lock, 10000));
    patient.AddRef();
    EXPECT_GT(ElapsedMs([&] { EXPECT_NE(patient.Open(false), nullptr); }), 200);
    EXPECT_EQ(WaitForSingleObject(holder, 0), DWORD(WAIT_TIMEOUT));  // let in by Close, not exit
    patient.Close();
    patient.Release();
    EXPECT_EQ(ExitCodeOf(holder), 0);

    // A holder that ends without letting go leaves the lock to the next one.
    holder = StartHolder(lock, 100, "exit");
    ASSERT_TRUE(holder);
    patient.AddRef();
    EXPECT_NE(patient.Open(false), nullptr);
    patient.Close();
    patient.Release();
    EXPECT_EQ(ExitCodeOf(holder), 0);
}

class SettingsAcrossProcesses : public RegistryTest {};

TEST_F(SettingsAcrossProcesses, ASaveElsewhereMeansAReloadWithABannerAndNewSequenceNumbers)
{
    PacketSink amiga;
    ScratchFolder folder;
    const std::string log = folder.File("Drovemark_pc.log");
    {
        ConnectionSettings settings(store_);
        settings.Load();
        ASSERT_TRUE(settings.SetConnectionName("TCP/IP") && settings.SetLogPath(log));
        static_cast<TcpLink&>(settings.CurrentConnection()->GetLink()).SetPort(amiga.Port());
        settings.SetLoggingEnabled(true);
        ASSERT_TRUE(settings.Save());
    }
    RemoteSession::Config config;
    config.lockName = UniqueName("reload");
    config.load = [store = store_](ConnectionSettings& settings) {
        settings.SetStore(store);
        return settings.Load();
    };
    RemoteSession session(config);
    session.AddRef();
    PacketChannel* first = session.Open(true);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->WritePacket(PacketType::Progress), S_OK);
    EXPECT_EQ(first->WritePacket(PacketType::Progress), S_OK);
    EXPECT_EQ(first->SendSequence(), 3);
    session.Close();

    ASSERT_EQ(ExitCodeOf(StartChild({"save", "17"})), 0);
    EXPECT_FALSE(session.Settings()->IsCurrent());
    PacketChannel* second = session.Open(true);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->SendSequence(), 1);
    EXPECT_EQ(second->MaxRetries(), 17u);
    EXPECT_EQ(second->WritePacket(PacketType::Progress), S_OK);
    session.Close();
    session.Release();

    const std::string text = ReadWholeFile(log);
    EXPECT_EQ(Count(text, "DROVEMARK PROPERTIES"), 2u);
    EXPECT_NE(text.find("Connection: TCP/IP (0 baud)\r\nPacketSize: 512\r\nMaxRetries: 50\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("Connection: TCP/IP (0 baud)\r\nPacketSize: 512\r\nMaxRetries: 17\r\n"),
              std::string::npos);
    EXPECT_TRUE(amiga.WaitClosed(2));
    EXPECT_EQ(amiga.opened, 2);
}

}  // namespace
}  // namespace dm
