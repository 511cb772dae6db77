// How many objects of this module are alive and how many locks the shell holds on it: the
// module may be unloaded only when both are zero. Objects are made and released on several
// threads (progress windows, workers, property sheets), so the counts are atomic.
#pragma once

#include <atomic>

namespace dm {

class ModuleCounts {
public:
    static void EnterObject() { objects_.fetch_add(1); }
    static void LeaveObject() { objects_.fetch_sub(1); }
    static long Objects() { return objects_.load(); }

    static void Lock() { locks_.fetch_add(1); }
    static void Unlock() { locks_.fetch_sub(1); }
    static long Locks() { return locks_.load(); }

private:
    static inline std::atomic<long> objects_ {0};
    static inline std::atomic<long> locks_ {0};
};

// A member that counts its owner as a live object for exactly the owner's lifetime.
class LiveObject {
public:
    LiveObject() { ModuleCounts::EnterObject(); }
    ~LiveObject() { ModuleCounts::LeaveObject(); }
    LiveObject(const LiveObject&) = delete;
    LiveObject& operator=(const LiveObject&) = delete;
};

}  // namespace dm
