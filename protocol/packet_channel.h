// The reliable exchange with the Amiga-side server over one link: checksummed, sequence-numbered
// packets answered by 4-byte answer words, retransmission, answer recovery, the identification,
// and file streams. The layer is symmetric: the same code serves the PC and an emulated Amiga.
#pragma once

#include "core/amiga_types.h"
#include "core/question_dialogs.h"
#include "link/link.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace dm {

enum class PacketType : uint16_t {
    Ok = 0,
    Abort = 1,
    Identify = 2,
    FileHeader = 3,
    FileEnd = 4,
    FileData = 5,
    Confirm = 8,
    Progress = 9,
    ErrorReport = 10,
    StepCount = 11,
    ListDirectory = 100,
    OpenFile = 101,
    CreateObject = 102,
    Delete = 103,
    Rename = 104,
    Move = 105,
    Copy = 106,
    SetAttributes = 107,
    CountContents = 108,
    GetLastError = 109,
    Format = 110,
    NewDrawer = 111,
    FinishSetup = 112,
};

constexpr uint32_t kPacketHeaderSize = 12;
constexpr char kIdentifyLiteral[] = "Quenzor(r)";  // sent without its terminator
constexpr uint32_t kIdentifyLiteralSize = 10;

// Whether the identification has been exchanged, and whether the peer passed it. One per
// process in the product; an emulated peer in the same process keeps its own.
struct RemoteItem;
class RemoteQuestions;

struct HandshakeState {
    bool handshakeDone = false;
    bool peerVerified = false;
    // The key that followed the peer's literal in its last identification, if any: a server
    // checks it against its password.
    bool peerKeyPresent = false;
    uint32_t peerKey = 0;
};

HandshakeState& ProcessHandshakeState();

class PacketChannel {
public:
    PacketChannel(std::unique_ptr<Link> link, uint32_t packetSize = 512, uint32_t maxRetries = 50,
                  HandshakeState& handshake = ProcessHandshakeState());
    ~PacketChannel();
    PacketChannel(const PacketChannel&) = delete;
    PacketChannel& operator=(const PacketChannel&) = delete;

    Link& GetLink() { return *link_; }
    const Link& GetLink() const { return *link_; }

    // The link's own operations.
    HRESULT Open() { return link_->Open(); }
    HRESULT Close() { return link_->Close(); }

    uint32_t PacketSize() const { return packetSize_; }
    void SetPacketSize(uint32_t size) { packetSize_ = size; }
    uint32_t MaxRetries() const { return maxRetries_; }
    void SetMaxRetries(uint32_t retries) { maxRetries_ = retries; }
    int32_t SendSequence() const { return sendSequence_; }
    uint32_t LastAcknowledged() const { return lastAcknowledged_; }

    // Recovery from lost or damaged answer words that needs nothing of the peer beyond the
    // protocol as written and keeps the bytes on the wire: a writer waiting for an answer
    // recognises the peer's next packet (our packet was accepted) or its retransmission of the
    // packet we accepted last (our answer was lost, ours must go again), and a reader answers
    // the peer's request for a lost answer. On by default; without it the channel runs the
    // protocol exactly as written, as the emulated Amiga does unless told otherwise.
    void SetLineRecovery(bool on) { lineRecovery_ = on; }
    bool LineRecovery() const { return lineRecovery_; }

    // Whether nothing of the peer's can be on its way: the last exchange ended with every
    // packet taken and answered at the first attempt, nothing unexpected read, no time-out and
    // no Abort, on the connection the link still has (or on a new one that starts empty). The
    // peer speaks only when spoken to, so a request then needs no wait for the line to fall
    // quiet first.
    bool LineQuiet() const { return quiet_; }

    // Sends one packet and returns when the peer accepted it.
    HRESULT WritePacket(PacketType type, const void* data = nullptr, uint16_t length = 0);

    // Receives the next packet for the caller, answers it, and delivers at most `capacity` data
    // bytes into `buffer` (the rest is received, checked and dropped). With capacity 0 and
    // `allocated`, the whole data lands in `allocated`. Identification packets from the peer are
    // answered here and never returned.
    HRESULT ReadPacket(PacketType& type, void* buffer, uint16_t capacity, uint16_t& delivered,
                       std::vector<uint8_t>* allocated, int32_t hint);

    // Reads packets until Ok (S_OK) or Abort (kCancelled).
    HRESULT WaitForAnswer(int32_t hint);

    // Exchanges the identification once per process; true when the peer identified itself.
    bool Handshake();

    // Incoming file stream.
    HRESULT BeginFileRead(uint32_t* size, int32_t hint);
    HRESULT ReadFileData(void* buffer, uint32_t count, uint32_t* read);
    HRESULT EndFileRead();
    HRESULT ReadWholeFile(std::vector<uint8_t>& data, uint32_t& size, int32_t hint);

    // Outgoing file stream.
    HRESULT BeginFileWrite(uint32_t size);
    HRESULT WriteFileData(const void* data, uint32_t count, uint32_t* written);
    HRESULT EndFileWrite();

    // Remote commands. Each answers S_OK, a failure, or kCancelled when the server refused with
    // Abort; the caller then asks for the server's reason with ReportRemoteError.

    // Hands every record of the folder to `sink`; a refused or malformed record ends the walk
    // with E_FAIL, the records before it handed over.
    HRESULT ListDirectory(const std::string& folderPath,
                          const std::function<bool(const DirectoryEntry&)>& sink);
    // Starts the incoming stream of the file; ReadFileData and EndFileRead follow.
    HRESULT OpenFile(const RemoteItem& item, uint32_t* size);
    // Creates `record` (its name the full destination path). For a file, unless the user
    // declines to overwrite (`declined`, S_OK), the outgoing stream is then open: WriteFileData
    // and EndFileWrite follow. `answer` is the batch's overwrite answer.
    HRESULT CreateObject(const DirectoryEntry& record, const RemoteItem& destination,
                         OverwriteAnswer& answer, uint32_t itemCount, RemoteQuestions& questions,
                         bool* declined);
    HRESULT Delete(const RemoteItem& item);
    HRESULT Rename(const RemoteItem& item, const std::string& newName);
    HRESULT Move(const RemoteItem& source, const RemoteItem& destinationFolder);
    HRESULT Copy(const RemoteItem& source, const RemoteItem& destinationFolder,
                 OverwriteAnswer& answer, uint32_t itemCount, RemoteQuestions& questions,
                 bool* declined);
    // Bit 30 of `value` leaves the comment alone (none is sent).
    HRESULT SetAttributes(const RemoteItem& item, uint32_t value, const std::string& comment);
    HRESULT CountContents(const RemoteItem& item);
    // One step of a count: counters to add to the running totals, or `finished`.
    HRESULT ReadProgress(uint32_t& bytes, uint32_t& drawers, uint32_t& files, bool& finished,
                         bool stop);
    HRESULT Format(const RemoteItem& device, const std::string& volumeName, uint32_t dosType,
                   bool quick, bool bootable, uint32_t& steps, RemoteQuestions& questions);
    HRESULT FormatStep(bool stop);
    HRESULT NewDrawer(const RemoteItem& parent);
    HRESULT FinishSetup();
    // The server's last error: code 0 for none, and its text (may be empty).
    HRESULT GetLastError(uint32_t& code, std::string& text);

private:
    // Before a request: drops stale input, waiting for the line to fall quiet unless it is
    // known to be.
    void DrainStale();
    // A new connection of the link resets what is known of the line.
    void NoteConnection();
    // Something other than a clean exchange happened: the line is not known to be quiet until
    // the next waiting drain.
    void Disturbed()
    {
        disturbed_ = true;
        quiet_ = false;
    }
    // The peer has sent the last packet of its turn and has our answer: it now waits for us.
    void Settled() { quiet_ = !disturbed_; }
    // The link's reads and writes; a failure disturbs the line.
    HRESULT LinkRead(void* buffer, uint32_t count, int32_t hint);
    HRESULT LinkWrite(const void* buffer, uint32_t count, int32_t hint);

    // `replied`: the peer answers the request with a packet at once (see WriteRepliedPacket).
    HRESULT SendRequest(PacketType command, const std::string& data, bool replied = false);
    HRESULT ReadReply(PacketType& type, std::vector<uint8_t>& data);
    // Asks (unless the batch said yes to all) and answers Ok or Abort; S_FALSE when declined.
    HRESULT SettleConfirm(const std::vector<uint8_t>& text, UINT messageId, OverwriteAnswer& answer,
                          uint32_t itemCount, RemoteQuestions& questions, bool* declined);

    struct Stream {
        std::vector<uint8_t> buffer;  // empty while no stream is open
        uint16_t bufferSize = 0;
        uint32_t size = 0;
        uint32_t remaining = 0;
        uint32_t offset = 0;
        uint32_t available = 0;  // incoming: bytes ready at `cursor`; outgoing: bytes pending
        uint32_t cursor = 0;
        bool finished = false;
        bool writing = false;
    };

    HRESULT WriteAnswer(const char* word);
    // A packet that the peer, once it has it, follows at once with a packet of its own (a
    // stream's data and its command-level Ok, some requests): silence long after it went out
    // means it never arrived, and line recovery sends it again before the peer stops waiting.
    HRESULT WriteRepliedPacket(PacketType type, const void* data = nullptr, uint16_t length = 0);
    HRESULT ReadAnswer(uint8_t* answer, const uint8_t* packet, uint32_t total, bool& resentEarly);
    // Line recovery: a packet header of the peer's at the start of, or right after, four bytes
    // read in place of an answer word.
    enum class Follows { Unknown, Nothing, Header, Other };
    Follows PeerHeaderAfter(const uint8_t* answer, uint8_t* header);
    HRESULT DropPacketData(uint16_t length);
    // A packet header, answering on the way the peer's stray answer words and its requests for
    // a lost answer; `missed` takes the sequence of a packet the peer must send again.
    HRESULT ReadHeaderRecovering(uint8_t* header, int32_t hint, uint32_t& missed);
    int32_t QuietHint() const;
    std::vector<uint8_t> Identification();
    HRESULT ReadFilePacket(PacketType answer);
    HRESULT SendFileDataPacket(uint16_t length);
    bool StreamOpen() const { return !stream_.buffer.empty(); }
    void CloseStream() { stream_ = Stream {}; }

    std::unique_ptr<Link> link_;
    HandshakeState& handshake_;
    uint32_t packetSize_;
    uint32_t maxRetries_;
    int32_t sendSequence_ = 1;
    uint32_t lastAcknowledged_ = 0;
    bool identifying_ = false;
    bool lineRecovery_ = true;
    bool peerReplies_ = false;  // the packet being written is one that WriteRepliedPacket sends
    // The header of a packet the peer sent while we waited for an answer, for the next read.
    bool headerStashed_ = false;
    uint8_t stashedHeader_[kPacketHeaderSize] = {};
    Stream stream_;
    bool quiet_ = false;
    bool disturbed_ = false;
    uint32_t opening_ = 0;  // the link's opening that quiet_ and disturbed_ speak of
};

}  // namespace dm
