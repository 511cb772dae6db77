// Locale text forms of the Windows build: the system default locale through the NLS calls.
#include "core/platform.h"

#include <cstdlib>

namespace dm::platform {

namespace {

std::string LocaleText(LCTYPE type, const char* fallback)
{
    char text[16];
    if (GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, type, text, int(sizeof text)) > 0 && text[0] != 0)
        return text;
    return fallback;
}

UINT LocaleNumber(LCTYPE type, UINT fallback)
{
    char text[16];
    if (GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, type, text, int(sizeof text)) > 0 && text[0] >= '0' &&
        text[0] <= '9')
        return UINT(std::atoi(text));
    return fallback;
}

}  // namespace

std::string FormatLocaleNumber(const std::string& plainNumber, int decimals)
{
    std::string decimalSeparator = LocaleText(LOCALE_SDECIMAL, ".");
    std::string thousandSeparator = LocaleText(LOCALE_STHOUSAND, ",");
    NUMBERFMTA format {};
    format.NumDigits = UINT(decimals);
    format.LeadingZero = 1;
    format.Grouping = LocaleNumber(LOCALE_SGROUPING, 3);
    format.lpDecimalSep = decimalSeparator.data();
    format.lpThousandSep = thousandSeparator.data();
    format.NegativeOrder = LocaleNumber(LOCALE_INEGNUMBER, 1);
    char text[64];
    if (GetNumberFormatA(LOCALE_SYSTEM_DEFAULT, 0, plainNumber.c_str(), &format, text,
                         int(sizeof text)) <= 0)
        return plainNumber;
    return text;
}

std::string FormatLocaleShortDate(const SYSTEMTIME& time)
{
    char text[80];
    if (GetDateFormatA(LOCALE_SYSTEM_DEFAULT, DATE_SHORTDATE, &time, nullptr, text,
                       int(sizeof text)) <= 0)
        return {};
    return text;
}

std::string FormatLocaleTimeNoSeconds(const SYSTEMTIME& time)
{
    char text[80];
    if (GetTimeFormatA(LOCALE_SYSTEM_DEFAULT, TIME_NOSECONDS, &time, nullptr, text,
                       int(sizeof text)) <= 0)
        return {};
    return text;
}

}  // namespace dm::platform
