#include "core/crc32.h"
#include "support/channel_pair.h"

#include <gtest/gtest.h>

namespace dm {
namespace {

using test::BigEndian32;
using test::ChannelPair;
using test::PeerThread;

std::string Bytes(std::initializer_list<int> values)
{
    std::string out;
    for (int v : values)
        out += char(v);
    return out;
}

TEST(Crc32, MatchesTheStandardCheckValues)
{
    EXPECT_EQ(ComputeCrc32("123456789"), 0xCBF43926u);
    EXPECT_EQ(ComputeCrc32(""), 0u);
    Crc32 pieces;
    pieces.Add("1234", 4);
    pieces.Add("56789", 5);
    EXPECT_EQ(pieces.Value(), 0xCBF43926u);
}

TEST(PacketWire, PacketsWithAndWithoutDataAreFramedExactly)
{
    ChannelPair pair;
    pair.pcLink->RecordWrites(true);
    std::vector<test::Received> got;
    {
        PeerThread peer([&] {
            got.push_back(test::ReadOne(*pair.amiga));
            got.push_back(test::ReadOne(*pair.amiga));
        });
        EXPECT_EQ(pair.pc->WritePacket(PacketType::Ok), S_OK);
        EXPECT_EQ(test::Send(*pair.pc, PacketType::OpenFile, std::string("DH0:x\0", 6)), S_OK);
    }
    const std::vector<std::string> writes = pair.pcLink->TakeRecordedWrites();
    ASSERT_EQ(writes.size(), 2u);

    const std::string bare = Bytes({0, 0, 0, 0, 0, 0, 0, 1});
    EXPECT_EQ(writes[0], bare + BigEndian32(ComputeCrc32(bare)));

    const std::string head = Bytes({0, 101, 0, 6, 0, 0, 0, 2});
    const std::string data("DH0:x\0", 6);
    EXPECT_EQ(writes[1],
              head + BigEndian32(ComputeCrc32(head)) + data + BigEndian32(ComputeCrc32(data)));

    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].type, PacketType::Ok);
    EXPECT_EQ(got[0].data, "");
    EXPECT_EQ(got[1].type, PacketType::OpenFile);
    EXPECT_EQ(got[1].data, data);
    EXPECT_EQ(pair.pc->SendSequence(), 3);
    EXPECT_EQ(pair.amiga->LastAcknowledged(), 2u);
}

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
