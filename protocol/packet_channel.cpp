#include "protocol/packet_channel.h"

#include "core/crc32.h"
#include "core/diag_log.h"
#include "protocol/byte_order.h"

#include <algorithm>
#include <cstring>

namespace dm {

namespace {

constexpr char kAccepted[] = "PkOk";
constexpr char kResend[] = "PkRs";
constexpr uint16_t kScratchSize = 128;
constexpr uint32_t kIdentificationBufferSize = 14;

bool IsWord(const uint8_t* answer, const char* word)
{
    return std::memcmp(answer, word, 4) == 0;
}

// The sequence of a retransmission, without overflowing at the extremes.
int32_t Negated(int32_t sequence)
{
    return int32_t(0u - uint32_t(sequence));
}

uint32_t Absolute(int32_t sequence)
{
    return sequence < 0 ? 0u - uint32_t(sequence) : uint32_t(sequence);
}

}  // namespace

HandshakeState& ProcessHandshakeState()
{
    static HandshakeState state;
    return state;
}

PacketChannel::PacketChannel(std::unique_ptr<Link> link, uint32_t packetSize, uint32_t maxRetries,
                             HandshakeState& handshake)
    : link_(std::move(link)),
      handshake_(handshake),
      packetSize_(packetSize),
      maxRetries_(maxRetries)
{
}

PacketChannel::~PacketChannel() = default;

HRESULT PacketChannel::WriteAnswer(const char* word)
{
    return link_->Write(word, 4, 0);
}

HRESULT PacketChannel::WritePacket(PacketType type, const void* data, uint16_t length)
{
    if (LogEnabled())
        LogLine("Write Packet %d\n", int(type));

    const uint32_t total = length > 0 ? kPacketHeaderSize + length + 4 : kPacketHeaderSize;
    std::vector<uint8_t> packet;
    try {
        packet.resize(total);
    } catch (const std::bad_alloc&) {
        return E_FAIL;
    }
    PutBigEndian16(&packet[0], uint16_t(type));
    PutBigEndian16(&packet[2], length);
    if (length > 0) {
        std::memcpy(&packet[kPacketHeaderSize], data, length);
        PutBigEndian32(&packet[kPacketHeaderSize + length], ComputeCrc32(data, length));
    }

    uint32_t retries = 0;
    for (bool first = true;; first = false) {
        PutBigEndian32(&packet[4], uint32_t(first ? sendSequence_ : Negated(sendSequence_)));
        PutBigEndian32(&packet[8], ComputeCrc32(packet.data(), 8));
        HRESULT hr = link_->Write(packet.data(), total, 0);
        if (FAILED(hr))
            return hr;

        uint8_t answer[4];
        if (FAILED(link_->Read(answer, 4, int32_t(total)))) {
            // The answer word was lost: ask for it again by our sequence number.
            uint8_t request[4];
            PutBigEndian32(request, uint32_t(sendSequence_));
            hr = link_->Write(request, 4, 0);
            if (FAILED(hr))
                return hr;
            hr = link_->Read(answer, 4, 0);
            if (FAILED(hr))
                return hr;
            if (IsWord(answer, kAccepted)) {
                if (LogEnabled())
                    LogLine("ANSWER-RECOVERY REQUEST SATISFIED\n");
                link_->ClearPendingError();
            } else if (IsWord(answer, kResend)) {
                link_->ClearPendingError();
            }
        }

        if (IsWord(answer, kAccepted) || IsWord(answer, kResend)) {
            retries = 0;
        } else {
            if (++retries > maxRetries_)
                return E_FAIL;
            if (GetBigEndian32(answer) == lastAcknowledged_) {
                // The peer lost our answer to its last packet and asks for it again.
                if (LogEnabled())
                    LogLine("ANSWER-RECOVERY RECEIVED\n");
                hr = WriteAnswer(kAccepted);
                if (FAILED(hr))
                    return hr;
            } else {
                if (LogEnabled()) {
                    uint32_t littleEndian;
                    std::memcpy(&littleEndian, answer, 4);
                    LogLine("BAD WRITEPACKET ANSWER: 0x%08X\n", unsigned(littleEndian));
                }
                link_->Discard();
            }
        }

        if (IsWord(answer, kAccepted)) {
            sendSequence_ = int32_t(uint32_t(sendSequence_) + 1);
            return S_OK;
        }
        if (LogEnabled())
            LogLine("WRITE PACKET RETRY\n");
    }
}

std::vector<uint8_t> PacketChannel::Identification()
{
    std::vector<uint8_t> id(kIdentifyLiteral, kIdentifyLiteral + kIdentifyLiteralSize);
    uint32_t key;
    if (link_->GetHandshakeKey(key)) {
        id.resize(kIdentifyLiteralSize + 4);
        PutBigEndian32(&id[kIdentifyLiteralSize], key);
    }
    return id;
}

HRESULT PacketChannel::ReadPacket(PacketType& type, void* buffer, uint16_t capacity,
                                  uint16_t& delivered, std::vector<uint8_t>* allocated,
                                  int32_t hint)
{
    uint32_t errors = 0;
    uint32_t missed = 0;  // sequence of a packet whose retransmission we asked for; 0 = none
    while (true) {
        bool afterBadHeader = false;
        uint8_t header[kPacketHeaderSize];
        while (true) {
            const HRESULT hr = link_->Read(header, kPacketHeaderSize, hint);
            if (FAILED(hr))
                return hr;
            const uint32_t received = GetBigEndian32(&header[8]);
            const uint32_t computed = ComputeCrc32(header, 8);
            if (received == computed)
                break;
            if (LogEnabled())
                LogLine("BAD READPACKET HEADER CRC: 0x%08X (0x%08X)\n", unsigned(received),
                        unsigned(computed));
            link_->Discard();
            afterBadHeader = true;
            const HRESULT answered = WriteAnswer(kResend);
            if (FAILED(answered))
                return answered;
        }

        const uint16_t packetType = GetBigEndian16(&header[0]);
        const uint16_t length = GetBigEndian16(&header[2]);
        const int32_t sequence = int32_t(GetBigEndian32(&header[4]));
        bool accepted;
        if (sequence >= 0) {
            if (missed != 0) {
                if (LogEnabled())
                    LogLine("READPACKET MISSED RESEND: %d (%d %d)\n", int(missed), int(packetType),
                            int(sequence));
                return E_FAIL;
            }
            accepted = true;
            if (LogEnabled())
                LogLine("Read Packet %d\n", int(packetType));
        } else {
            accepted = Absolute(sequence) == missed || afterBadHeader;
        }

        // Where the data goes.
        uint8_t identification[kIdentificationBufferSize] = {};
        const bool peerIdentify =
            accepted && packetType == uint16_t(PacketType::Identify) && !identifying_;
        uint8_t* destination = nullptr;
        uint16_t room = 0;
        if (peerIdentify) {
            handshake_.handshakeDone = true;
            handshake_.peerVerified = false;
            destination = identification;
            room = kIdentificationBufferSize;
        } else if (accepted && capacity > 0) {
            destination = static_cast<uint8_t*>(buffer);
            room = capacity;
        } else if (accepted && allocated) {
            try {
                allocated->assign(length, 0);
            } catch (const std::bad_alloc&) {
                return E_OUTOFMEMORY;
            }
            destination = allocated->data();
            room = length;
        }

        // Receive the data: what fits straight into place, the rest through a scratch area.
        Crc32 crc;
        const uint16_t wanted = std::min(length, room);
        uint16_t got = 0;
        bool missing = false;
        if (wanted > 0) {
            if (FAILED(link_->Read(destination, wanted, 0)))
                missing = true;
            else
                crc.Add(destination, wanted);
            got = wanted;
        }
        uint8_t scratch[kScratchSize];
        for (uint32_t left = length - wanted; left > 0 && !missing;) {
            const uint32_t chunk = std::min<uint32_t>(left, kScratchSize);
            if (FAILED(link_->Read(scratch, chunk, 0))) {
                missing = true;
                break;
            }
            crc.Add(scratch, chunk);
            left -= chunk;
        }

        const char* answer = kAccepted;
        if (missing) {
            if (++errors > maxRetries_)
                return E_FAIL;
            if (LogEnabled())
                LogLine("READPACKET - MISSING DATA\n");
            link_->ClearPendingError();
            missed = Absolute(sequence);
            answer = kResend;
        } else if (length > 0) {
            uint8_t crcBytes[4];
            const HRESULT hr = link_->Read(crcBytes, 4, 0);
            if (FAILED(hr))
                return hr;
            if (accepted) {
                const uint32_t received = GetBigEndian32(crcBytes);
                if (received == crc.Value()) {
                    errors = 0;
                } else {
                    if (++errors > maxRetries_)
                        return E_FAIL;
                    if (LogEnabled())
                        LogLine("READPACKET - BAD CRC: 0x%08X (0x%08X)\n", unsigned(received),
                                unsigned(crc.Value()));
                    missed = Absolute(sequence);
                    answer = kResend;
                    // Drain before asking, or the retransmission would be drained too.
                    link_->Discard();
                }
            }
        }

        const HRESULT answered = WriteAnswer(answer);
        if (FAILED(answered))
            return answered;
        if (answer == kResend)
            continue;
        lastAcknowledged_ = Absolute(sequence);
        if (!accepted)
            continue;  // a duplicate of a packet already delivered: nothing new for the caller
        missed = 0;

        if (peerIdentify) {
            handshake_.peerVerified =
                std::memcmp(identification, kIdentifyLiteral, kIdentifyLiteralSize) == 0;
            handshake_.peerKeyPresent = got >= kIdentificationBufferSize;
            handshake_.peerKey = handshake_.peerKeyPresent
                                     ? GetBigEndian32(&identification[kIdentifyLiteralSize])
                                     : 0;
            const std::vector<uint8_t> reply = Identification();
            const HRESULT hr =
                WritePacket(PacketType::Identify, reply.data(), uint16_t(reply.size()));
            if (FAILED(hr))
                return hr;
            handshake_.handshakeDone = true;
            continue;
        }

        type = PacketType(packetType);
        delivered = got;
        return S_OK;
    }
}

HRESULT PacketChannel::WaitForAnswer(int32_t hint)
{
    while (true) {
        PacketType type;
        uint16_t delivered;
        const HRESULT hr = ReadPacket(type, nullptr, 0, delivered, nullptr, hint);
        if (FAILED(hr))
            return hr;
        if (type == PacketType::Ok)
            return S_OK;
        if (type == PacketType::Abort)
            return kCancelled;
    }
}

bool PacketChannel::Handshake()
{
    if (handshake_.handshakeDone)
        return handshake_.peerVerified;
    identifying_ = true;
    const std::vector<uint8_t> id = Identification();
    HRESULT hr = WritePacket(PacketType::Identify, id.data(), uint16_t(id.size()));
    PacketType type = PacketType::Ok;
    uint8_t reply[kIdentifyLiteralSize] = {};
    uint16_t delivered = 0;
    if (SUCCEEDED(hr))
        hr = ReadPacket(type, reply, sizeof reply, delivered, nullptr, 0);
    identifying_ = false;
    if (FAILED(hr))
        return false;
    handshake_.handshakeDone = true;
    handshake_.peerVerified = type == PacketType::Identify && delivered >= kIdentifyLiteralSize &&
                              std::memcmp(reply, kIdentifyLiteral, kIdentifyLiteralSize) == 0;
    return handshake_.peerVerified;
}

}  // namespace dm
