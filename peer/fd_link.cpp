#include "peer/fd_link.h"

#include "core/diag_log.h"
#include "resources/string_ids.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>
#include <vector>

namespace dm::peer {

namespace {

constexpr uint32_t kDiscardLimitMs = 2000;

// Milliseconds left until `deadline`, as poll takes them; -1 waits without limit.
int PollWait(const std::optional<std::chrono::steady_clock::time_point>& deadline)
{
    if (!deadline)
        return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          *deadline - std::chrono::steady_clock::now())
                          .count();
    return int(std::clamp<long long>(left, 0, INT_MAX));
}

}  // namespace

FdLink::FdLink(int fd, bool owned, LinkKind kind, std::string_view name)
    : Link(kind, name), fd_(fd), owned_(owned)
{
    if (fd_ >= 0) {
        const int flags = fcntl(fd_, F_GETFL);
        if (flags >= 0)
            fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
    }
    SetTimeoutBasis(5000, 1.0416666f);
}

FdLink::~FdLink()
{
    Close();
    if (owned_ && fd_ >= 0)
        ::close(fd_);
}

HRESULT FdLink::Open()
{
    if (fd_ < 0)
        return E_FAIL;
    open_ = true;
    return S_OK;
}

HRESULT FdLink::Close()
{
    if (!open_)
        return E_FAIL;
    open_ = false;
    if (owned_ && fd_ >= 0 && socket_)
        shutdown(fd_, SHUT_RDWR);
    return S_OK;
}

size_t FdLink::PaceChunk() const
{
    // About ten milliseconds of the line at a time.
    return pace_ == 0 ? SIZE_MAX : std::max<size_t>(1, pace_ / 100);
}

void FdLink::Pace(Clock::time_point& clock, size_t bytes)
{
    if (pace_ == 0)
        return;
    const auto now = Clock::now();
    clock = std::max(clock, now) + std::chrono::microseconds(uint64_t(bytes) * 1000000 / pace_);
    // Waiting on the descriptor rather than sleeping notices a hang-up at once, before a new
    // client can open the line and be taken for the old one.
    for (int wait = PollWait(clock); !gone_ && wait > 0; wait = PollWait(clock))
        WaitFor(0, wait);
}

int FdLink::WaitFor(short events, int timeoutMs)
{
    pollfd waits[2] = {{fd_, events, 0}, {watch_, POLLIN, 0}};
    const int ready = poll(waits, watch_ >= 0 ? 2 : 1, timeoutMs);
    if (ready < 0 && errno == EINTR)
        return 1;
    if (ready < 0 || (watch_ >= 0 && (waits[1].revents & POLLIN) && left_ && left_()) ||
        (!(waits[0].revents & events) && (waits[0].revents & (POLLHUP | POLLERR | POLLNVAL)))) {
        gone_ = true;
        return -1;
    }
    return ready == 0 ? 0 : 1;
}

HRESULT FdLink::Read(void* buffer, uint32_t count, int32_t hint)
{
    if (!open_ || gone_) {
        SetPendingError(IDS_ERR_READ_CLOSED);
        return E_FAIL;
    }
    const std::optional<uint32_t> timeout = TimeoutMs(count, hint);
    std::optional<Clock::time_point> deadline;
    if (timeout)
        deadline = Clock::now() + std::chrono::milliseconds(*timeout);
    auto* out = static_cast<uint8_t*>(buffer);
    uint32_t done = 0;
    bool timedOut = false;
    while (done < count && !gone_ && !timedOut) {
        if (ahead_ < got_) {
            const size_t take = std::min<size_t>(count - done, got_ - ahead_);
            std::memcpy(out + done, readAhead_.data() + ahead_, take);
            ahead_ += take;
            done += uint32_t(take);
            continue;
        }
        // Unpaced, a packet's header, data and check come from one system call rather than
        // one each.
        ssize_t got;
        if (pace_ == 0) {
            got = ::read(fd_, readAhead_.data(), readAhead_.size());
            if (got > 0) {
                ahead_ = 0;
                got_ = size_t(got);
                continue;
            }
        } else {
            const size_t want = std::min<size_t>(count - done, PaceChunk());
            got = ::read(fd_, out + done, want);
            if (got > 0) {
                done += uint32_t(got);
                Pace(readClock_, size_t(got));
                continue;
            }
        }
        if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            gone_ = true;  // end of stream, or EIO from a pseudo-terminal nobody holds
            break;
        }
        if (errno == EINTR)
            continue;
        if (WaitFor(POLLIN, PollWait(deadline)) == 0)
            timedOut = true;
    }
    if (LogEnabled())
        LogHexDump("< ", buffer, int32_t(done));
    if (done < count) {
        SetPendingError(gone_ ? IDS_ERR_READ_CLOSED : IDS_ERR_TCP_READ_TIMEOUT);
        return E_FAIL;
    }
    return S_OK;
}

long FdLink::WriteSome(const uint8_t* data, size_t size)
{
    if (socket_)
        return long(send(fd_, data, size, MSG_NOSIGNAL));
    return long(::write(fd_, data, size));
}

HRESULT FdLink::Write(const void* buffer, uint32_t count, int32_t hint)
{
    if (!open_ || gone_) {
        SetPendingError(IDS_ERR_WRITE_CLOSED);
        return E_FAIL;
    }
    if (LogEnabled())
        LogHexDump("> ", buffer, int32_t(count));
    const std::optional<uint32_t> timeout = TimeoutMs(count, hint);
    std::optional<Clock::time_point> deadline;
    if (timeout)
        deadline = Clock::now() + std::chrono::milliseconds(*timeout);
    const auto* in = static_cast<const uint8_t*>(buffer);
    uint32_t done = 0;
    while (done < count && !gone_) {
        const size_t want = std::min<size_t>(count - done, PaceChunk());
        const long put = WriteSome(in + done, want);
        if (put > 0) {
            done += uint32_t(put);
            Pace(writeClock_, size_t(put));
            continue;
        }
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            gone_ = true;
            break;
        }
        if (WaitFor(POLLOUT, PollWait(deadline)) <= 0)
            break;
    }
    if (done < count) {
        SetPendingError(gone_ ? IDS_ERR_WRITE_CLOSED : IDS_ERR_TCP_WRITE_TIMEOUT);
        return E_FAIL;
    }
    return S_OK;
}

HRESULT FdLink::Discard()
{
    if (!open_ || gone_)
        return S_OK;
    const auto giveUp = Clock::now() + std::chrono::milliseconds(kDiscardLimitMs);
    const int quiet = int(std::max<uint32_t>(quietMs_, pace_ ? 4000 / pace_ + 1 : 0));
    std::vector<uint8_t> dropped(readAhead_.begin() + ptrdiff_t(ahead_),
                                 readAhead_.begin() + ptrdiff_t(got_));
    ahead_ = got_ = 0;
    while (Clock::now() < giveUp) {
        pollfd wait {fd_, POLLIN, 0};
        const int ready = poll(&wait, 1, quiet);
        if (ready <= 0 || !(wait.revents & POLLIN))
            break;
        uint8_t chunk[256];
        const ssize_t got = ::read(fd_, chunk, sizeof chunk);
        if (got <= 0)
            break;
        dropped.insert(dropped.end(), chunk, chunk + got);
    }
    if (!dropped.empty() && LogEnabled()) {
        LogLine("DISCARDING UNEXPECTED DATA\n");
        LogHexDump("! ", dropped.data(), int32_t(dropped.size()));
    }
    return S_OK;
}

bool FdLink::GetHandshakeKey(uint32_t& key)
{
    key = key_;
    return hasKey_;
}

}  // namespace dm::peer
