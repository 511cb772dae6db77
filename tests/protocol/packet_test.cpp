#include "support/channel_pair.h"

#include <gtest/gtest.h>

namespace dm {
namespace {

using test::BigEndian32;
using test::ChannelPair;
using test::PeerThread;

TEST(PacketWire, DataBeyondTheCapacityIsCheckedButNotDelivered)
{
    ChannelPair pair;
    std::string big(3000, 'x');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = char(i * 13);
    PacketType type;
    uint8_t buffer[10] = {};
    uint16_t delivered = 0;
    HRESULT read;
    {
        PeerThread peer(
            [&] { read = pair.amiga->ReadPacket(type, buffer, 10, delivered, nullptr, 0); });
        EXPECT_EQ(test::Send(*pair.pc, PacketType::FileData, big), S_OK);
    }
    EXPECT_EQ(read, S_OK);
    EXPECT_EQ(delivered, 10);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 10), big.substr(0, 10));
}

TEST(Handshake, ExchangesTheIdentificationOnceWithTheKey)
{
    ChannelPair pair;
    pair.pcLink->SetHandshakeKey(0x12345678u);
    pair.pcLink->RecordWrites(true);
    bool verified = false;
    {
        // The Amiga side answers an identification inside whatever read it is doing.
        PeerThread peer([&] {
            const test::Received r = test::ReadOne(*pair.amiga);
            EXPECT_EQ(r.type, PacketType::GetLastError);
        });
        verified = pair.pc->Handshake();
        EXPECT_EQ(pair.pc->WritePacket(PacketType::GetLastError), S_OK);
    }
    EXPECT_TRUE(verified);
    EXPECT_TRUE(pair.pcState.handshakeDone);
    EXPECT_TRUE(pair.amigaState.peerVerified);
    EXPECT_TRUE(pair.amigaState.peerKeyPresent);
    EXPECT_EQ(pair.amigaState.peerKey, 0x12345678u);
    const std::vector<std::string> writes = pair.pcLink->TakeRecordedWrites();
    ASSERT_GE(writes.size(), 1u);
    EXPECT_EQ(writes[0].size(), 12u + 14u + 4u);
    EXPECT_EQ(writes[0].substr(12, 14), std::string("Quenzor(r)") + BigEndian32(0x12345678u));

    // Done once per process: no more packets.
    EXPECT_TRUE(pair.pc->Handshake());
    EXPECT_EQ(pair.pcLink->WriteCount(), writes.size());
}

}  // namespace
}  // namespace dm
