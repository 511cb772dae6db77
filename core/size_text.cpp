#include "core/size_text.h"

#include "core/messages.h"
#include "core/module.h"
#include "resources/string_ids.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace dm {

namespace {

struct Unit {
    uint64_t bytes;
    UINT textId;
};

Unit ChooseUnit(uint32_t selector)
{
    if (selector < 1000u)
        return {1, IDS_UNIT_BYTES};
    if (selector < 1000000u)
        return {1024, IDS_UNIT_KB};
    if (selector < 1000000000u)
        return {1048576, IDS_UNIT_MB};
    return {1073741824, IDS_UNIT_GB};
}

}  // namespace

std::string SizeText(uint32_t size, bool fractional, uint32_t scale)
{
    const Unit unit = ChooseUnit(scale != 0 ? scale : size);
    char plain[64];
    if (fractional && unit.bytes > 1)
        std::snprintf(plain, sizeof plain, "%.6f", double(size) / double(unit.bytes));
    else  // 64-bit so that rounding 4,294,967,295 up cannot overflow
        std::snprintf(plain, sizeof plain, "%llu",
                      (unsigned long long)((uint64_t(size) + unit.bytes - 1) / unit.bytes));

    const char* dot = std::strchr(plain, '.');
    const bool hasDecimals = dot && std::strspn(dot + 1, "0") != std::strlen(dot + 1);
    const std::string number = platform::FormatLocaleNumber(plain, hasDecimals ? 2 : 0);
    return FormatStringById(unit.textId, ThisModule(), {number}).value_or(std::string());
}

int FormatSizeText(uint32_t size, char* buffer, int bufferLength, bool fractional, uint32_t scale)
{
    if (!buffer || bufferLength <= 0)
        return 0;
    const std::string text = SizeText(size, fractional, scale);
    if (text.empty())
        return 0;
    const size_t length = std::min(text.size(), size_t(bufferLength) - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = 0;
    return int(length);
}

}  // namespace dm
