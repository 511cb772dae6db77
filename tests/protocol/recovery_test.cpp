// Every way a packet or an answer word can be damaged or lost, each followed by byte-identical
// delivery of what was sent.
#include "core/crc32.h"
#include "protocol/byte_order.h"
#include "support/channel_pair.h"

#include <gtest/gtest.h>

#include <chrono>

namespace dm {
namespace {

using test::ChannelPair;
using test::PeerThread;
using test::Received;

// The payloads the PC sends in every case, and what the Amiga side must see of them.
const std::vector<std::string> kPayloads = {"first payload", std::string(700, 'b'), "third"};

std::vector<std::string> SendAll(ChannelPair& pair)
{
    std::vector<std::string> seen;
    {
        PeerThread peer([&] {
            for (size_t i = 0; i < kPayloads.size(); ++i) {
                const Received r = test::ReadOne(*pair.amiga);
                if (FAILED(r.result))
                    return;
                seen.push_back(r.data);
            }
        });
        for (const std::string& payload : kPayloads)
            EXPECT_EQ(test::Send(*pair.pc, PacketType::FileData, payload), S_OK);
    }
    return seen;
}

bool IsAnswerWord(const std::string& bytes, const char* word)
{
    return bytes == std::string(word, 4);
}

TEST(Recovery, DamagedPacketsAreResentUntilTheyArriveWhole)
{
    struct Fault {
        const char* what;
        std::function<void(std::string&)> apply;
    };
    const Fault faults[] = {
        {"bad header CRC",
         [](std::string& b) {
             b[5] ^= 0x40;
         }},
        {"bad data CRC",
         [](std::string& b) {
             b[20] ^= 0x01;
         }},
        {"bad trailing CRC",
         [](std::string& b) {
             b.back() ^= 0x80;
         }},
        {"missing data",
         [](std::string& b) {
             b.resize(b.size() - 9);
         }},
    };
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.what);
        ChannelPair pair;
        pair.pcLink->SetWriteFilter([&](std::string& bytes, uint64_t index) {
            if (index == 1)  // the second payload, on its first transmission
                fault.apply(bytes);
        });
        EXPECT_EQ(SendAll(pair), kPayloads);
    }
}

TEST(Recovery, ResendRequestsAreHonouredWithoutLimit)
{
    ChannelPair pair(512, 2);
    int turned = 0;
    pair.amigaLink->SetWriteFilter([&](std::string& bytes, uint64_t) {
        if (IsAnswerWord(bytes, "PkOk") && turned < 6) {
            bytes = "PkRs";
            ++turned;
        }
    });
    EXPECT_EQ(SendAll(pair), kPayloads);
    EXPECT_EQ(turned, 6);
}

TEST(Recovery, FiftyOneUnexpectedAnswersEndTheWrite)
{
    ChannelPair pair;
    pair.amigaLink->SetWriteFilter([](std::string& bytes, uint64_t) {
        if (IsAnswerWord(bytes, "PkOk"))
            bytes = "Junk";
    });
    pair.pcLink->RecordWrites(true);
    HRESULT result;
    {
        PeerThread peer([&] {
            while (SUCCEEDED(test::ReadOne(*pair.amiga).result)) {
            }
        });
        result = test::Send(*pair.pc, PacketType::FileData, "x");
        pair.pc->Close();  // lets the Amiga side's pending read end at once
    }
    EXPECT_EQ(result, E_FAIL);
    EXPECT_EQ(pair.pcLink->TakeRecordedWrites().size(), 51u);
}

TEST(Recovery, ADamagedAnswerLeadsToADuplicateThatIsNotDeliveredTwice)
{
    ChannelPair pair;
    bool damaged = false;
    pair.amigaLink->SetWriteFilter([&](std::string& bytes, uint64_t) {
        if (IsAnswerWord(bytes, "PkOk") && !damaged) {
            bytes = "PkXX";
            damaged = true;
        }
    });
    EXPECT_EQ(SendAll(pair), kPayloads);
    EXPECT_TRUE(damaged);
}

// Raw packet bytes as the Amiga side would send them.
std::string RawPacket(PacketType type, const std::string& data, int32_t sequence)
{
    uint8_t header[12];
    PutBigEndian16(header, uint16_t(type));
    PutBigEndian16(header + 2, uint16_t(data.size()));
    PutBigEndian32(header + 4, uint32_t(sequence));
    PutBigEndian32(header + 8, ComputeCrc32(header, 8));
    std::string packet(reinterpret_cast<char*>(header), 12);
    if (!data.empty()) {
        uint8_t crc[4];
        PutBigEndian32(crc, ComputeCrc32(data.data(), data.size()));
        packet += data + std::string(reinterpret_cast<char*>(crc), 4);
    }
    return packet;
}

std::string RawRead(MemoryLink& link, uint32_t count)
{
    std::string bytes(count, '\0');
    if (FAILED(link.Read(bytes.data(), count, -3000)))
        return {};
    return bytes;
}

TEST(AnswerRecovery, AWriterWhoseAnswerWasLostAsksForItBySequence)
{
    for (const char* reply : {"PkOk", "PkRs"}) {
        SCOPED_TRACE(reply);
        ChannelPair pair;
        MemoryLink& amiga = *pair.amigaLink;
        std::string first, request, again;
        {
            PeerThread peer([&] {
                first = RawRead(amiga, 12 + 5 + 4);  // read the packet, answer nothing
                request = RawRead(amiga, 4);
                amiga.Write(reply, 4, 0);
                if (std::string(reply) == "PkRs") {
                    again = RawRead(amiga, 12 + 5 + 4);
                    amiga.Write("PkOk", 4, 0);
                }
            });
            EXPECT_EQ(test::Send(*pair.pc, PacketType::Rename, "DH0:a"), S_OK);
        }
        EXPECT_EQ(first, RawPacket(PacketType::Rename, "DH0:a", 1));
        EXPECT_EQ(request, std::string("\0\0\0\1", 4));
        if (std::string(reply) == "PkRs") {
            EXPECT_EQ(again, RawPacket(PacketType::Rename, "DH0:a", -1));
        }
        EXPECT_EQ(pair.pc->SendSequence(), 2);
        // The time-out that started the recovery is not reported later.
        EXPECT_EQ(pair.pcLink->PendingErrorId(), 0u);
    }
}

TEST(AnswerRecovery, AReaderAskedForALostAnswerGivesItAndResends)
{
    ChannelPair pair;
    MemoryLink& amiga = *pair.amigaLink;
    Received got;
    std::string answer, reply, recovered, resent;
    {
        PeerThread peer([&] {
            amiga.Write(RawPacket(PacketType::Progress, "abc", 7).data(), 12 + 3 + 4, 0);
            answer = RawRead(amiga, 4);  // the Amiga side never saw this one
            reply = RawRead(amiga, 12 + 2 + 4);
            amiga.Write("\0\0\0\7", 4, 0);  // "where is my answer to packet 7?"
            recovered = RawRead(amiga, 4);
            resent = RawRead(amiga, 12 + 2 + 4);
            amiga.Write("PkOk", 4, 0);
        });
        got = test::ReadOne(*pair.pc);
        EXPECT_EQ(test::Send(*pair.pc, PacketType::Ok, "ok"), S_OK);
    }
    EXPECT_EQ(got.data, "abc");
    EXPECT_EQ(answer, "PkOk");
    EXPECT_EQ(reply, RawPacket(PacketType::Ok, "ok", 1));
    EXPECT_EQ(recovered, "PkOk");
    EXPECT_EQ(resent, RawPacket(PacketType::Ok, "ok", -1));
    EXPECT_EQ(pair.pc->SendSequence(), 2);
}

TEST(Recovery, ANewPacketWhileAResendIsOwedIsAProtocolError)
{
    ChannelPair pair;
    MemoryLink& amiga = *pair.amigaLink;
    std::string answer;
    Received got;
    {
        PeerThread peer([&] {
            std::string damaged = RawPacket(PacketType::FileData, "data", 1);
            damaged[13] ^= 1;
            amiga.Write(damaged.data(), uint32_t(damaged.size()), 0);
            answer = RawRead(amiga, 4);
            const std::string next = RawPacket(PacketType::FileData, "next", 2);
            amiga.Write(next.data(), uint32_t(next.size()), 0);
        });
        got = test::ReadOne(*pair.pc);
    }
    EXPECT_EQ(answer, "PkRs");
    EXPECT_EQ(got.result, E_FAIL);
}

}  // namespace
}  // namespace dm
