// Every way a packet or an answer word can be damaged or lost, each followed by byte-identical
// delivery of what was sent.
#include "protocol/remote_errors.h"
#include "resources/string_ids.h"
#include "support/channel_pair.h"

#include <gtest/gtest.h>

#include <chrono>

namespace dm {
namespace {

using test::ChannelPair;
using test::PeerThread;
using test::RawPacket;
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
        pair.pcLink->RecordWrites(true);
        pair.pcLink->SetWriteFilter([&](std::string& bytes, uint64_t index) {
            if (index == 1)  // the second payload, on its first transmission
                fault.apply(bytes);
        });
        EXPECT_EQ(SendAll(pair), kPayloads);
        // Sent again whole, marked as a resend by its negated sequence.
        const std::vector<std::string> writes = pair.pcLink->TakeRecordedWrites();
        ASSERT_EQ(writes.size(), kPayloads.size() + 1);
        EXPECT_EQ(writes[2], RawPacket(PacketType::FileData, kPayloads[1], -2));
        // Each packet counted once on both sides, however often it went.
        EXPECT_EQ(pair.pc->SendSequence(), int32_t(kPayloads.size() + 1));
        EXPECT_EQ(pair.amiga->LastAcknowledged(), kPayloads.size());
    }
}

// Resend requests are honoured without limit; the 51st unexpected answer ends the write.
TEST(Recovery, ResendRequestsAreHonouredWithoutLimitButUnexpectedAnswersAreNot)
{
    ChannelPair resent(512, 2);
    int turned = 0;
    resent.amigaLink->SetWriteFilter([&](std::string& bytes, uint64_t) {
        if (bytes == "PkOk" && turned < 6) {
            bytes = "PkRs";
            ++turned;
        }
    });
    EXPECT_EQ(SendAll(resent), kPayloads);
    EXPECT_EQ(turned, 6);

    ChannelPair pair;
    pair.amigaLink->SetWriteFilter([](std::string& bytes, uint64_t) {
        if (bytes == "PkOk")
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

// The Amiga side asks by sequence for the answer to its packet 7 while the PC waits for the
// answer to its own. As written the PC resends its packet negated; but the Amiga side, answered,
// goes on to read a new packet and would drop a negated one as a duplicate: with line recovery
// the PC's packet goes again as new.
TEST(AnswerRecovery, AReaderAskedForALostAnswerGivesItAndResends)
{
    for (const bool recovery : {false, true}) {
        SCOPED_TRACE(recovery ? "line recovery" : "as written");
        ChannelPair pair;
        pair.pc->SetLineRecovery(recovery);
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
        EXPECT_EQ(resent, RawPacket(PacketType::Ok, "ok", recovery ? 1 : -1));
        EXPECT_EQ(pair.pc->SendSequence(), 2);
        EXPECT_EQ(pair.pc->LastAcknowledged(), 7u);
    }
}

// While the PC waits for a packet, the Amiga side asks for the answer to one by sequence: only the
// packet the PC took last is answered as taken; an older or a newer one never arrived.
TEST(AnswerRecovery, AReaderConfirmsOnlyThePacketItTookLast)
{
    for (const int asked : {7, 6, 8}) {
        SCOPED_TRACE(asked);
        ChannelPair pair;
        MemoryLink& amiga = *pair.amigaLink;
        std::string answer;
        {
            PeerThread peer([&] {
                amiga.Write(RawPacket(PacketType::Progress, "abc", 7).data(), 12 + 3 + 4, 0);
                RawRead(amiga, 4);
                const char request[4] = {0, 0, 0, char(asked)};
                amiga.Write(request, 4, 0);
                answer = RawRead(amiga, 4);
                // Its next packet, or the one the PC never had sent again.
                const int32_t next = asked == 7 ? 8 : -asked;
                amiga.Write(RawPacket(PacketType::Progress, "def", next).data(), 12 + 3 + 4, 0);
            });
            EXPECT_EQ(test::ReadOne(*pair.pc).data, "abc");
            EXPECT_EQ(test::ReadOne(*pair.pc).data, "def");
        }
        EXPECT_EQ(answer, asked == 7 ? "PkOk" : "PkRs");
    }
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

// The GetLastError exchange after a failed operation may itself need answer recovery, which
// clears the pending error: the message must still name the time-out that ended the operation,
// not the "Unspecified error." the server reports for it.
TEST(AnswerRecovery, TheTransportErrorShownIsTheOneThatEndedTheOperation)
{
    ChannelPair pair;
    MemoryLink& amiga = *pair.amigaLink;
    std::string request, answer;
    pair.pcLink->SetPendingError(IDS_ERR_TCP_READ_TIMEOUT);
    RemoteErrorMessage message;
    HRESULT reported;
    {
        PeerThread peer([&] {
            request = RawRead(amiga, 12);  // GetLastError; the answer word is lost
            const std::string report =
                RawPacket(PacketType::ErrorReport, std::string("\0\0\0\1\0", 5), 1);
            amiga.Write(report.data(), uint32_t(report.size()), 0);
            answer = RawRead(amiga, 4);
        });
        reported = ReportRemoteError(*pair.pc, nullptr, E_FAIL, &message, false);
    }
    EXPECT_EQ(request, RawPacket(PacketType::GetLastError, "", 1));
    EXPECT_EQ(answer, "PkOk");
    EXPECT_EQ(reported, S_OK);
    EXPECT_TRUE(message.shown);
    EXPECT_EQ(message.text, "Timeout reading from TCP/IP connection.");
    EXPECT_EQ(pair.pcLink->PendingErrorId(), 0u);

    // With nothing pending from the operation, a failed exchange shows its own transport error.
    pair.amiga->Close();
    message = {};
    EXPECT_EQ(ReportRemoteError(*pair.pc, nullptr, E_FAIL, &message, false), E_FAIL);
    EXPECT_EQ(message.text, "Error reading from COM port.");
}

// A request and reply exchange against an Amiga side that runs the protocol as written, with
// one answer word of either side lost or damaged: every packet arrives once, in order, both
// ways. As written, the two sides take each other's packets for bad answers until the retries
// run out.
TEST(LineRecovery, EveryLostOrDamagedAnswerWordOfAnExchangeIsRecovered)
{
    constexpr int kRounds = 4;
    for (const bool amigaSide : {true, false}) {
        for (const bool lose : {true, false}) {
            for (int victim = 0; victim < kRounds - 1; ++victim) {
                SCOPED_TRACE(std::string(amigaSide ? "Amiga side's " : "PC's ") +
                             (lose ? "answer lost" : "answer damaged") + " in round " +
                             std::to_string(victim));
                ChannelPair pair;
                pair.SetTimeouts(400, 400);
                pair.amiga->SetLineRecovery(false);
                MemoryLink& faulty = amigaSide ? *pair.amigaLink : *pair.pcLink;
                int answers = 0;
                faulty.SetWriteFilter([&](std::string& bytes, uint64_t) {
                    if (bytes == "PkOk" && answers++ == victim) {
                        if (lose)
                            bytes.clear();
                        else
                            bytes[2] ^= 0x21;
                    }
                });
                std::vector<std::string> requests, replies;
                {
                    PeerThread peer([&] {
                        for (int i = 0; i < kRounds; ++i) {
                            const Received r = test::ReadOne(*pair.amiga);
                            if (FAILED(r.result))
                                return;
                            requests.push_back(r.data);
                            if (FAILED(test::Send(*pair.amiga, PacketType::Progress,
                                                  "reply " + std::to_string(i))))
                                return;
                        }
                    });
                    for (int i = 0; i < kRounds; ++i) {
                        EXPECT_EQ(test::Send(*pair.pc, PacketType::Rename,
                                             "request " + std::to_string(i)),
                                  S_OK);
                        const Received r = test::ReadOne(*pair.pc);
                        EXPECT_EQ(r.result, S_OK);
                        replies.push_back(r.data);
                    }
                }
                ASSERT_EQ(requests.size(), size_t(kRounds));
                for (int i = 0; i < kRounds; ++i) {
                    EXPECT_EQ(requests[i], "request " + std::to_string(i));
                    EXPECT_EQ(replies[i], "reply " + std::to_string(i));
                }
                // Both sides counted every packet once, so later recoveries name the right one.
                for (PacketChannel* side : {pair.pc.get(), pair.amiga.get()}) {
                    EXPECT_EQ(side->SendSequence(), kRounds + 1);
                    EXPECT_EQ(side->LastAcknowledged(), uint32_t(kRounds));
                }
                EXPECT_EQ(answers > victim, true);
            }
        }
    }
}

}  // namespace
}  // namespace dm
