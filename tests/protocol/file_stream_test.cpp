#include "support/channel_pair.h"

#include <gtest/gtest.h>

namespace dm {
namespace {

using test::BigEndian32;
using test::ChannelPair;
using test::PeerThread;

std::vector<uint8_t> Pattern(size_t size)
{
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < size; ++i)
        data[i] = uint8_t(i * 7 + i / 251);
    return data;
}

HRESULT WriteWhole(PacketChannel& channel, const std::vector<uint8_t>& data, uint32_t piece)
{
    HRESULT hr = channel.BeginFileWrite(uint32_t(data.size()));
    for (size_t at = 0; SUCCEEDED(hr) && at < data.size(); at += piece) {
        const uint32_t count = uint32_t(std::min<size_t>(piece, data.size() - at));
        hr = channel.WriteFileData(data.data() + at, count, nullptr);
    }
    const HRESULT ended = channel.EndFileWrite();
    return FAILED(hr) ? hr : ended;
}

// A stream's size and the sender's buffer size.
std::string Header(uint32_t size, uint16_t bufferSize)
{
    return BigEndian32(size) + BigEndian32(bufferSize);
}

// With the smallest buffer each data packet carries one byte.
TEST(FileStream, FilesArriveWholeInBothDirectionsAtEveryPacketBoundary)
{
    for (uint32_t packetSize : {512u, 5u}) {
        for (size_t size : {0, 1, 507, 508, 509, 5000}) {
            if (packetSize == 5 && size > 600)
                continue;
            SCOPED_TRACE(testing::Message() << "packet " << packetSize << ", size " << size);
            ChannelPair pair(packetSize);
            pair.pcLink->RecordWrites(true);
            const std::vector<uint8_t> file = Pattern(size);
            for (bool toAmiga : {true, false}) {
                PacketChannel& writer = toAmiga ? *pair.pc : *pair.amiga;
                PacketChannel& reader = toAmiga ? *pair.amiga : *pair.pc;
                std::vector<uint8_t> got;
                uint32_t gotSize = 0;
                HRESULT read = E_FAIL;
                {
                    PeerThread other([&] {
                        if (toAmiga) {
                            read = reader.ReadWholeFile(got, gotSize, 0);
                            return;
                        }
                        // The PC reads in pieces smaller than a packet, and never past a piece.
                        read = reader.BeginFileRead(&gotSize, 0);
                        uint8_t piece[101];
                        for (uint32_t n = 1; SUCCEEDED(read) && n && got.size() < gotSize;) {
                            piece[100] = 0xA5;
                            read = reader.ReadFileData(piece, 100, &n);
                            EXPECT_EQ(piece[100], 0xA5);
                            got.insert(got.end(), piece, piece + std::min(n, 100u));
                        }
                        const HRESULT ended = reader.EndFileRead();
                        read = FAILED(read) ? read : ended;
                    });
                    EXPECT_EQ(WriteWhole(writer, file, 333), S_OK);
                }
                EXPECT_EQ(read, S_OK);
                EXPECT_EQ(gotSize, size);
                EXPECT_EQ(got, file);
                if (toAmiga && packetSize == 5) {
                    size_t onePerByte = 0;
                    for (const std::string& write : pair.pcLink->TakeRecordedWrites())
                        onePerByte +=
                            write.size() == 12 + 5 + 4 && write[1] == char(PacketType::FileData);
                    EXPECT_EQ(onePerByte, size);
                }
            }
        }
    }
}

// The Amiga side sends a stream packet by packet, as a scripted server would.
struct ScriptedSender {
    PacketChannel& channel;
    HRESULT Send(PacketType type, const std::string& data = {})
    {
        HRESULT hr = test::Send(channel, type, data);
        if (SUCCEEDED(hr) && (type == PacketType::FileHeader || type == PacketType::FileData))
            hr = channel.WaitForAnswer(0);
        return hr;
    }
};

// After a header announcing 8 bytes: an offset already taken is skipped; a later one, or more
// data than remains, is refused and nothing reaches the caller.
TEST(FileStream, DataIsTakenOnlyInOrderAndWithinWhatRemains)
{
    struct Case {
        const char* what;
        std::vector<std::pair<uint32_t, std::string>> packets;
        HRESULT read, lastAnswer;
        std::string got;
    };
    const Case cases[] = {
        {"an offset again", {{0, "abcd"}, {0, "abcd"}, {4, "efgh"}}, S_OK, S_OK, "abcdefgh"},
        {"an offset ahead", {{4, "efgh"}}, E_FAIL, E_FAIL, ""},
        {"more than the whole", {{0, "0123456789abcdef"}}, E_FAIL, kCancelled, ""},
        {"more than remains", {{0, "0123"}, {4, "456789"}}, E_FAIL, kCancelled, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ChannelPair pair;
        std::vector<uint8_t> got;
        uint32_t size = 0;
        HRESULT read = E_FAIL, answer = S_OK;
        {
            PeerThread pc([&] { read = pair.pc->ReadWholeFile(got, size, 0); });
            ScriptedSender amiga {*pair.amiga};
            EXPECT_EQ(amiga.Send(PacketType::FileHeader, Header(8, 64)), S_OK);
            for (const auto& [offset, bytes] : c.packets)
                answer = amiga.Send(PacketType::FileData, BigEndian32(offset) + bytes);
            if (SUCCEEDED(answer)) {
                EXPECT_EQ(amiga.Send(PacketType::FileEnd), S_OK);
            }
        }
        EXPECT_EQ(read, c.read);
        EXPECT_EQ(answer, c.lastAnswer);
        EXPECT_EQ(std::string(got.begin(), got.end()), c.got);
    }
}

TEST(FileStream, BadHeadersAreRefused)
{
    struct Case {
        PacketType type;
        std::string data;
        HRESULT expected;
    };
    for (const Case& c : {Case {PacketType::FileHeader, Header(10, 4), E_INVALIDARG},
                          Case {PacketType::FileHeader, "short", E_FAIL},
                          Case {PacketType::Progress, std::string(12, 'p'), E_FAIL}}) {
        ChannelPair pair;
        HRESULT begun = S_OK;
        {
            PeerThread pc([&] { begun = pair.pc->BeginFileRead(nullptr, 0); });
            test::Send(*pair.amiga, c.type, c.data);
            EXPECT_EQ(pair.amiga->WaitForAnswer(0), kCancelled);  // the PC gives up with Abort
        }
        EXPECT_EQ(begun, c.expected);
    }
}

TEST(FileStream, WritingFewerOrMoreBytesThanAnnouncedFailsAndTheReaderDropsTheFile)
{
    // Six of ten bytes and then the end; five of eight and then four more (still buffered).
    for (const bool tooMany : {false, true}) {
        SCOPED_TRACE(tooMany);
        ChannelPair pair;
        std::vector<uint8_t> got;
        uint32_t size = 0;
        HRESULT read = S_OK, failed = S_OK;
        {
            PeerThread amiga([&] { read = pair.amiga->ReadWholeFile(got, size, 0); });
            ASSERT_EQ(pair.pc->BeginFileWrite(tooMany ? 8 : 10), S_OK);
            EXPECT_EQ(
                pair.pc->WriteFileData(tooMany ? "12345" : "123456", tooMany ? 5 : 6, nullptr),
                S_OK);
            if (tooMany)
                failed = pair.pc->WriteFileData("6789", 4, nullptr);
            const HRESULT ended = pair.pc->EndFileWrite();
            if (!tooMany)
                failed = ended;
        }
        EXPECT_EQ(failed, E_FAIL);
        EXPECT_EQ(read, kCancelled);
        EXPECT_TRUE(got.empty());
    }
}

TEST(FileStream, AReaderThatStopsEarlyAbortsTheWriter)
{
    ChannelPair pair(64);
    const std::vector<uint8_t> file = Pattern(1000);
    HRESULT written = S_OK, ended = E_FAIL;
    uint8_t first[100];
    uint32_t read = 0;
    {
        PeerThread amiga([&] { written = WriteWhole(*pair.amiga, file, 1000); });
        ASSERT_EQ(pair.pc->BeginFileRead(nullptr, 0), S_OK);
        EXPECT_EQ(pair.pc->ReadFileData(first, sizeof first, &read), S_OK);
        ended = pair.pc->EndFileRead();
    }
    EXPECT_EQ(read, 100u);
    EXPECT_TRUE(std::equal(first, first + 100, file.begin()));
    EXPECT_EQ(written, kCancelled);
    EXPECT_EQ(ended, S_OK);
}

TEST(FileStream, ASecondStreamWhileOneIsOpenIsRefusedWithAbort)
{
    ChannelPair pair;
    HRESULT begun = E_FAIL, data = S_OK, second = S_OK;
    {
        PeerThread amiga([&] {
            begun = pair.amiga->BeginFileRead(nullptr, 0);
            uint8_t buffer[10];
            data = pair.amiga->ReadFileData(buffer, sizeof buffer, nullptr);
        });
        ASSERT_EQ(pair.pc->BeginFileWrite(10), S_OK);
        second = pair.pc->BeginFileRead(nullptr, 0);
    }
    EXPECT_EQ(begun, S_OK);
    EXPECT_EQ(second, E_FAIL);
    EXPECT_EQ(data, kCancelled);  // the reader heard the Abort
}

}  // namespace
}  // namespace dm
