#include "protocol/connection_lock.h"

#include "core/diag_log.h"
#include "core/platform.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#ifndef _WIN32
#  include <cerrno>

#  include <fcntl.h>
#  include <sys/file.h>
#  include <sys/stat.h>
#  include <unistd.h>
#endif

namespace dm {

ConnectionLock::ConnectionLock(std::string name) : name_(std::move(name)) {}

bool ConnectionLock::HeldByThisThread() const
{
    std::lock_guard<std::mutex> guard(state_);
    return depth_ > 0 && owner_ == std::this_thread::get_id();
}

#ifdef _WIN32

ConnectionLock::~ConnectionLock()
{
    if (!mutex_)
        return;
    {
        std::lock_guard<std::mutex> guard(state_);
        if (owner_ == std::this_thread::get_id()) {
            for (; depth_ > 0; --depth_)
                ReleaseMutex(mutex_);
        }
    }
    CloseHandle(mutex_);
}

bool ConnectionLock::Create()
{
    if (!mutex_)
        mutex_ = CreateMutexA(nullptr, FALSE, name_.c_str());
    return mutex_ != nullptr;
}

bool ConnectionLock::Acquire(uint32_t timeoutMs)
{
    if (!mutex_)
        return false;
    const DWORD waited = WaitForSingleObject(mutex_, timeoutMs);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED)
        return false;
    // The holder's process ended without letting go: its link went with it, so the lock is
    // simply ours now.
    if (waited == WAIT_ABANDONED && LogEnabled())
        LogLine("CONNECTION LOCK LEFT BY A HOLDER THAT ENDED\n");
    std::lock_guard<std::mutex> guard(state_);
    owner_ = std::this_thread::get_id();
    ++depth_;
    return true;
}

void ConnectionLock::Release()
{
    std::lock_guard<std::mutex> guard(state_);
    if (depth_ == 0 || owner_ != std::this_thread::get_id())
        return;
    if (--depth_ == 0)
        owner_ = {};
    ReleaseMutex(mutex_);
}

std::string DefaultConnectionLockName()
{
    return "DrovemarkConnMutex";
}

#else

ConnectionLock::~ConnectionLock()
{
    // Closing the file lets go of the flock.
    if (fd_ >= 0)
        close(fd_);
}

bool ConnectionLock::Create()
{
    std::lock_guard<std::mutex> guard(state_);
    if (fd_ >= 0)
        return true;
    const int fd = open(name_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    // Somebody else's file, or something other than a plain file, is not our lock.
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid()) {
        close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

bool ConnectionLock::Acquire(uint32_t timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> guard(state_);
    if (fd_ < 0)
        return false;
    if (depth_ > 0 && owner_ == self) {
        ++depth_;
        return true;
    }
    if (!released_.wait_until(guard, deadline, [this] { return depth_ == 0; }))
        return false;
    // Ours within the process; other threads wait above while we wait for other processes.
    owner_ = self;
    depth_ = 1;
    const int fd = fd_;
    guard.unlock();

    bool locked = false;
    for (auto pause = std::chrono::milliseconds(1);;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            locked = true;
            break;
        }
        const int error = errno;
        if (error == EINTR)
            continue;
        const auto now = Clock::now();
        if (error != EWOULDBLOCK || now >= deadline)
            break;
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }

    guard.lock();
    if (!locked) {
        owner_ = {};
        depth_ = 0;
        released_.notify_one();
    }
    return locked;
}

void ConnectionLock::Release()
{
    std::lock_guard<std::mutex> guard(state_);
    if (depth_ == 0 || owner_ != std::this_thread::get_id())
        return;
    if (--depth_ > 0)
        return;
    flock(fd_, LOCK_UN);
    owner_ = {};
    released_.notify_one();
}

std::string DefaultConnectionLockName()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/')
        return std::string(runtime) + "/drovemark.lock";
    const char* temp = std::getenv("TMPDIR");
    const std::string folder = temp && temp[0] == '/' ? temp : "/tmp";
    return folder + "/drovemark-" + std::to_string(geteuid()) + ".lock";
}

#endif

}  // namespace dm
