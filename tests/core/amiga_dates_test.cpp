#include "core/amiga_dates.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace dm {

void PrintTo(const DateStamp& stamp, std::ostream* out)
{
    *out << stamp.days << "/" << stamp.minutes << "/" << stamp.ticks;
}

namespace {

class AmigaDates : public ::testing::Test {
protected:
    void SetUp() override
    {
#ifndef _WIN32
        // A zone with daylight saving, so that local/UTC mix-ups show.
        setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
        tzset();
#endif
    }

    static FILETIME Local(int year, int month, int day, int hour = 0, int minute = 0,
                          int second = 0, int millisecond = 0)
    {
        const SYSTEMTIME parts {WORD(year),   WORD(month),  0,           WORD(day),
                                WORD(hour),   WORD(minute), WORD(second), WORD(millisecond)};
        FILETIME local {}, utc {};
        EXPECT_TRUE(SystemTimeToFileTime(&parts, &local));
        EXPECT_TRUE(LocalFileTimeToFileTime(&local, &utc));
        return utc;
    }

    static uint64_t LocalValue(const FILETIME& utc)
    {
        FILETIME local {};
        EXPECT_TRUE(FileTimeToLocalFileTime(&utc, &local));
        return FileTimeValue(local);
    }
};

// Times before 1978 become the epoch instead of wrapping around.
TEST_F(AmigaDates, EpochAndFirstTicksAreLocalTimeAndEarlierTimesTheEpoch)
{
    EXPECT_EQ(LocalValue(DateStampToFileTime({0, 0, 0})), kAmigaEpoch);
    EXPECT_EQ(FileTimeToDateStamp(Local(1978, 1, 1, 0, 0, 1)), (DateStamp {0, 0, 50}));
    EXPECT_EQ(FileTimeToDateStamp(Local(1978, 1, 1, 0, 1, 0, 20)), (DateStamp {0, 1, 1}));
    EXPECT_EQ(FileTimeToDateStamp(Local(1970, 1, 1)), DateStamp {});
    EXPECT_EQ(FileTimeToDateStamp(Local(1977, 12, 31, 23, 59, 59, 999)), DateStamp {});
    EXPECT_EQ(FileTimeToDateStamp(MakeFileTime(0)), DateStamp {});
    FILETIME justBefore {}, local = MakeFileTime(kAmigaEpoch - 1);
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &justBefore));
    EXPECT_EQ(FileTimeToDateStamp(justBefore), DateStamp {});
}

TEST_F(AmigaDates, LastCentisecondOfADayKeepsDayAndMinute)
{
    const FILETIME original = Local(2024, 2, 29, 23, 59, 59, 990);
    const DateStamp stamp = FileTimeToDateStamp(original);
    EXPECT_EQ(stamp.days, 16860);
    EXPECT_EQ(stamp.minutes, 1439);
    EXPECT_EQ(stamp.ticks, 2999);
    // Back again only the part below 1/50 s is lost: 59.99 s becomes 59.98 s.
    EXPECT_EQ(FileTimeValue(original) - FileTimeValue(DateStampToFileTime(stamp)), 100000u);
}

TEST_F(AmigaDates, LeapDaysAndCenturiesRoundTrip)
{
    // The date and its days since 1 January 1978.
    const int dates[][4] = {{1980, 2, 29, 789},  {1980, 3, 1, 790},    {1999, 12, 31, 8034},
                            {2000, 2, 29, 8094}, {2024, 2, 29, 16860}, {2100, 2, 28, 44618},
                            {2100, 3, 1, 44619}, {2400, 2, 29, 154191}};
    for (const auto& d : dates) {
        SCOPED_TRACE(testing::Message() << d[0] << "-" << d[1] << "-" << d[2]);
        const FILETIME time = Local(d[0], d[1], d[2], 12, 34, 56, 780);
        const DateStamp stamp = FileTimeToDateStamp(time);
        EXPECT_EQ(stamp, (DateStamp {d[3], 12 * 60 + 34, 56 * 50 + 39}));
        EXPECT_EQ(FileTimeValue(DateStampToFileTime(stamp)), FileTimeValue(time));
    }
}

TEST_F(AmigaDates, NonsenseStampsFromTheWireAreHarmless)
{
    char text[80];
    for (const DateStamp& stamp :
         {DateStamp {INT32_MAX, INT32_MAX, INT32_MAX}, DateStamp {INT32_MIN, INT32_MIN, INT32_MIN},
          DateStamp {-1, 0, 0}, DateStamp {0, -1, -1}}) {
        const FILETIME time = DateStampToFileTime(stamp);
        const int written = FormatDateText(time, text, sizeof text, false);
        EXPECT_TRUE(written == 0 || written == int(std::strlen(text)) + 1);
    }
    // A day before the epoch still converts: the Amiga may send it for a file it was handed.
    EXPECT_EQ(LocalValue(DateStampToFileTime({-1, 0, 0})), kAmigaEpoch - 864000000000ull);
}

TEST_F(AmigaDates, DateTextCountsTheTerminatorAndFailsOnShortBuffers)
{
    const FILETIME time = Local(2024, 2, 29, 23, 59, 59);
    char full[80], dateOnly[80];
    const int fullLength = FormatDateText(time, full, sizeof full, false);
    const int dateLength = FormatDateText(time, dateOnly, sizeof dateOnly, true);
    ASSERT_GT(dateLength, 1);
    EXPECT_EQ(fullLength, int(std::strlen(full)) + 1);
    EXPECT_EQ(dateLength, int(std::strlen(dateOnly)) + 1);
    // The full form is the date, one blank, then the time.
    EXPECT_EQ(std::string(full, size_t(dateLength - 1)), dateOnly);
    EXPECT_EQ(full[dateLength - 1], ' ');
    EXPECT_GT(fullLength, dateLength + 1);
#ifndef _WIN32
    EXPECT_STREQ(full, "2024-02-29 23:59");
#endif
    EXPECT_EQ(FormatDateText(time, full, fullLength - 1, false), 0);
    EXPECT_EQ(FormatDateText(time, full, fullLength, false), fullLength);
    EXPECT_EQ(FormatDateText(time, nullptr, 80, false), 0);
}

}  // namespace
}  // namespace dm
