// File streams over the packet layer: a FileHeader, FileData packets tagged with their offsets,
// each answered at command level, and FileEnd (or Abort from either side).
#include "protocol/packet_channel.h"

#include "core/diag_log.h"
#include "protocol/byte_order.h"

#include <algorithm>
#include <cstring>

namespace dm {

namespace {
constexpr uint32_t kOffsetSize = 4;
constexpr uint16_t kSmallestStreamBuffer = 5;
}  // namespace

HRESULT PacketChannel::BeginFileRead(uint32_t* size, int32_t hint)
{
    if (StreamOpen()) {
        WritePacket(PacketType::Abort);
        return E_FAIL;
    }
    PacketType type;
    uint8_t header[8];
    uint16_t delivered = 0;
    HRESULT hr = ReadPacket(type, header, sizeof header, delivered, nullptr, hint);
    if (FAILED(hr))
        return hr;
    if (type == PacketType::Abort)
        return kCancelled;
    if (type != PacketType::FileHeader || delivered < sizeof header) {
        WritePacket(PacketType::Abort);
        return E_FAIL;
    }
    const uint32_t total = GetBigEndian32(&header[0]);
    const uint16_t bufferSize = GetBigEndian16(&header[6]);
    if (bufferSize <= kOffsetSize) {
        WritePacket(PacketType::Abort);
        return E_INVALIDARG;
    }
    try {
        stream_.buffer.assign(bufferSize, 0);
    } catch (const std::bad_alloc&) {
        WritePacket(PacketType::Abort);
        return E_OUTOFMEMORY;
    }
    stream_.bufferSize = bufferSize;
    stream_.size = total;
    stream_.remaining = total;
    stream_.offset = 0;
    stream_.available = 0;
    stream_.cursor = 0;
    stream_.finished = false;
    if (size)
        *size = total;
    hr = WriteRepliedPacket(PacketType::Ok);
    if (FAILED(hr))
        CloseStream();
    return hr;
}

HRESULT PacketChannel::ReadFilePacket(PacketType answer)
{
    while (true) {
        PacketType type;
        uint16_t delivered = 0;
        const HRESULT hr =
            ReadPacket(type, stream_.buffer.data(), stream_.bufferSize, delivered, nullptr, 0);
        if (FAILED(hr))
            return hr;
        if (type == PacketType::Abort) {
            stream_.finished = true;
            return kCancelled;
        }
        if (type != PacketType::FileData || delivered < kOffsetSize)
            Disturbed();
        if (type == PacketType::FileEnd) {
            stream_.finished = true;
            return E_FAIL;  // data was still expected
        }
        if (type != PacketType::FileData)
            continue;
        if (delivered < kOffsetSize)
            return E_FAIL;

        const uint32_t offset = GetBigEndian32(stream_.buffer.data());
        if (offset != stream_.offset)
            Disturbed();
        if (offset < stream_.offset) {
            if (LogEnabled())
                LogLine("READFPACKET - OLD OFFSET: %d (%d)\n", int(offset), int(stream_.offset));
            const HRESULT ok = WriteRepliedPacket(PacketType::Ok);
            if (FAILED(ok))
                return ok;
            continue;
        }
        if (offset > stream_.offset) {
            if (LogEnabled())
                LogLine("READFPACKET - WRONG OFFSET: %d (%d)\n", int(offset), int(stream_.offset));
            return E_FAIL;
        }
        const uint32_t count = delivered - kOffsetSize;
        if (count > stream_.remaining) {
            // More than the header announced: the reader's buffer holds only that much.
            WritePacket(PacketType::Abort);
            stream_.finished = true;
            return E_FAIL;
        }
        const HRESULT answered =
            answer == PacketType::Ok ? WriteRepliedPacket(answer) : WritePacket(answer);
        if (FAILED(answered))
            return answered;
        stream_.offset += count;
        stream_.remaining -= count;
        stream_.available = count;
        stream_.cursor = kOffsetSize;
        return S_OK;
    }
}

HRESULT PacketChannel::ReadFileData(void* buffer, uint32_t count, uint32_t* read)
{
    if (!StreamOpen())
        return E_FAIL;
    auto* out = static_cast<uint8_t*>(buffer);
    uint32_t copied = 0;
    HRESULT hr = S_OK;
    while (copied < count) {
        if (stream_.available == 0) {
            if (stream_.remaining == 0)
                break;
            hr = ReadFilePacket(PacketType::Ok);
            if (FAILED(hr))
                break;
            continue;
        }
        const uint32_t take = std::min(stream_.available, count - copied);
        std::memcpy(out + copied, &stream_.buffer[stream_.cursor], take);
        stream_.cursor += take;
        stream_.available -= take;
        copied += take;
    }
    if (read)
        *read = copied;
    return hr;
}

HRESULT PacketChannel::EndFileRead()
{
    if (!StreamOpen())
        return S_OK;
    HRESULT hr = S_OK;
    if (!stream_.finished) {
        if (stream_.remaining == 0) {
            while (true) {
                PacketType type;
                uint16_t delivered;
                hr = ReadPacket(type, nullptr, 0, delivered, nullptr, 0);
                if (FAILED(hr))
                    break;
                if (type == PacketType::FileEnd) {
                    Settled();
                    break;
                }
                Disturbed();
                if (type == PacketType::Abort) {
                    hr = kCancelled;
                    break;
                }
            }
        } else {
            // The reader stops early: answer the next data packet with Abort.
            hr = ReadFilePacket(PacketType::Abort);
        }
    }
    CloseStream();
    return hr;
}

HRESULT PacketChannel::ReadWholeFile(std::vector<uint8_t>& data, uint32_t& size, int32_t hint)
{
    uint32_t total = 0;
    HRESULT hr = BeginFileRead(&total, hint);
    if (FAILED(hr))
        return hr;
    std::vector<uint8_t> content;
    try {
        content.resize(std::max<uint32_t>(total, 1));
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    }
    uint32_t read = 0;
    if (SUCCEEDED(hr))
        hr = ReadFileData(content.data(), total, &read);
    if (SUCCEEDED(hr) && read != total)
        hr = E_FAIL;
    const HRESULT ended = EndFileRead();
    if (SUCCEEDED(hr))
        hr = ended;
    if (FAILED(hr))
        return hr;
    content.resize(total);
    data = std::move(content);
    size = total;
    return S_OK;
}

HRESULT PacketChannel::BeginFileWrite(uint32_t size)
{
    if (StreamOpen()) {
        WritePacket(PacketType::Abort);
        return E_FAIL;
    }
    const uint16_t bufferSize =
        std::max<uint16_t>(uint16_t(packetSize_ & 0xFFFF), kSmallestStreamBuffer);
    try {
        stream_.buffer.assign(bufferSize, 0);
    } catch (const std::bad_alloc&) {
        WritePacket(PacketType::Abort);
        return E_OUTOFMEMORY;
    }
    uint8_t header[8];
    PutBigEndian32(&header[0], size);
    PutBigEndian32(&header[4], bufferSize);
    HRESULT hr = WriteRepliedPacket(PacketType::FileHeader, header, sizeof header);
    if (SUCCEEDED(hr))
        hr = WaitForAnswer(0);
    if (FAILED(hr)) {
        CloseStream();
        return hr;
    }
    stream_.bufferSize = bufferSize;
    stream_.size = size;
    stream_.remaining = size;
    stream_.offset = 0;
    stream_.available = 0;
    stream_.cursor = kOffsetSize;
    stream_.writing = true;
    return S_OK;
}

HRESULT PacketChannel::SendFileDataPacket(uint16_t length)
{
    HRESULT hr = WriteRepliedPacket(PacketType::FileData, stream_.buffer.data(), length);
    if (SUCCEEDED(hr))
        hr = WaitForAnswer(0);
    if (FAILED(hr))
        return hr;
    const uint32_t count = length - kOffsetSize;
    stream_.offset += count;
    stream_.remaining -= count;
    PutBigEndian32(stream_.buffer.data(), stream_.offset);
    stream_.available = 0;
    stream_.cursor = kOffsetSize;
    return S_OK;
}

HRESULT PacketChannel::WriteFileData(const void* data, uint32_t count, uint32_t* written)
{
    if (!StreamOpen())
        return E_FAIL;
    const auto* in = static_cast<const uint8_t*>(data);
    uint32_t taken = 0;
    HRESULT hr = S_OK;
    while (taken < count) {
        // Never more than announced, counting what waits in the buffer.
        if (count - taken > stream_.remaining - stream_.available) {
            WritePacket(PacketType::Abort);
            stream_.writing = false;
            hr = E_FAIL;
            break;
        }
        const uint32_t room = stream_.bufferSize - stream_.cursor;
        const uint32_t take = std::min(room, count - taken);
        std::memcpy(&stream_.buffer[stream_.cursor], in + taken, take);
        stream_.cursor += take;
        stream_.available += take;
        taken += take;
        if (stream_.cursor == stream_.bufferSize) {
            hr = SendFileDataPacket(stream_.bufferSize);
            if (FAILED(hr)) {
                stream_.writing = false;
                break;
            }
        }
    }
    if (written)
        *written = taken;
    return hr;
}

HRESULT PacketChannel::EndFileWrite()
{
    if (!StreamOpen())
        return S_OK;
    HRESULT hr = S_OK;
    if (stream_.available > 0 && stream_.writing)
        hr = SendFileDataPacket(uint16_t(kOffsetSize + stream_.available));
    const bool writing = stream_.writing;
    const bool complete = stream_.remaining == 0;
    CloseStream();
    if (FAILED(hr))
        return hr;
    if (!writing)
        return S_OK;
    if (complete) {
        hr = WritePacket(PacketType::FileEnd);
        if (SUCCEEDED(hr))
            Settled();  // the stream is over; the peer waits for the next request
        return hr;
    }
    // Fewer bytes than announced: the peer drops the file, and so must the caller.
    hr = WritePacket(PacketType::Abort);
    return FAILED(hr) ? hr : E_FAIL;
}

}  // namespace dm
