// A link over a non-blocking POSIX descriptor (a socket, a pseudo-terminal or a serial device),
// with the shared time-out rule and an optional pace that makes a fast line behave like a
// serial one.
#pragma once

#include "link/link.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string_view>

namespace dm::peer {

class FdLink : public Link {
public:
    // With `owned`, the descriptor is closed with the link. It is switched to non-blocking.
    FdLink(int fd, bool owned, LinkKind kind, std::string_view name);
    ~FdLink() override;

    HRESULT Open() override;
    HRESULT Close() override;
    HRESULT Read(void* buffer, uint32_t count, int32_t hint) override;
    HRESULT Write(const void* buffer, uint32_t count, int32_t hint) override;
    HRESULT Discard() override;
    bool GetHandshakeKey(uint32_t& key) override;

    void SetTimeouts(uint32_t minTimeoutMs, float msPerByte)
    {
        SetTimeoutBasis(minTimeoutMs, msPerByte);
    }
    // At most this many bytes a second in each direction; 0 for no limit.
    void SetPace(uint32_t bytesPerSecond) { pace_ = bytesPerSecond; }
    // How long the line must stay quiet before Discard stops.
    void SetDiscardQuietMs(uint32_t ms) { quietMs_ = ms; }
    void SetHandshakeKey(uint32_t key)
    {
        key_ = key;
        hasKey_ = true;
    }
    // Besides a hang-up of the descriptor itself: when `signal` becomes readable, `left` says
    // whether the peer has gone (a client that closes and reopens a line leaves no hang-up).
    void WatchForDeparture(int signal, std::function<bool()> left)
    {
        watch_ = signal;
        left_ = std::move(left);
    }
    // The other end has closed (or hung up): reads and writes fail at once from now on.
    bool PeerGone() const { return gone_; }

protected:
    // Sockets write with MSG_NOSIGNAL, so that a closed peer cannot raise SIGPIPE.
    void UseSocketWrites() { socket_ = true; }

private:
    using Clock = std::chrono::steady_clock;
    size_t PaceChunk() const;
    void Pace(Clock::time_point& clock, size_t bytes);
    long WriteSome(const uint8_t* data, size_t size);
    // 1: ready (or worth another try), 0: time-out, -1: the peer has gone.
    int WaitFor(short events, int timeoutMs);

    int fd_;
    bool owned_;
    int watch_ = -1;
    std::function<bool()> left_;
    bool open_ = false;
    bool gone_ = false;
    bool socket_ = false;
    bool hasKey_ = false;
    uint32_t key_ = 0;
    uint32_t pace_ = 0;
    uint32_t quietMs_ = 50;
    Clock::time_point readClock_ {}, writeClock_ {};
    std::array<uint8_t, 4096> readAhead_ {};
    size_t ahead_ = 0;  // the next unread byte of readAhead_
    size_t got_ = 0;    // its end
};

}  // namespace dm::peer
