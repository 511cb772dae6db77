// The lock file that stands in for the named mutex off Windows.
#include "protocol/connection_lock.h"

#include "protocol/session_support.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <future>

namespace dm {
namespace {

using test::ElapsedMs;

// Whether a separate process gets the lock within `ms`.
bool OtherProcessGets(const std::string& name, uint32_t ms)
{
    const pid_t pid = fork();
    if (pid == 0) {
        ConnectionLock mine(name);
        _exit(mine.Create() && mine.Acquire(ms) ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(ConnectionLockFile, ExcludesOtherProcessesAndThreadsAndLetsTheHolderReenter)
{
    test::ScratchFolder folder;
    const std::string name = folder.File("conn.lock");
    ConnectionLock lock(name);
    ASSERT_TRUE(lock.Create());
    ASSERT_TRUE(lock.Acquire(0));
    ASSERT_TRUE(lock.Acquire(0));
    const long long waited = ElapsedMs([&] { EXPECT_FALSE(OtherProcessGets(name, 200)); });
    EXPECT_GE(waited, 190);
    EXPECT_LT(waited, 3000);
    auto otherThread = [&](uint32_t ms) {
        return std::async(std::launch::async, [&lock, ms] {
            const bool got = lock.Acquire(ms);
            lock.Release();
            return got;
        });
    };
    lock.Release();
    EXPECT_FALSE(OtherProcessGets(name, 0));
    EXPECT_FALSE(otherThread(100).get());
    EXPECT_TRUE(lock.HeldByThisThread());  // the other thread's Release was ignored
    auto waiting = otherThread(5000);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    lock.Release();
    EXPECT_TRUE(waiting.get());
    EXPECT_TRUE(OtherProcessGets(name, 0));

    // A process that holds it keeps us waiting until it lets go, not until it ends.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        ConnectionLock mine(name);
        const bool held = mine.Create() && mine.Acquire(0);
        [[maybe_unused]] const ssize_t n = write(ready[1], held ? "y" : "n", 1);
        usleep(400 * 1000);
        mine.Release();
        usleep(500 * 1000);
        _exit(0);
    }
    char answer = 0;
    ASSERT_EQ(read(ready[0], &answer, 1), 1);
    ASSERT_EQ(answer, 'y');
    const long long blocked = ElapsedMs([&] { EXPECT_TRUE(lock.Acquire(5000)); });
    EXPECT_GE(blocked, 200);
    int status = 0;
    EXPECT_EQ(waitpid(holder, &status, WNOHANG), 0);
    lock.Release();
    waitpid(holder, &status, 0);
    close(ready[0]);
    close(ready[1]);
}

TEST(ConnectionLockFile, RefusesAFileThatIsNotAPlainOneOfOurs)
{
    test::ScratchFolder folder;
    test::WriteWholeFile(folder.File("target"), "");
    std::filesystem::create_symlink(folder.File("target"), folder.File("link.lock"));
    EXPECT_FALSE(ConnectionLock(folder.File("link.lock")).Create());
    EXPECT_FALSE(ConnectionLock(folder.Path().string()).Create());
    EXPECT_FALSE(ConnectionLock(folder.File("none/conn.lock")).Create());
    EXPECT_FALSE(ConnectionLock(folder.File("conn.lock")).Acquire(0));  // never created
}

}  // namespace
}  // namespace dm
