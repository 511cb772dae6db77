#include "crc32.h"

static uint32_t table[256];

void crc32_init(void)
{
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320UL ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
}

uint32_t crc32_update(uint32_t crc, const void *data, uint32_t size)
{
    const uint8_t *p = data;
    while (size--)
        crc = table[(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return crc;
}

uint32_t crc32(const void *data, uint32_t size)
{
    return ~crc32_update(0xFFFFFFFFUL, data, size);
}
