// What a request handler needs of the connection once it has a request: replies, answers from
// the PC, and file streams in both directions. The packet channel provides them; a fuzzer or a
// test can provide scripted ones without any transport.
#pragma once

#include "protocol/packet_channel.h"

#include <cstdint>

namespace dm::peer {

class PeerExchange {
public:
    virtual ~PeerExchange() = default;

    virtual HRESULT Send(PacketType type, const void* data = nullptr, uint16_t length = 0) = 0;
    // The PC's Ok (S_OK) or Abort (kCancelled). A question put to the user is waited for
    // without limit.
    virtual HRESULT WaitForAnswer(bool question) = 0;

    virtual HRESULT BeginFileRead(uint32_t* size) = 0;
    virtual HRESULT ReadFileData(void* buffer, uint32_t count, uint32_t* read) = 0;
    virtual HRESULT EndFileRead() = 0;

    virtual HRESULT BeginFileWrite(uint32_t size) = 0;
    virtual HRESULT WriteFileData(const void* data, uint32_t count, uint32_t* written) = 0;
    virtual HRESULT EndFileWrite() = 0;
};

class ChannelExchange : public PeerExchange {
public:
    explicit ChannelExchange(PacketChannel& channel) : channel_(channel) {}

    HRESULT Send(PacketType type, const void* data, uint16_t length) override
    {
        return channel_.WritePacket(type, data, length);
    }
    HRESULT WaitForAnswer(bool question) override
    {
        return channel_.WaitForAnswer(question ? kNoTimeout : 0);
    }
    HRESULT BeginFileRead(uint32_t* size) override { return channel_.BeginFileRead(size, 0); }
    HRESULT ReadFileData(void* buffer, uint32_t count, uint32_t* read) override
    {
        return channel_.ReadFileData(buffer, count, read);
    }
    HRESULT EndFileRead() override { return channel_.EndFileRead(); }
    HRESULT BeginFileWrite(uint32_t size) override { return channel_.BeginFileWrite(size); }
    HRESULT WriteFileData(const void* data, uint32_t count, uint32_t* written) override
    {
        return channel_.WriteFileData(data, count, written);
    }
    HRESULT EndFileWrite() override { return channel_.EndFileWrite(); }

private:
    PacketChannel& channel_;
};

}  // namespace dm::peer
