#include "core/amiga_dates.h"

#include <cstring>

namespace dm {

namespace {
constexpr uint64_t kMinutesPerDay = 1440;
constexpr uint64_t kTicksPerMinute = 3000;
constexpr uint64_t kUnitsPerTick = 200000;
constexpr uint64_t kUnitsPerMinute = 600000000;
constexpr uint64_t kUnitsPerDay = 864000000000;
}  // namespace

FILETIME DateStampToFileTime(const DateStamp& stamp)
{
    // Unsigned arithmetic: a nonsense stamp from the wire wraps instead of overflowing.
    const uint64_t ticks =
        (uint64_t(int64_t(stamp.days)) * kMinutesPerDay + uint64_t(int64_t(stamp.minutes))) *
            kTicksPerMinute +
        uint64_t(int64_t(stamp.ticks));
    const FILETIME local = MakeFileTime(kAmigaEpoch + ticks * kUnitsPerTick);
    FILETIME utc;
    if (!LocalFileTimeToFileTime(&local, &utc))
        return local;
    return utc;
}

DateStamp FileTimeToDateStamp(const FILETIME& time)
{
    FILETIME local;
    if (!FileTimeToLocalFileTime(&time, &local))
        local = time;
    const uint64_t value = FileTimeValue(local);
    DateStamp stamp;
    if (value <= kAmigaEpoch)
        return stamp;
    const uint64_t t = value - kAmigaEpoch;
    const uint64_t days = t / kUnitsPerDay;
    const uint64_t minutes = (t - days * kUnitsPerDay) / kUnitsPerMinute;
    const uint64_t ticks = (t - days * kUnitsPerDay - minutes * kUnitsPerMinute) / kUnitsPerTick;
    stamp.days = int32_t(days);
    stamp.minutes = int32_t(minutes);
    stamp.ticks = int32_t(ticks);
    return stamp;
}

int FormatDateText(const FILETIME& time, char* buffer, int bufferLength, bool dateOnly)
{
    if (!buffer || bufferLength <= 0)
        return 0;
    FILETIME local;
    if (!FileTimeToLocalFileTime(&time, &local))
        local = time;
    SYSTEMTIME parts;
    if (!FileTimeToSystemTime(&local, &parts))
        return 0;
    std::string text = platform::FormatLocaleShortDate(parts);
    if (text.empty())
        return 0;
    if (!dateOnly) {
        const std::string clock = platform::FormatLocaleTimeNoSeconds(parts);
        if (clock.empty())
            return 0;
        text += ' ';
        text += clock;
    }
    if (text.size() + 1 > size_t(bufferLength))
        return 0;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return int(text.size() + 1);
}

}  // namespace dm
