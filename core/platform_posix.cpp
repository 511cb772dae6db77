// Look-alikes of the Win32 time and locale calls for the native build.
#include "core/platform.h"

#include <sys/time.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>

namespace {

constexpr uint64_t kUnitsPerSecond = 10000000;
constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;
constexpr uint64_t kLargestFileTime = 0x7FFFFFFFFFFFFFFFull;

// Days since 1970-01-01 of a proleptic Gregorian date, and back (Howard Hinnant's algorithms).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = int64_t(yoe) + era * 400 + (m <= 2);
}

int64_t UnixSeconds(uint64_t fileTime)
{
    return int64_t(fileTime / kUnitsPerSecond) - kSecondsFrom1601To1970;
}

bool ToFileTime(int64_t unixSeconds, uint64_t fraction, FILETIME* out)
{
    const int64_t seconds = unixSeconds + kSecondsFrom1601To1970;
    if (seconds < 0 || uint64_t(seconds) > kLargestFileTime / kUnitsPerSecond)
        return false;
    *out = dm::MakeFileTime(uint64_t(seconds) * kUnitsPerSecond + fraction);
    return true;
}

}  // namespace

BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local)
{
    const uint64_t value = dm::FileTimeValue(*utc);
    const time_t seconds = time_t(UnixSeconds(value));
    struct tm parts {};
    if (!localtime_r(&seconds, &parts))
        return 0;
    return ToFileTime(int64_t(seconds) + parts.tm_gmtoff, value % kUnitsPerSecond, local);
}

BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc)
{
    const uint64_t value = dm::FileTimeValue(*local);
    const time_t asIfUtc = time_t(UnixSeconds(value));
    struct tm parts {};
    if (!gmtime_r(&asIfUtc, &parts))
        return 0;
    parts.tm_isdst = -1;
    errno = 0;
    const time_t seconds = mktime(&parts);
    if (seconds == time_t(-1) && errno != 0)
        return 0;
    return ToFileTime(int64_t(seconds), value % kUnitsPerSecond, utc);
}

BOOL FileTimeToSystemTime(const FILETIME* time, SYSTEMTIME* out)
{
    const uint64_t value = dm::FileTimeValue(*time);
    if (value > kLargestFileTime)
        return 0;
    const int64_t seconds = UnixSeconds(value);
    const int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
    const int64_t secondOfDay = seconds - days * 86400;
    int64_t year;
    unsigned month, day;
    CivilFromDays(days, year, month, day);
    out->wYear = WORD(year);
    out->wMonth = WORD(month);
    out->wDay = WORD(day);
    out->wDayOfWeek = WORD((days % 7 + 11) % 7);  // 1970-01-01 was a Thursday
    out->wHour = WORD(secondOfDay / 3600);
    out->wMinute = WORD(secondOfDay / 60 % 60);
    out->wSecond = WORD(secondOfDay % 60);
    out->wMilliseconds = WORD(value % kUnitsPerSecond / 10000);
    return 1;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* time, FILETIME* out)
{
    if (time->wMonth < 1 || time->wMonth > 12 || time->wDay < 1 || time->wDay > 31 ||
        time->wHour > 23 || time->wMinute > 59 || time->wSecond > 59 || time->wMilliseconds > 999)
        return 0;
    const int64_t days = DaysFromCivil(time->wYear, time->wMonth, time->wDay);
    const int64_t seconds = days * 86400 + time->wHour * 3600 + time->wMinute * 60 + time->wSecond;
    return ToFileTime(seconds, uint64_t(time->wMilliseconds) * 10000, out);
}

DWORD GetTickCount()
{
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return DWORD(uint64_t(now.tv_sec) * 1000 + uint64_t(now.tv_nsec) / 1000000);
}

namespace dm::platform {

std::string FormatLocaleNumber(const std::string& plainNumber, int decimals)
{
    // Split, then round half up on the decimal digits as the Windows formatter does.
    const size_t dot = plainNumber.find('.');
    std::string whole = plainNumber.substr(0, dot);
    std::string fraction;
    if (dot != std::string::npos)
        fraction = plainNumber.substr(dot + 1);
    if (whole.empty())
        whole.assign(1, '0');
    fraction.resize(std::max<size_t>(fraction.size(), size_t(decimals) + 1), '0');
    const bool roundUp = fraction[size_t(decimals)] >= '5';
    std::string digits = whole + fraction.substr(0, size_t(decimals));
    if (roundUp) {
        size_t i = digits.size();
        while (i > 0 && digits[i - 1] == '9')
            digits[--i] = '0';
        if (i == 0)
            digits.insert(digits.begin(), '1');
        else
            ++digits[i - 1];
    }
    whole = digits.substr(0, digits.size() - size_t(decimals));
    fraction = digits.substr(digits.size() - size_t(decimals));

    std::string grouped;
    for (size_t i = 0; i < whole.size(); ++i) {
        if (i > 0 && (whole.size() - i) % 3 == 0)
            grouped += ',';
        grouped += whole[i];
    }
    return decimals > 0 ? grouped + "." + fraction : grouped;
}

std::string FormatLocaleShortDate(const SYSTEMTIME& time)
{
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u", time.wYear, time.wMonth, time.wDay);
    return text;
}

std::string FormatLocaleTimeNoSeconds(const SYSTEMTIME& time)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u", time.wHour, time.wMinute);
    return text;
}

}  // namespace dm::platform
