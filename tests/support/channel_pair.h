// A PC-side and an Amiga-side packet channel joined by memory links, each with its own
// identification state, and a thread to run the Amiga side's half of an exchange.
#pragma once

#include "core/crc32.h"
#include "core/shared_settings_section.h"
#include "link/memory_link.h"
#include "protocol/byte_order.h"
#include "protocol/packet_channel.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace dm::test {

// DROVEMARK_TEST_LOG=file traces both sides of every exchange, for debugging a test.
inline void TraceToTestLog()
{
    if (const char* log = std::getenv("DROVEMARK_TEST_LOG")) {
        std::snprintf(SharedSection().logPath, sizeof SharedSection().logPath, "%s", log);
        SharedSection().loggingEnabled = 1;
    }
}

inline std::string BigEndian32(uint32_t value)
{
    uint8_t bytes[4];
    PutBigEndian32(bytes, value);
    return std::string(reinterpret_cast<char*>(bytes), 4);
}

struct ChannelPair {
    explicit ChannelPair(uint32_t packetSize = 512, uint32_t maxRetries = 50)
    {
        auto [a, b] = MakeMemoryLinkPair("PC", "Amiga");
        pcLink = a.get();
        amigaLink = b.get();
        pc = std::make_unique<PacketChannel>(std::move(a), packetSize, maxRetries, pcState);
        amiga = std::make_unique<PacketChannel>(std::move(b), packetSize, maxRetries, amigaState);
        // Short waits keep lost-byte cases fast; the PC waits longer than the Amiga side so
        // that the side that must notice a loss first does.
        SetTimeouts(400, 150);
        TraceToTestLog();
        pc->Open();
        amiga->Open();
    }

    void SetTimeouts(uint32_t pcMs, uint32_t amigaMs)
    {
        pcLink->SetTimeouts(pcMs, 0.001f);
        amigaLink->SetTimeouts(amigaMs, 0.001f);
        pcLink->SetDiscardWaitMs(20);
        amigaLink->SetDiscardWaitMs(20);
    }

    HandshakeState pcState, amigaState;
    MemoryLink* pcLink;
    MemoryLink* amigaLink;
    std::unique_ptr<PacketChannel> pc;
    std::unique_ptr<PacketChannel> amiga;
};

// Runs the Amiga side on its own thread for the lifetime of the object.
class PeerThread {
public:
    explicit PeerThread(std::function<void()> body) : thread_(std::move(body)) {}
    ~PeerThread() { thread_.join(); }
    PeerThread(const PeerThread&) = delete;
    PeerThread& operator=(const PeerThread&) = delete;

private:
    std::thread thread_;
};

// One received packet, as the tests compare them.
struct Received {
    PacketType type = PacketType::Ok;
    std::string data;
    HRESULT result = E_FAIL;
};

inline Received ReadOne(PacketChannel& channel, int32_t hint = 0)
{
    Received r;
    std::vector<uint8_t> data;
    uint16_t delivered = 0;
    r.result = channel.ReadPacket(r.type, nullptr, 0, delivered, &data, hint);
    r.data.assign(data.begin(), data.end());
    return r;
}

inline HRESULT Send(PacketChannel& channel, PacketType type, const std::string& data = {})
{
    return channel.WritePacket(type, data.data(), uint16_t(data.size()));
}

// Packet bytes as a peer writes them.
inline std::string RawPacket(PacketType type, const std::string& data, int32_t sequence)
{
    uint8_t header[12];
    PutBigEndian16(header, uint16_t(type));
    PutBigEndian16(header + 2, uint16_t(data.size()));
    PutBigEndian32(header + 4, uint32_t(sequence));
    PutBigEndian32(header + 8, ComputeCrc32(header, 8));
    std::string packet(reinterpret_cast<char*>(header), 12);
    if (!data.empty())
        packet += data + BigEndian32(ComputeCrc32(data.data(), data.size()));
    return packet;
}

}  // namespace dm::test
