#include "core/crc32.h"

#include <array>

namespace dm {

namespace {

constexpr std::array<uint32_t, 256> MakeTable()
{
    std::array<uint32_t, 256> table {};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

// Built at compile time: read-only and shared by every thread.
constexpr std::array<uint32_t, 256> kTable = MakeTable();

}  // namespace

void Crc32::Add(const void* data, size_t length)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    uint32_t c = state_;
    for (size_t i = 0; i < length; ++i)
        c = kTable[(c ^ bytes[i]) & 0xFF] ^ (c >> 8);
    state_ = c;
}

uint32_t ComputeCrc32(const void* data, size_t length)
{
    Crc32 crc;
    crc.Add(data, length);
    return crc.Value();
}

}  // namespace dm
