#include "cli/protection_letters.h"

#include <cctype>

namespace dm::cli {

std::optional<uint32_t> ApplyProtection(uint32_t current, const std::string& bits)
{
    const std::string letters = "dewrapsh";  // bit 0 upwards
    auto bitOf = [&](char c) -> int {
        const size_t at = letters.find(char(std::tolower(static_cast<unsigned char>(c))));
        return at == std::string::npos ? -1 : int(at);
    };
    // For R W E D a set bit forbids; for A P S H a set bit means the flag is on.
    auto grant = [](uint32_t value, int bit, bool on) {
        const uint32_t mask = 1u << bit;
        const bool forbidBit = bit < 4;
        return (on != forbidBit) ? (value | mask) : (value & ~mask);
    };
    uint32_t value = current & 0xFF;
    if (!bits.empty() && (bits[0] == '+' || bits[0] == '-')) {
        bool on = true;
        for (char c : bits) {
            if (c == '+' || c == '-') {
                on = c == '+';
                continue;
            }
            const int bit = bitOf(c);
            if (bit < 0)
                return std::nullopt;
            value = grant(value, bit, on);
        }
        return value;
    }
    value = 0x0F;  // nothing allowed, no flags
    for (char c : bits) {
        const int bit = bitOf(c);
        if (bit < 0)
            return std::nullopt;
        value = grant(value, bit, true);
    }
    return value;
}


}  // namespace dm::cli
