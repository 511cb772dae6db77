// The remote commands: one request packet each, then the exchange the command defines.
#include "core/diag_log.h"
#include "protocol/byte_order.h"
#include "protocol/directory_record.h"
#include "protocol/packet_channel.h"
#include "protocol/remote_item.h"
#include "protocol/remote_questions.h"
#include "resources/string_ids.h"

#include <cstring>

namespace dm {

namespace {

std::string WithTerminator(const std::string& text)
{
    return text + '\0';
}

std::string BigEndianText(uint32_t value)
{
    uint8_t bytes[4];
    PutBigEndian32(bytes, value);
    return std::string(reinterpret_cast<char*>(bytes), 4);
}

// A text from the server, which may lack its terminator.
std::string TextOf(const std::vector<uint8_t>& data, size_t from = 0)
{
    if (from >= data.size())
        return {};
    const auto* start = reinterpret_cast<const char*>(data.data() + from);
    return std::string(start, strnlen(start, data.size() - from));
}

bool IsImageKind(ItemKind kind)
{
    return kind == ItemKind::AdfFile || kind == ItemKind::HdfFile;
}

// The device part of an item's name, up to its first ":".
std::string DeviceName(const RemoteItem& item)
{
    return item.name.substr(0, item.name.find(':'));
}

}  // namespace

HRESULT PacketChannel::SendRequest(PacketType command, const std::string& data, bool replied)
{
    if (data.size() > 0xFFFF)
        return E_INVALIDARG;
    DrainStale();
    return replied ? WriteRepliedPacket(command, data.data(), uint16_t(data.size()))
                   : WritePacket(command, data.data(), uint16_t(data.size()));
}

HRESULT PacketChannel::ReadReply(PacketType& type, std::vector<uint8_t>& data)
{
    uint16_t delivered = 0;
    return ReadPacket(type, nullptr, 0, delivered, &data, 0);
}

HRESULT PacketChannel::SettleConfirm(const std::vector<uint8_t>& text, UINT messageId,
                                     OverwriteAnswer& answer, uint32_t itemCount,
                                     RemoteQuestions& questions, bool* declined)
{
    if (answer != OverwriteAnswer::YesToAll)
        answer = questions.AskOverwrite(messageId, TextOf(text), itemCount < 2);
    const bool no = answer == OverwriteAnswer::No || answer == OverwriteAnswer::Cancel;
    if (declined)
        *declined = no;
    const HRESULT hr = WritePacket(no ? PacketType::Abort : PacketType::Ok);
    return FAILED(hr) ? hr : no ? S_FALSE : S_OK;
}

HRESULT PacketChannel::ListDirectory(const std::string& folderPath,
                                     const std::function<bool(const DirectoryEntry&)>& sink)
{
    if (!Handshake())
        return E_FAIL;
    HRESULT hr =
        SendRequest(PacketType::ListDirectory, WithTerminator(folderPath) + '\x01', true);
    if (FAILED(hr))
        return hr;
    std::vector<uint8_t> listing;
    uint32_t size = 0;
    hr = ReadWholeFile(listing, size, kNoTimeout);
    if (FAILED(hr))
        return hr;
    return ParseListing(listing.data(), size, sink);
}

HRESULT PacketChannel::OpenFile(const RemoteItem& item, uint32_t* size)
{
    const HRESULT hr =
        SendRequest(PacketType::OpenFile, WithTerminator(RemotePath(item)), true);
    if (FAILED(hr))
        return hr;
    return BeginFileRead(size, 0);
}

HRESULT PacketChannel::CreateObject(const DirectoryEntry& record, const RemoteItem& destination,
                                    OverwriteAnswer& answer, uint32_t itemCount,
                                    RemoteQuestions& questions, bool* declined)
{
    if (declined)
        *declined = false;
    if (!Handshake())
        return E_FAIL;
    const std::vector<uint8_t> bytes = EncodeCreateRecord(record);
    HRESULT hr = SendRequest(PacketType::CreateObject, std::string(bytes.begin(), bytes.end()));
    if (FAILED(hr))
        return hr;
    if (IsContainerKind(record.kind)) {
        Settled();  // nothing follows the request
        return hr;
    }

    PacketType type;
    std::vector<uint8_t> reply;
    hr = ReadReply(type, reply);
    if (FAILED(hr))
        return hr;
    if (type == PacketType::Confirm) {
        const UINT message =
            IsImageKind(destination.kind) ? IDS_OVERWRITE_VOLUME : IDS_OVERWRITE_FILE;
        hr = SettleConfirm(reply, message, answer, itemCount, questions, declined);
        if (hr != S_OK)
            return hr == S_FALSE ? S_OK : hr;  // declined: nothing is sent
    } else if (type != PacketType::Ok) {
        Disturbed();
        return E_FAIL;
    }
    return BeginFileWrite(record.size);
}

HRESULT PacketChannel::Delete(const RemoteItem& item)
{
    const HRESULT hr = SendRequest(PacketType::Delete, WithTerminator(RemotePath(item)));
    return FAILED(hr) ? hr : WaitForAnswer(kNoTimeout);
}

HRESULT PacketChannel::Rename(const RemoteItem& item, const std::string& newName)
{
    const HRESULT hr =
        SendRequest(PacketType::Rename, RemotePathField(item) + WithTerminator(newName));
    return FAILED(hr) ? hr : WaitForAnswer(0);
}

HRESULT PacketChannel::Move(const RemoteItem& source, const RemoteItem& destinationFolder)
{
    const HRESULT hr =
        SendRequest(PacketType::Move, RemotePathField(source) + RemotePathField(destinationFolder));
    return FAILED(hr) ? hr : WaitForAnswer(kNoTimeout);
}

HRESULT PacketChannel::Copy(const RemoteItem& source, const RemoteItem& destinationFolder,
                            OverwriteAnswer& answer, uint32_t itemCount, RemoteQuestions& questions,
                            bool* declined)
{
    if (declined)
        *declined = false;
    HRESULT hr =
        SendRequest(PacketType::Copy, RemotePathField(source) + RemotePathField(destinationFolder));
    if (FAILED(hr))
        return hr;
    PacketType type;
    std::vector<uint8_t> reply;
    hr = ReadReply(type, reply);
    if (FAILED(hr))
        return hr;
    if (type == PacketType::Abort)
        return E_FAIL;
    if (type == PacketType::Confirm) {
        const UINT message =
            IsContainerKind(destinationFolder.kind) ? IDS_OVERWRITE_FOLDER : IDS_OVERWRITE_FILE;
        hr = SettleConfirm(reply, message, answer, itemCount, questions, declined);
        if (hr != S_OK)
            return hr == S_FALSE ? S_OK : hr;  // declined: nothing is copied
    }
    return WaitForAnswer(kNoTimeout);
}

HRESULT PacketChannel::SetAttributes(const RemoteItem& item, uint32_t value,
                                     const std::string& comment)
{
    std::string data = BigEndianText(value) + RemotePathField(item);
    if (!(value & (1u << 30)))
        data += WithTerminator(comment);
    data.append(4, '\0');  // the request reserves 8 bytes beyond the path for the value
    const HRESULT hr = SendRequest(PacketType::SetAttributes, data);
    return FAILED(hr) ? hr : WaitForAnswer(0);
}

HRESULT PacketChannel::CountContents(const RemoteItem& item)
{
    return SendRequest(PacketType::CountContents, RemotePathField(item));
}

HRESULT PacketChannel::ReadProgress(uint32_t& bytes, uint32_t& drawers, uint32_t& files,
                                    bool& finished, bool stop)
{
    finished = false;
    while (true) {
        PacketType type;
        uint8_t counters[12];
        uint16_t delivered = 0;
        HRESULT hr = ReadPacket(type, counters, sizeof counters, delivered, nullptr, 0);
        if (FAILED(hr))
            return hr;
        if (type == PacketType::Ok) {
            finished = true;
            Settled();
            return S_OK;
        }
        if (type == PacketType::Abort)
            return kCancelled;
        if (type != PacketType::Progress || delivered < sizeof counters) {
            Disturbed();
            if (type != PacketType::Progress)
                continue;
            return E_FAIL;
        }
        bytes = GetBigEndian32(counters);
        drawers = GetBigEndian32(counters + 4);
        files = GetBigEndian32(counters + 8);
        return WritePacket(stop ? PacketType::Abort : PacketType::Ok);
    }
}

HRESULT PacketChannel::Format(const RemoteItem& device, const std::string& volumeName,
                              uint32_t dosType, bool quick, bool bootable, uint32_t& steps,
                              RemoteQuestions& questions)
{
    steps = 0;
    const uint32_t flags = (quick ? 1u : 0u) | (bootable ? 2u : 0u);
    std::string data = BigEndianText(dosType) + BigEndianText(flags) +
                       WithTerminator(DeviceName(device) + ":") + WithTerminator(volumeName);
    data.append(3, '\0');  // device name + volume name + 14 bytes in all
    HRESULT hr = SendRequest(PacketType::Format, data);
    if (FAILED(hr))
        return hr;

    PacketType type;
    std::vector<uint8_t> reply;
    hr = ReadReply(type, reply);
    if (FAILED(hr))
        return hr;
    if (type == PacketType::Confirm) {
        const bool goAhead = questions.ConfirmFormat(TextOf(reply), device);
        hr = WritePacket(goAhead ? PacketType::Ok : PacketType::Abort);
        if (FAILED(hr))
            return hr;
        if (!goAhead)
            return kCancelled;
    } else if (type != PacketType::Ok) {
        Disturbed();
        return E_FAIL;
    }

    uint8_t count[4];
    uint16_t delivered = 0;
    hr = ReadPacket(type, count, sizeof count, delivered, nullptr, 0);
    if (FAILED(hr))
        return hr;
    if (type != PacketType::StepCount || delivered < sizeof count) {
        Disturbed();
        return E_FAIL;
    }
    steps = GetBigEndian32(count);
    return S_OK;
}

HRESULT PacketChannel::FormatStep(bool stop)
{
    HRESULT hr = WaitForAnswer(0);
    if (FAILED(hr))
        return hr;
    hr = WritePacket(stop ? PacketType::Abort : PacketType::Ok);
    if (FAILED(hr))
        return hr;
    return stop ? kCancelled : S_OK;
}

HRESULT PacketChannel::NewDrawer(const RemoteItem& parent)
{
    const HRESULT hr = SendRequest(PacketType::NewDrawer, WithTerminator(RemotePath(parent)));
    return FAILED(hr) ? hr : WaitForAnswer(0);
}

HRESULT PacketChannel::FinishSetup()
{
    const HRESULT hr = WritePacket(PacketType::FinishSetup);
    return FAILED(hr) ? hr : WaitForAnswer(0);
}

HRESULT PacketChannel::GetLastError(uint32_t& code, std::string& text)
{
    code = 0;
    text.clear();
    HRESULT hr = WriteRepliedPacket(PacketType::GetLastError);
    if (FAILED(hr))
        return hr;
    // A server that keeps sending something else is not waited for forever.
    for (int skipped = 0; skipped < 1000; ++skipped) {
        PacketType type;
        std::vector<uint8_t> reply;
        hr = ReadReply(type, reply);
        if (FAILED(hr))
            return hr;
        if (type == PacketType::Abort)
            return S_OK;
        if (type == PacketType::ErrorReport) {
            if (reply.size() >= 4) {
                code = GetBigEndian32(reply.data());
                text = TextOf(reply, 4);
            }
            Settled();
            return S_OK;
        }
        Disturbed();
    }
    return E_FAIL;
}

}  // namespace dm
