// The reflected CRC-32 (polynomial 0xEDB88320, initial value all ones, final complement): the
// packet checksums, the TCP/IP pass key and the change check of folder listings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace dm {

class Crc32 {
public:
    void Add(const void* data, size_t length);
    uint32_t Value() const { return ~state_; }

private:
    uint32_t state_ = 0xFFFFFFFFu;
};

uint32_t ComputeCrc32(const void* data, size_t length);

inline uint32_t ComputeCrc32(std::string_view text)
{
    return ComputeCrc32(text.data(), text.size());
}

}  // namespace dm
