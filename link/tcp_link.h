// The link over a TCP stream: Winsock on Windows, POSIX sockets elsewhere. The socket is
// non-blocking once connected; every wait is a readiness wait bounded by the shared time-out rule.
#pragma once

#include "link/link.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace dm {

// Process-wide socket start-up (Winsock 1.1 on Windows). Every Open fails with the "not
// available" message unless StartSockets succeeded and StopSockets has not run since.
bool StartSockets();
void StopSockets();
bool SocketsStarted();

class TcpLink : public Link {
public:
    static constexpr uint32_t kMinTimeoutMs = 5000;
    static constexpr float kMsPerByte = 1.0416666f;  // the serial figure at 19200 baud
    static constexpr size_t kMaxAddressLength = 199;
    static constexpr uint16_t kDefaultPort = 356;
    // Discard gives up after this long even when the peer never stops sending.
    static constexpr uint32_t kDiscardLimitMs = 2000;
    static constexpr uint32_t kDiscardLimitBytes = 64 * 1024;

    // `handshakeKey` is the CRC-32 of the password; `packetSize` sizes the socket buffers.
    explicit TcpLink(uint32_t handshakeKey, uint32_t packetSize = 512);
    ~TcpLink() override;

    HRESULT Open() override;
    HRESULT Close() override;
    HRESULT Read(void* buffer, uint32_t count, int32_t hint) override;
    HRESULT Write(const void* buffer, uint32_t count, int32_t hint) override;
    HRESULT Discard() override;
    HRESULT DiscardArrived() override;
    // A new connection carries nothing of an earlier one.
    bool StartsEmpty() const override { return true; }
    bool GetHandshakeKey(uint32_t& key) override;

    bool IsOpen() const;

    // Changes take effect at the next connection. The address is cut to 199 characters.
    const std::string& Address() const { return address_; }
    void SetAddress(std::string_view address);
    uint16_t Port() const { return port_; }
    void SetPort(uint16_t port) { port_ = port; }
    uint32_t HandshakeKey() const { return handshakeKey_; }
    void SetHandshakeKey(uint32_t key) { handshakeKey_ = key; }
    uint32_t PacketSize() const { return packetSize_; }
    void SetPacketSize(uint32_t packetSize) { packetSize_ = packetSize; }

private:
    struct Direction;
    static const Direction kReceiving;
    static const Direction kSending;
    // Receives into or sends from `bytes` until `count` have moved, the wait runs out or the
    // connection fails.
    HRESULT Transfer(const Direction& way, char* bytes, uint32_t count, int32_t hint);
    // Moves up to `count` read-ahead bytes to `bytes`; how many.
    uint32_t TakeAhead(char* bytes, uint32_t count);
    // Drops the read-ahead as unexpected data; whether there was any.
    bool DropAhead();
    void CloseConnection();

    intptr_t socket_ = -1;  // SOCKET or file descriptor; -1 when closed
    uint32_t packetSize_;
    std::string address_ = "127.0.0.1";
    uint16_t port_ = kDefaultPort;
    uint32_t handshakeKey_;
    // What one receive brought beyond the bytes asked for: a packet's header, data and CRC are
    // read in three pieces, but mostly arrive together.
    std::array<char, 2048> ahead_ {};
    uint32_t aheadAt_ = 0, aheadEnd_ = 0;
};

}  // namespace dm
