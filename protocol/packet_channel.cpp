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

HRESULT PacketChannel::LinkRead(void* buffer, uint32_t count, int32_t hint)
{
    const HRESULT hr = link_->Read(buffer, count, hint);
    if (FAILED(hr))
        Disturbed();
    return hr;
}

HRESULT PacketChannel::LinkWrite(const void* buffer, uint32_t count, int32_t hint)
{
    const HRESULT hr = link_->Write(buffer, count, hint);
    if (FAILED(hr))
        Disturbed();
    return hr;
}

void PacketChannel::NoteConnection()
{
    if (link_->Openings() == opening_)
        return;
    opening_ = link_->Openings();
    disturbed_ = false;
    quiet_ = link_->StartsEmpty();
}

void PacketChannel::DrainStale()
{
    NoteConnection();
    // On a quiet line only noise can have arrived: take it, and wait only if there was some,
    // since more of it may follow.
    if (!quiet_ || link_->DiscardArrived() == S_OK)
        link_->Discard();
    quiet_ = false;
    disturbed_ = false;
}

HRESULT PacketChannel::WriteAnswer(const char* word)
{
    return LinkWrite(word, 4, 0);
}

HRESULT PacketChannel::WritePacket(PacketType type, const void* data, uint16_t length)
{
    if (LogEnabled())
        LogLine("Write Packet %d\n", int(type));
    // The peer answers this packet, and perhaps more: until then the line is in use.
    quiet_ = false;
    if (type == PacketType::Abort)
        Disturbed();

    // A "PkOk" may have to go out in front of the packet, in the same write.
    constexpr uint32_t kLead = 4;
    const uint32_t total = length > 0 ? kPacketHeaderSize + length + 4 : kPacketHeaderSize;
    std::vector<uint8_t> buffer;
    try {
        buffer.resize(kLead + total);
    } catch (const std::bad_alloc&) {
        return E_FAIL;
    }
    std::memcpy(buffer.data(), kAccepted, kLead);
    uint8_t* const packet = buffer.data() + kLead;
    PutBigEndian16(&packet[0], uint16_t(type));
    PutBigEndian16(&packet[2], length);
    if (length > 0) {
        std::memcpy(&packet[kPacketHeaderSize], data, length);
        PutBigEndian32(&packet[kPacketHeaderSize + length], ComputeCrc32(data, length));
    }
    // A packet of the peer's left unread by our caller cannot be answered any more.
    if (headerStashed_)
        Disturbed();
    headerStashed_ = false;
    bool resentEarly = !peerReplies_ || !lineRecovery_;
    peerReplies_ = false;

    uint32_t retries = 0;
    bool resend = false;       // negated sequence: the peer asked for it again
    bool answerFirst = false;  // our "PkOk" to the peer's packet precedes ours
    while (true) {
        PutBigEndian32(&packet[4], uint32_t(resend ? Negated(sendSequence_) : sendSequence_));
        PutBigEndian32(&packet[8], ComputeCrc32(packet, 8));
        HRESULT hr = answerFirst ? LinkWrite(buffer.data(), kLead + total, 0)
                                 : LinkWrite(packet, total, 0);
        if (FAILED(hr))
            return hr;
        answerFirst = false;

        uint8_t answer[4];
        hr = resend || resentEarly ? LinkRead(answer, 4, int32_t(total))
                                   : ReadAnswer(answer, packet, total, resentEarly);
        if (FAILED(hr)) {
            // The answer word was lost: ask for it again by our sequence number.
            uint8_t request[4];
            PutBigEndian32(request, uint32_t(sendSequence_));
            hr = LinkWrite(request, 4, 0);
            if (FAILED(hr))
                return hr;
            hr = LinkRead(answer, 4, 0);
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

        uint8_t header[kPacketHeaderSize];
        if (!IsWord(answer, kAccepted) || resend)
            Disturbed();
        if (IsWord(answer, kAccepted) || IsWord(answer, kResend)) {
            retries = 0;
        } else {
            if (++retries > maxRetries_)
                return E_FAIL;
            // What follows tells a packet of the peer's (whose type and length may read as any
            // number) from its request for a lost answer, which comes alone.
            const Follows follows =
                lineRecovery_ ? PeerHeaderAfter(answer, header) : Follows::Unknown;
            const bool request = GetBigEndian32(answer) == lastAcknowledged_ &&
                                 (follows == Follows::Nothing || follows == Follows::Unknown);
            if (request) {
                // The peer lost our answer to its last packet and asks for it again.
                if (LogEnabled())
                    LogLine("ANSWER-RECOVERY RECEIVED\n");
                if (lineRecovery_) {
                    // It has been waiting for that answer ever since, so it never took ours:
                    // after the answer it reads a new packet, which a negated sequence is not.
                    answerFirst = true;
                    resend = false;
                    continue;
                }
                hr = WriteAnswer(kAccepted);
                if (FAILED(hr))
                    return hr;
            } else if (follows == Follows::Header) {
                const int32_t sequence = int32_t(GetBigEndian32(&header[4]));
                if (sequence >= 0 || Absolute(sequence) == lastAcknowledged_ + 1) {
                    // Its next packet, or that packet sent again after it took our own resent
                    // one for a bad answer: either way the peer took ours and its answer went
                    // astray (noise can hide an answer word from the search). The caller's next
                    // read receives that packet as new.
                    if (LogEnabled())
                        LogLine("ANSWER-RECOVERY: NEXT PACKET %d\n", int(sequence));
                    link_->ClearPendingError();
                    std::memcpy(stashedHeader_, header, kPacketHeaderSize);
                    headerStashed_ = true;
                    sendSequence_ = int32_t(uint32_t(sendSequence_) + 1);
                    return S_OK;
                }
                if (Absolute(sequence) == lastAcknowledged_) {
                    // It sends again the packet we accepted last: our answer went astray, and
                    // it took what we sent since for a bad answer. Answer it as a duplicate,
                    // then ours goes again as new.
                    if (LogEnabled())
                        LogLine("ANSWER-RECOVERY: PEER RESENT %d\n", int(-sequence));
                    hr = DropPacketData(GetBigEndian16(&header[2]));
                    if (FAILED(hr))
                        return hr;
                    answerFirst = true;
                    resend = false;
                    continue;
                }
                if (LogEnabled())
                    LogLine("BAD WRITEPACKET ANSWER: PACKET %d\n", int(sequence));
                link_->Discard();
            } else {
                if (LogEnabled()) {
                    uint32_t littleEndian;
                    std::memcpy(&littleEndian, answer, 4);
                    LogLine("BAD WRITEPACKET ANSWER: 0x%08X\n", unsigned(littleEndian));
                }
                if (follows != Follows::Nothing)
                    link_->Discard();
            }
        }

        if (IsWord(answer, kAccepted)) {
            sendSequence_ = int32_t(uint32_t(sendSequence_) + 1);
            return S_OK;
        }
        if (LogEnabled())
            LogLine("WRITE PACKET RETRY\n");
        resend = true;
    }
}

HRESULT PacketChannel::WriteRepliedPacket(PacketType type, const void* data, uint16_t length)
{
    peerReplies_ = true;
    return WritePacket(type, data, length);
}

HRESULT PacketChannel::ReadAnswer(uint8_t* answer, const uint8_t* packet, uint32_t total,
                                  bool& resentEarly)
{
    // Long enough for the packet to go out and for the answer and the peer's own packet to come
    // back; well inside the peer's wait for ours. One byte, so that nothing is lost if the
    // answer starts arriving just as the wait ends.
    const float outgoing = float(total) * link_->MsPerByte();
    const int32_t early = -int32_t(uint32_t(outgoing) + link_->MinTimeoutMs() / 8);
    if (FAILED(LinkRead(answer, 1, early))) {
        link_->ClearPendingError();
        resentEarly = true;
        // A peer still reading takes it as new; one that took it after all is writing its own
        // packet and reads this as a bad answer.
        if (LogEnabled())
            LogLine("ANSWER-RECOVERY: NOTHING CAME BACK, SENDING AGAIN\n");
        const HRESULT hr = LinkWrite(packet, total, 0);
        if (FAILED(hr))
            return hr;
        if (FAILED(LinkRead(answer, 1, int32_t(total))))
            return E_FAIL;
    }
    return LinkRead(answer + 1, 3, 0);
}

namespace {

bool KnownPacketType(uint16_t type)
{
    return type <= uint16_t(PacketType::FileData) ||
           (type >= uint16_t(PacketType::Confirm) && type <= uint16_t(PacketType::StepCount)) ||
           (type >= uint16_t(PacketType::ListDirectory) &&
            type <= uint16_t(PacketType::FinishSetup));
}

// Twelve bytes that the peer wrote as a packet header: the CRC holds and the type exists.
bool IsPacketHeader(const uint8_t* header)
{
    return GetBigEndian32(&header[8]) == ComputeCrc32(header, 8) &&
           KnownPacketType(GetBigEndian16(&header[0]));
}

}  // namespace

int32_t PacketChannel::QuietHint() const
{
    // Long enough for the rest of a header written together with its start, short enough
    // that a peer waiting for our answer is still waiting.
    const uint32_t wait = std::clamp<uint32_t>(link_->MinTimeoutMs() / 8, 20, 200);
    return -int32_t(wait + uint32_t(link_->MsPerByte() * 2 * kPacketHeaderSize));
}

PacketChannel::Follows PacketChannel::PeerHeaderAfter(const uint8_t* answer, uint8_t* header)
{
    // The answer word lost: the header starts with these four bytes. Damaged: it follows them.
    // Answer words and packets are written whole, so no other place can hold one, and a
    // header never starts like an answer word ("Pk" is no packet type).
    std::memcpy(header, answer, 4);
    if (FAILED(LinkRead(header + 4, 8, QuietHint()))) {
        link_->ClearPendingError();
        return Follows::Nothing;
    }
    if (IsPacketHeader(header))
        return Follows::Header;
    uint8_t next[kPacketHeaderSize];
    std::memcpy(next, header + 4, 8);
    if (FAILED(LinkRead(next + 8, 4, QuietHint()))) {
        link_->ClearPendingError();
        return Follows::Other;
    }
    std::memcpy(header, next, kPacketHeaderSize);
    return IsPacketHeader(header) ? Follows::Header : Follows::Other;
}

HRESULT PacketChannel::DropPacketData(uint16_t length)
{
    uint8_t scratch[kScratchSize];
    for (uint32_t left = length > 0 ? length + 4u : 0; left > 0;) {
        const uint32_t chunk = std::min<uint32_t>(left, kScratchSize);
        const HRESULT hr = LinkRead(scratch, chunk, 0);
        if (FAILED(hr))
            return hr;
        left -= chunk;
    }
    return S_OK;
}

HRESULT PacketChannel::ReadHeaderRecovering(uint8_t* header, int32_t hint, uint32_t& missed)
{
    bool waitedAgain = false;
    for (uint32_t words = 0;;) {
        HRESULT hr = LinkRead(header, 4, hint);
        if (FAILED(hr)) {
            // A peer whose packet never arrived asks for its answer only after its own wait.
            if (waitedAgain || hint == kNoTimeout)
                return hr;
            waitedAgain = true;
            continue;
        }
        if (IsWord(header, kAccepted) || IsWord(header, kResend)) {
            // An answer word to a packet whose exchange is over.
            Disturbed();
            if (LogEnabled())
                LogLine("STRAY ANSWER WORD\n");
            if (++words > maxRetries_)
                return E_FAIL;
            continue;
        }
        hr = LinkRead(header + 4, 8, QuietHint());
        if (SUCCEEDED(hr)) {
            if (waitedAgain)
                link_->ClearPendingError();
            return S_OK;
        }
        // Four bytes alone: the peer asks by its sequence number for our answer to a packet.
        const uint32_t sequence = GetBigEndian32(header);
        if (sequence == 0 || sequence > uint32_t(INT32_MAX) || ++words > maxRetries_)
            return hr;
        link_->ClearPendingError();
        Disturbed();
        const bool accepted = sequence == lastAcknowledged_;
        if (LogEnabled())
            LogLine("ANSWER-RECOVERY REQUEST FOR %d: %s\n", int(sequence),
                    accepted ? "ACCEPTED" : "NEVER ARRIVED");
        if (!accepted)
            missed = sequence;
        hr = WriteAnswer(accepted ? kAccepted : kResend);
        if (FAILED(hr))
            return hr;
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
        bool stashed = false;  // recognised as new while we waited for an answer
        uint8_t header[kPacketHeaderSize];
        while (true) {
            HRESULT hr = S_OK;
            if (headerStashed_) {
                // Read in place of an answer word: recovered, not clean.
                std::memcpy(header, stashedHeader_, kPacketHeaderSize);
                headerStashed_ = false;
                stashed = true;
                Disturbed();
            } else if (lineRecovery_) {
                hr = ReadHeaderRecovering(header, hint, missed);
            } else {
                hr = LinkRead(header, kPacketHeaderSize, hint);
            }
            if (FAILED(hr))
                return hr;
            const uint32_t received = GetBigEndian32(&header[8]);
            const uint32_t computed = ComputeCrc32(header, 8);
            if (received == computed)
                break;
            if (LogEnabled())
                LogLine("BAD READPACKET HEADER CRC: 0x%08X (0x%08X)\n", unsigned(received),
                        unsigned(computed));
            Disturbed();
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
            // A retransmission, asked for or not.
            Disturbed();
            accepted = Absolute(sequence) == missed || afterBadHeader || stashed;
        }

        // Where the data goes.
        uint8_t identification[kIdentificationBufferSize] = {};
        const bool peerIdentify =
            accepted && packetType == uint16_t(PacketType::Identify) && !identifying_;
        if (peerIdentify || packetType == uint16_t(PacketType::Abort))
            Disturbed();
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
            if (FAILED(LinkRead(destination, wanted, 0)))
                missing = true;
            else
                crc.Add(destination, wanted);
            got = wanted;
        }
        uint8_t scratch[kScratchSize];
        for (uint32_t left = length - wanted; left > 0 && !missing;) {
            const uint32_t chunk = std::min<uint32_t>(left, kScratchSize);
            if (FAILED(LinkRead(scratch, chunk, 0))) {
                missing = true;
                break;
            }
            crc.Add(scratch, chunk);
            left -= chunk;
        }

        const char* answer = kAccepted;
        if (missing) {
            Disturbed();
            if (++errors > maxRetries_)
                return E_FAIL;
            if (LogEnabled())
                LogLine("READPACKET - MISSING DATA\n");
            link_->ClearPendingError();
            missed = Absolute(sequence);
            answer = kResend;
        } else if (length > 0) {
            uint8_t crcBytes[4];
            const HRESULT hr = LinkRead(crcBytes, 4, 0);
            if (FAILED(hr))
                return hr;
            if (accepted) {
                const uint32_t received = GetBigEndian32(crcBytes);
                if (received == crc.Value()) {
                    errors = 0;
                } else {
                    Disturbed();
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
        if (type == PacketType::Ok) {
            Settled();
            return S_OK;
        }
        if (type == PacketType::Abort)
            return kCancelled;
        Disturbed();  // not what this exchange has
    }
}

bool PacketChannel::Handshake()
{
    if (handshake_.handshakeDone)
        return handshake_.peerVerified;
    NoteConnection();
    // An exchange that ends cleanly leaves the line as it found it.
    const bool wasQuiet = quiet_;
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
    if (type != PacketType::Identify)
        Disturbed();
    else if (wasQuiet)
        Settled();
    return handshake_.peerVerified;
}

}  // namespace dm
