// Integers on the wire are big-endian, the Amiga's order.
#pragma once

#include <cstdint>

namespace dm {

inline void PutBigEndian16(uint8_t* out, uint16_t value)
{
    out[0] = uint8_t(value >> 8);
    out[1] = uint8_t(value);
}

inline void PutBigEndian32(uint8_t* out, uint32_t value)
{
    out[0] = uint8_t(value >> 24);
    out[1] = uint8_t(value >> 16);
    out[2] = uint8_t(value >> 8);
    out[3] = uint8_t(value);
}

inline uint16_t GetBigEndian16(const uint8_t* in)
{
    return uint16_t((in[0] << 8) | in[1]);
}

inline uint32_t GetBigEndian32(const uint8_t* in)
{
    return (uint32_t(in[0]) << 24) | (uint32_t(in[1]) << 16) | (uint32_t(in[2]) << 8) | in[3];
}

}  // namespace dm
