#ifndef DM_CRC32_H
#define DM_CRC32_H

#include <stdint.h>

void crc32_init(void);
/* Continues `crc` (start with 0xFFFFFFFF, complement at the end). */
uint32_t crc32_update(uint32_t crc, const void *data, uint32_t size);
uint32_t crc32(const void *data, uint32_t size);

#endif
