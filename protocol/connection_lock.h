// The connection lock: one holder at a time across threads and processes, re-entrant for the
// holding thread. A named mutex on Windows; elsewhere an flock on a lock file, with the
// in-process side (other threads, re-entry) kept here.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#ifndef _WIN32
#  include <condition_variable>
#endif

namespace dm {

class ConnectionLock {
public:
    // A mutex name on Windows, a lock file path elsewhere.
    explicit ConnectionLock(std::string name);
    ~ConnectionLock();
    ConnectionLock(const ConnectionLock&) = delete;
    ConnectionLock& operator=(const ConnectionLock&) = delete;

    // Creates (or opens) the mutex or the lock file. False when that cannot be done.
    bool Create();
    // Waits at most `timeoutMs`; at once for the holding thread. A holder that died without
    // letting go leaves the lock to the next one.
    bool Acquire(uint32_t timeoutMs);
    // Ends one Acquire of the calling thread; ignored from any other thread.
    void Release();
    bool HeldByThisThread() const;

private:
    std::string name_;
    // Who holds the lock in this process, and how often it acquired it.
    mutable std::mutex state_;
    std::thread::id owner_;
    uint32_t depth_ = 0;
#ifdef _WIN32
    void* mutex_ = nullptr;
#else
    int fd_ = -1;
    std::condition_variable released_;
#endif
};

// "DrovemarkConnMutex" on Windows; elsewhere drovemark.lock in $XDG_RUNTIME_DIR, or
// drovemark-<uid>.lock in the temporary folder.
std::string DefaultConnectionLockName();

}  // namespace dm
