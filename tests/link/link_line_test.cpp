// What every kind of link does alike on a real line, run over each.
#include "link/link_lines.h"
#include "support/test_files.h"

#include <atomic>
#include <thread>

namespace dm {
namespace {

using test::Clock;
using test::MsSince;
using namespace std::chrono_literals;

struct LineNames {
    template <typename Line>
    static std::string GetName(int)
    {
        return std::is_same_v<Line, test::SerialLine> ? "Serial" : "Tcp";
    }
};

template <typename Line>
using LinkLine = test::LineTest<Line>;
using Lines = ::testing::Types<test::SerialLine, test::TcpLine>;
TYPED_TEST_SUITE(LinkLine, Lines, LineNames);

bool Logged(const std::string& text, const char* const (&parts)[2])
{
    const size_t first = text.find(parts[0]);
    return first != std::string::npos && text.find(parts[1], first) != std::string::npos;
}

TYPED_TEST(LinkLine, MovesEveryByteValueBothWaysAcrossReopensAndLogsThem)
{
    test::ScratchLog log;
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += char(i);
    const std::string back(all.rbegin(), all.rend());
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(this->link().Open(), S_OK) << "an open link stays as it is";
        ASSERT_EQ(this->link().Write(all.data(), 256, -2000), S_OK);
        EXPECT_EQ(this->line_.Receive(256, 2000), all);
        this->line_.Send(back);
        std::string got(256, '\0');
        ASSERT_EQ(this->link().Read(got.data(), 256, -2000), S_OK);
        EXPECT_EQ(got, back);
        ASSERT_TRUE(this->line_.Reopen());
    }
    EXPECT_EQ(this->link().PendingErrorId(), 0u);
    const std::string text = log.Text();
    EXPECT_NE(text.find("> [256 bytes]\r\n> 00 01 02 03 "), std::string::npos) << text;
    EXPECT_NE(text.find("< [256 bytes]\r\n< FF FE "), std::string::npos) << text;
}

// A TCP/IP link bounds each wait by a negative hint, not the whole read: four gaps of 150 ms
// outlast its 400 ms. Waiting is no error.
TYPED_TEST(LinkLine, ReadWaitsForBytesArrivingOneAtATime)
{
    std::thread feeder([this] {
        const auto gap = std::chrono::milliseconds(TypeParam::kTrickleGapMs);
        for (char c : std::string("WXYZ")) {
            std::this_thread::sleep_for(gap);
            this->line_.Send(std::string(1, c));
        }
        std::this_thread::sleep_for(gap);
        this->line_.Send("late");
    });
    char got[8] = {};
    const auto start = Clock::now();
    EXPECT_EQ(this->link().Read(got, 4, TypeParam::kTrickleHint), S_OK);
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_EQ(this->link().Read(got + 4, 4, kNoTimeout), S_OK);
    feeder.join();
    EXPECT_EQ(std::string(got, 8), "WXYZlate");
    EXPECT_EQ(this->link().PendingErrorId(), 0u);
}

TYPED_TEST(LinkLine, SilentAndShortReadsFailAtTheTimeOutAndAreLogged)
{
    test::ScratchLog log;
    char bytes[8];
    for (const std::string& sent : {std::string(), std::string("\x01\x02\x03")}) {
        this->link().ClearPendingError();
        this->line_.Send(sent);
        const auto start = Clock::now();
        EXPECT_EQ(this->link().Read(bytes, 8, -300), E_FAIL);
        const long long took = MsSince(start);
        EXPECT_GE(took, 280);
        EXPECT_LT(took, 3000);
        EXPECT_EQ(this->link().PendingErrorId(), TypeParam::kReadTimeoutId);
    }
    const std::string text = log.Text();
    EXPECT_TRUE(Logged(text, TypeParam::kSilentLog)) << text;
    EXPECT_TRUE(Logged(text, TypeParam::kShortLog)) << text;
}

TYPED_TEST(LinkLine, DiscardDrainsAndLogsOnlyWhatIsPending)
{
    test::ScratchLog log;
    std::string junk;
    for (int i = 0; i < 300; ++i)
        junk += char(i);
    this->line_.Send(junk);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(this->link().Discard(), S_OK);
    const std::string text = log.Text();
    const size_t first = text.find("DISCARDING UNEXPECTED DATA\r\n! [256 bytes]\r\n! 00 01 02");
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_NE(text.find("DISCARDING UNEXPECTED DATA\r\n! [44 bytes]\r\n! 00 01 02", first),
              std::string::npos);
    char byte;
    EXPECT_EQ(this->link().Read(&byte, 1, -100), E_FAIL);

    // A quiet line costs the settling wait and logs nothing.
    const size_t before = log.Text().size();
    const auto start = Clock::now();
    EXPECT_EQ(this->link().Discard(), S_OK);
    EXPECT_GE(MsSince(start), TypeParam::kQuietDiscardMs);
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_EQ(log.Text().find("DISCARDING", before), std::string::npos);

    // Without waiting: only what has arrived, and whether there was any.
    EXPECT_EQ(this->link().DiscardArrived(), S_FALSE);
    this->line_.Send("stale");
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(this->link().DiscardArrived(), S_OK);
    EXPECT_NE(log.Text().find("DISCARDING UNEXPECTED DATA\r\n! [5 bytes]\r\n! 73 74 61", before),
              std::string::npos);
    EXPECT_EQ(this->link().DiscardArrived(), S_FALSE);
    EXPECT_EQ(this->link().Read(&byte, 1, -100), E_FAIL);

    // What came with the bytes read last is as stale, whichever way it is dropped.
    for (const bool wait : {false, true}) {
        this->line_.Send("okstale");
        std::this_thread::sleep_for(200ms);
        char two[2];
        ASSERT_EQ(this->link().Read(two, 2, -100), S_OK);
        EXPECT_EQ(wait ? this->link().Discard() : this->link().DiscardArrived(), S_OK);
        EXPECT_EQ(this->link().Read(&byte, 1, -100), E_FAIL);
    }

    this->link().Close();
    const auto closed = Clock::now();
    EXPECT_EQ(this->link().Discard(), S_OK);
    EXPECT_LT(MsSince(closed), 50);
}

TYPED_TEST(LinkLine, DiscardGivesUpOnAPeerThatNeverFallsSilent)
{
    ASSERT_TRUE(this->line_.Quicken());
    std::atomic<bool> stop {false};
    const auto start = Clock::now();
    std::thread chatter([&] {
        while (!stop && MsSince(start) < 8000) {
            this->line_.Send(std::string(16, 'z'));
            std::this_thread::sleep_for(10ms);
        }
    });
    EXPECT_EQ(this->link().Discard(), S_OK);
    const long long took = MsSince(start);
    stop = true;
    chatter.join();
    EXPECT_GE(took, 2000);
    EXPECT_LT(took, 4000);
}

TYPED_TEST(LinkLine, AHangUpFailsAWaitingReadAtOnceAndWritesSoonAfter)
{
    if (!TypeParam::kCanHangUp)
        GTEST_SKIP() << "a COM port pair cannot hang up";
    test::ScratchLog log;
    std::thread hangup([this] {
        std::this_thread::sleep_for(100ms);
        this->line_.Hangup();
    });
    char bytes[4];
    const auto start = Clock::now();
    EXPECT_EQ(this->link().Read(bytes, 4, -3000), E_FAIL);
    EXPECT_LT(MsSince(start), 2000);
    hangup.join();
    EXPECT_EQ(this->link().PendingErrorId(), TypeParam::kHangupReadId);
    EXPECT_NE(log.Text().find(TypeParam::kHangupLog), std::string::npos) << log.Text();

    // The first write may still be taken by the system; a later one meets the reset, and
    // must fail rather than kill the process with SIGPIPE.
    HRESULT result = S_OK;
    for (int i = 0; i < 100 && result == S_OK; ++i) {
        result = this->link().Write("data", 4, -500);
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(result, E_FAIL);
    EXPECT_EQ(this->link().PendingErrorId(), TypeParam::kHangupWriteId);
}

}  // namespace
}  // namespace dm
