#include "link/memory_link.h"

#include "core/diag_log.h"
#include "resources/string_ids.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>

namespace dm {

struct MemoryLink::Pipe {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<uint8_t> bytes;
    bool writerOpen = false;
};

MemoryLink::MemoryLink(std::string_view name, std::shared_ptr<Pipe> in, std::shared_ptr<Pipe> out)
    : Link(LinkKind::None, name), in_(std::move(in)), out_(std::move(out))
{
    SetTimeoutBasis(5000, 1.0416666f);
}

MemoryLink::~MemoryLink()
{
    Close();
}

HRESULT MemoryLink::Open()
{
    if (open_)
        return S_OK;
    std::lock_guard lock(out_->mutex);
    out_->writerOpen = true;
    open_ = true;
    NoteOpened();
    return S_OK;
}

HRESULT MemoryLink::Close()
{
    if (!open_)
        return E_FAIL;
    open_ = false;
    {
        std::lock_guard lock(out_->mutex);
        out_->writerOpen = false;
    }
    out_->changed.notify_all();
    return S_OK;
}

HRESULT MemoryLink::Read(void* buffer, uint32_t count, int32_t hint)
{
    if (!open_) {
        SetPendingError(IDS_ERR_READ_CLOSED);
        return E_FAIL;
    }
    const std::optional<uint32_t> timeout = TimeoutMs(count, hint);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout.value_or(0));
    auto* out = static_cast<uint8_t*>(buffer);
    uint32_t done = 0;
    std::unique_lock lock(in_->mutex);
    while (done < count) {
        while (!in_->bytes.empty() && done < count) {
            out[done++] = in_->bytes.front();
            in_->bytes.pop_front();
        }
        if (done == count)
            break;
        // A peer that has gone away fails the read at once, as a broken connection does.
        if (!in_->writerOpen)
            break;
        if (!timeout)
            in_->changed.wait(lock);
        else if (in_->changed.wait_until(lock, deadline) == std::cv_status::timeout &&
                 in_->bytes.empty())
            break;
    }
    lock.unlock();
    if (LogEnabled())
        LogHexDump("< ", buffer, int32_t(done));
    if (done < count) {
        SetPendingError(IDS_ERR_COM_READ);
        return E_FAIL;
    }
    return S_OK;
}

HRESULT MemoryLink::Write(const void* buffer, uint32_t count, int32_t)
{
    if (!open_) {
        SetPendingError(IDS_ERR_WRITE_CLOSED);
        return E_FAIL;
    }
    std::string bytes(static_cast<const char*>(buffer), count);
    if (LogEnabled())
        LogHexDump("> ", buffer, int32_t(count));
    WriteFilter filter;
    uint64_t index;
    {
        std::lock_guard lock(mutex_);
        if (recording_)
            recorded_.push_back(bytes);
        index = writes_++;
        filter = filter_;
    }
    if (filter)
        filter(bytes, index);
    {
        std::lock_guard lock(out_->mutex);
        out_->bytes.insert(out_->bytes.end(), bytes.begin(), bytes.end());
    }
    out_->changed.notify_all();
    return S_OK;
}

HRESULT MemoryLink::Discard()
{
    if (!open_)
        return S_OK;
    std::unique_lock lock(in_->mutex);
    while (true) {
        in_->changed.wait_for(lock, std::chrono::milliseconds(discardWaitMs_),
                              [this] { return !in_->bytes.empty(); });
        if (in_->bytes.empty())
            return S_OK;
        std::string chunk;
        while (!in_->bytes.empty() && chunk.size() < 256) {
            chunk += char(in_->bytes.front());
            in_->bytes.pop_front();
        }
        if (LogEnabled()) {
            LogLine("DISCARDING UNEXPECTED DATA\n");
            LogHexDump("! ", chunk.data(), int32_t(chunk.size()));
        }
    }
}

HRESULT MemoryLink::DiscardArrived()
{
    if (!open_)
        return S_FALSE;
    std::string arrived;
    {
        std::lock_guard lock(in_->mutex);
        arrived.assign(in_->bytes.begin(), in_->bytes.end());
        in_->bytes.clear();
    }
    if (arrived.empty())
        return S_FALSE;
    if (LogEnabled()) {
        LogLine("DISCARDING UNEXPECTED DATA\n");
        LogHexDump("! ", arrived.data(), int32_t(arrived.size()));
    }
    return S_OK;
}

bool MemoryLink::GetHandshakeKey(uint32_t& key)
{
    if (!key_)
        return false;
    key = *key_;
    return true;
}

void MemoryLink::SetWriteFilter(WriteFilter filter)
{
    std::lock_guard lock(mutex_);
    filter_ = std::move(filter);
}

void MemoryLink::RecordWrites(bool on)
{
    std::lock_guard lock(mutex_);
    recording_ = on;
}

std::vector<std::string> MemoryLink::TakeRecordedWrites()
{
    std::lock_guard lock(mutex_);
    return std::exchange(recorded_, {});
}

uint64_t MemoryLink::WriteCount() const
{
    std::lock_guard lock(mutex_);
    return writes_;
}

std::pair<std::unique_ptr<MemoryLink>, std::unique_ptr<MemoryLink>> MakeMemoryLinkPair(
    std::string_view firstName, std::string_view secondName)
{
    auto forward = std::make_shared<MemoryLink::Pipe>();
    auto backward = std::make_shared<MemoryLink::Pipe>();
    return {std::unique_ptr<MemoryLink>(new MemoryLink(firstName, backward, forward)),
            std::unique_ptr<MemoryLink>(new MemoryLink(secondName, forward, backward))};
}

}  // namespace dm
