// Two processes of this program: the shared section and the connection lock.
#include "protocol/registry_support.h"
#include "resources/string_ids.h"

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

}  // namespace
}  // namespace dm
