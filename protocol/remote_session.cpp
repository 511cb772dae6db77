#include "protocol/remote_session.h"

#include "core/diag_log.h"
#include "core/messages.h"
#include "core/module.h"
#include "resources/string_ids.h"

#include <cstdio>
#include <new>
#include <utility>

namespace dm {

namespace {

// A mutex that cannot be made means no memory; a lock file that cannot be opened is somebody
// else's or in an unusable folder.
#ifdef _WIN32
constexpr UINT kNoLockMessage = IDS_SRVERR_NO_MEMORY;
#else
constexpr UINT kNoLockMessage = IDS_ERR_CONN_CONFLICT;
#endif

bool LoadMachineSettings(ConnectionSettings& settings)
{
#ifdef _WIN32
    return settings.Load();
#else
    return settings.LoadProfile(ConnectionProfile {});
#endif
}

void ShowDefault(UINT id, const std::string& insert)
{
#ifdef _WIN32
    MessageBoxById(nullptr, id, IDS_CAPTION_ERROR, MB_ICONHAND, ThisModule(), {insert});
#else
    std::string text =
        FormatStringById(id, ThisModule(), {insert}).value_or("message " + std::to_string(id));
    for (size_t at; (at = text.find('\r')) != std::string::npos;)
        text.erase(at, 1);
    std::fprintf(stderr, "drovemark: %s\n", text.c_str());
#endif
}

}  // namespace

RemoteSession::RemoteSession() : RemoteSession(Config {}) {}

RemoteSession::RemoteSession(Config config) : config_(std::move(config)) {}

RemoteSession::~RemoteSession()
{
    std::lock_guard<std::mutex> guard(state_);
    DropCurrent();
}

RemoteSession& RemoteSession::Process()
{
    static RemoteSession session;
    return session;
}

bool RemoteSession::Configure(Config config)
{
    std::lock_guard<std::mutex> guard(state_);
    if (useCount_ > 0)
        return false;
    config_ = std::move(config);
    lock_.reset();
    settings_.reset();
    return true;
}

void RemoteSession::AddRef()
{
    std::lock_guard<std::mutex> guard(state_);
    ++useCount_;
}

void RemoteSession::Release()
{
    std::lock_guard<std::mutex> guard(state_);
    if (useCount_ == 0 || --useCount_ > 0)
        return;
    DropCurrent();
    openCount_ = 0;
    keepOpenCount_ = 0;
    holds_.clear();
    lock_.reset();
    settings_.reset();
}

PacketChannel* RemoteSession::Open(bool openLink)
{
    ConnectionLock* lock = nullptr;
    {
        std::lock_guard<std::mutex> guard(state_);
        if (!lock_) {
            try {
                auto made = std::make_unique<ConnectionLock>(config_.lockName);
                if (made->Create())
                    lock_ = std::move(made);
            } catch (const std::bad_alloc&) {
            }
        }
        lock = lock_.get();
    }
    if (!lock) {
        Show(kNoLockMessage);
        return nullptr;
    }
    if (!lock->Acquire(config_.lockWaitMs)) {
        Show(IDS_ERR_CONN_CONFLICT);
        return nullptr;
    }

    // Only the holder of the lock gets here, so the record is ours to reload. Never while an
    // operation of this thread is under way, though: its link must outlive it.
    bool load = false, failed = false;
    {
        std::lock_guard<std::mutex> guard(state_);
        if (openCount_ == 0) {
            if (!settings_) {
                try {
                    settings_ = std::make_unique<ConnectionSettings>();
                    load = true;
                } catch (const std::bad_alloc&) {
                    failed = true;
                }
            } else if (!settings_->IsCurrent()) {
                DropCurrent();
                load = true;
            }
        }
    }
    if (failed) {
        lock->Release();
        Show(IDS_SRVERR_NO_MEMORY);
        return nullptr;
    }
    if (load) {
        if (config_.load)
            config_.load(*settings_);
        else
            LoadMachineSettings(*settings_);
        if (LogEnabled())
            settings_->WriteBanner();
    }

    UINT message = 0;
    std::string insert;
    {
        std::lock_guard<std::mutex> guard(state_);
        PacketChannel* named = settings_ ? settings_->CurrentConnection() : nullptr;
        if (!openLink) {
            if (named) {
                holds_.push_back(false);
                return named;
            }
            message = IDS_SRVERR_UNSPECIFIED;
        } else if (openCount_ != 0) {
            // The same thread again, inside its own operation.
            message = IDS_ERR_CONN_CONFLICT;
        } else {
            if (!current_) {
                if (!named) {
                    message = IDS_SRVERR_UNSPECIFIED;
                } else if (FAILED(named->Open())) {
                    Link& link = named->GetLink();
                    message = link.PendingErrorId() ? link.PendingErrorId()
                                                    : UINT(IDS_SRVERR_UNSPECIFIED);
                    insert = link.ErrorInsert() ? link.ErrorInsert() : "";
                    link.ClearPendingError();
                } else {
                    current_ = named;
                }
            }
            if (message == 0) {
                holds_.push_back(true);
                ++openCount_;
                return current_;
            }
        }
    }
    lock->Release();
    Show(message, insert);
    return nullptr;
}

void RemoteSession::Close()
{
    ConnectionLock* lock = nullptr;
    {
        std::lock_guard<std::mutex> guard(state_);
        // A Close without an Open of this thread has nothing to end.
        if (!lock_ || !lock_->HeldByThisThread() || holds_.empty())
            return;
        lock = lock_.get();
        const bool counted = holds_.back();
        holds_.pop_back();
        if (counted && openCount_ > 0 && --openCount_ == 0 && keepOpenCount_ == 0)
            DropCurrent();
    }
    lock->Release();
}

void RemoteSession::KeepOpen()
{
    std::lock_guard<std::mutex> guard(state_);
    ++keepOpenCount_;
}

void RemoteSession::EndKeepOpen()
{
    std::lock_guard<std::mutex> guard(state_);
    if (keepOpenCount_ == 0)
        return;
    if (--keepOpenCount_ == 0 && openCount_ == 0)
        DropCurrent();
}

uint32_t RemoteSession::UseCount() const
{
    std::lock_guard<std::mutex> guard(state_);
    return useCount_;
}

uint32_t RemoteSession::OpenCount() const
{
    std::lock_guard<std::mutex> guard(state_);
    return openCount_;
}

bool RemoteSession::HasCurrentLink() const
{
    std::lock_guard<std::mutex> guard(state_);
    return current_ != nullptr;
}

uint32_t RemoteSession::KeepOpenCount() const
{
    std::lock_guard<std::mutex> guard(state_);
    return keepOpenCount_;
}

void RemoteSession::Show(UINT id, const std::string& insert) const
{
    if (config_.show)
        config_.show(id, insert);
    else
        ShowDefault(id, insert);
}

void RemoteSession::DropCurrent()
{
    if (current_)
        current_->Close();
    current_ = nullptr;
}

}  // namespace dm
