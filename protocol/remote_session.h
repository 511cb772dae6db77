// The way every remote operation reaches the Amiga: the session owns the settings record (and
// through it every link), opens the link named by the connection setting for an operation and
// closes it afterwards, and holds the connection lock meanwhile, so that only one thread of
// one process talks to the Amiga at a time. Settings saved by any process are picked up at the
// next Open.
//
// Every operation: AddRef, Open(true); if a link came back, the commands, each followed by
// ReportRemoteError, then Close; finally Release. When Open returns null it has shown why and
// holds nothing: the caller only calls Release.
#pragma once

#include "core/platform.h"
#include "protocol/connection_lock.h"
#include "protocol/connection_settings.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace dm {

class RemoteSession {
public:
    static constexpr uint32_t kLockWaitMs = 20000;

    // Fills a record that has just been created or found stale; the result is Load's.
    using SettingsLoader = std::function<bool(ConnectionSettings& settings)>;
    // Shows message `id` with `insert` as its "%1".
    using MessageSink = std::function<void(UINT id, const std::string& insert)>;

    struct Config {
        std::string lockName = DefaultConnectionLockName();
        uint32_t lockWaitMs = kLockWaitMs;
        // Empty: the machine's settings (the registry on Windows, the defaults elsewhere).
        SettingsLoader load;
        // Empty: a box with caption "Error" and a hand icon on Windows, standard error elsewhere.
        MessageSink show;
    };

    RemoteSession();
    explicit RemoteSession(Config config);
    ~RemoteSession();
    RemoteSession(const RemoteSession&) = delete;
    RemoteSession& operator=(const RemoteSession&) = delete;

    // The session of this process.
    static RemoteSession& Process();
    // Takes another configuration; refused while the session has users.
    bool Configure(Config config);

    void AddRef();
    // The last user closes the link and drops the lock handle and the settings.
    void Release();
    // The link named by the connection setting, opened when `openLink`, with the connection
    // lock held until Close; null (nothing held) after showing why not.
    PacketChannel* Open(bool openLink = true);
    // Ends one Open: closes the link unless it is in use or kept open, releases the lock once.
    void Close();
    // Bracket a batch of operations that should share one opening of the link.
    void KeepOpen();
    void EndKeepOpen();

    uint32_t UseCount() const;
    uint32_t OpenCount() const;
    uint32_t KeepOpenCount() const;
    // Whether a link is open now, for an operation under way or kept open between operations.
    bool HasCurrentLink() const;
    // The record in use, or null before the first Open and after the last Release. Only for
    // the holder of the lock.
    ConnectionSettings* Settings() const { return settings_.get(); }

private:
    void Show(UINT id, const std::string& insert = {}) const;
    // Closes the current link, if any, and forgets it. Needs `state_`.
    void DropCurrent();

    Config config_;
    // Counts and the current link, against other threads of this process; the connection lock
    // keeps out other processes and is never waited for while this is held.
    mutable std::mutex state_;
    uint32_t useCount_ = 0;
    uint32_t openCount_ = 0;
    uint32_t keepOpenCount_ = 0;
    // One entry per Open not yet closed, innermost last: whether it counted as an open of the
    // link (Open(false) does not), so that each Close undoes exactly its own Open.
    std::vector<bool> holds_;
    std::unique_ptr<ConnectionLock> lock_;
    std::unique_ptr<ConnectionSettings> settings_;
    PacketChannel* current_ = nullptr;  // owned by settings_
};

}  // namespace dm
