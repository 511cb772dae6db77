#include "disk_layout.h"

#include "text.h"
#include "wire.h"

#define T_HEADER 2
#define T_DIRCACHE 33
#define ST_ROOT 1
#define BITMAP_LONGS_PER_BLOCK(size) ((size) / 4 - 1)
#define ROOT_BITMAP_PAGES 25

static void put_long(uint8_t *block, uint32_t index, uint32_t value)
{
    put32(block + index * 4, value);
}

uint32_t block_checksum(const uint8_t *block, uint32_t size, uint32_t slot)
{
    uint32_t sum = 0;
    for (uint32_t i = 0; i < size / 4; ++i) {
        if (i != slot)
            sum += get32(block + i * 4);
    }
    return 0 - sum;
}

uint32_t boot_checksum(const uint8_t *block)
{
    uint32_t sum = 0;
    for (uint32_t i = 0; i < BOOT_BLOCK_SIZE / 4; ++i) {
        if (i == 1)
            continue;
        uint32_t before = sum;
        sum += get32(block + i * 4);
        if (sum < before)
            ++sum;
    }
    return ~sum;
}

uint32_t disk_plan(DiskPlan *plan, uint32_t blocks, uint32_t reserved, uint32_t block_size,
                   uint32_t dos_type)
{
    memset(plan, 0, sizeof *plan);
    if (reserved < 2 || blocks < reserved + 8 || block_size < 256 || block_size % 4)
        return E_NOT_POSSIBLE;
    plan->blocks = blocks;
    plan->reserved = reserved;
    /* AmigaDOS looks for the root in the middle of the drive. */
    plan->root = (blocks - 1 + reserved) / 2;
    uint32_t bits = blocks - reserved;
    uint32_t per_block = BITMAP_LONGS_PER_BLOCK(block_size) * 32;
    plan->bitmap_blocks = (bits + per_block - 1) / per_block;
    if (plan->bitmap_blocks > ROOT_BITMAP_PAGES)
        return E_TOO_LARGE;
    plan->bitmap = plan->root + 1;
    if ((dos_type & 0xFF) >= DOS_VARIANT_DIRCACHE)
        plan->dircache = plan->bitmap + plan->bitmap_blocks;
    uint32_t last = plan->dircache ? plan->dircache : plan->bitmap + plan->bitmap_blocks - 1;
    return last < blocks ? E_NONE : E_NOT_POSSIBLE;
}

void make_boot_block(uint8_t *block, uint32_t dos_type, uint32_t root, int bootable)
{
    /* Finds dos.library's resident structure and hands its start to the ROM. */
    static const uint8_t boot_code[] = {
        0x43, 0xFA, 0x00, 0x18, /* lea name(pc),a1 */
        0x4E, 0xAE, 0xFF, 0xA0, /* jsr FindResident(a6) */
        0x4A, 0x80,             /* tst.l d0 */
        0x67, 0x0A,             /* beq.s fail */
        0x20, 0x40,             /* movea.l d0,a0 */
        0x20, 0x68, 0x00, 0x16, /* movea.l rt_Init(a0),a0 */
        0x70, 0x00,             /* moveq #0,d0 */
        0x4E, 0x75,             /* rts */
        0x70, 0xFF,             /* fail: moveq #-1,d0 */
        0x4E, 0x75,             /* rts */
        'd', 'o', 's', '.', 'l', 'i', 'b', 'r', 'a', 'r', 'y', 0};
    memset(block, 0, BOOT_BLOCK_SIZE);
    put_long(block, 0, dos_type);
    put_long(block, 2, root);
    if (!bootable)
        return; /* no checksum: the ROM does not boot from it */
    memcpy(block + 12, boot_code, sizeof boot_code);
    put_long(block, 1, boot_checksum(block));
}

void make_root_block(uint8_t *block, uint32_t size, const DiskPlan *plan, const char *name,
                     const uint32_t stamp[3])
{
    const uint32_t longs = size / 4;
    memset(block, 0, size);
    put_long(block, 0, T_HEADER);
    put_long(block, 3, longs - 56); /* hash table size */
    put_long(block, longs - 50, 0xFFFFFFFFUL); /* the bitmap is valid */
    for (uint32_t i = 0; i < plan->bitmap_blocks; ++i)
        put_long(block, longs - 49 + i, plan->bitmap + i);
    for (uint32_t i = 0; i < 3; ++i) {
        put_long(block, longs - 23 + i, stamp[i]); /* root changed */
        put_long(block, longs - 10 + i, stamp[i]); /* volume changed */
        put_long(block, longs - 7 + i, stamp[i]);  /* created */
    }
    size_t n = strlen(name);
    if (n > VOLUME_NAME_MAX)
        n = VOLUME_NAME_MAX;
    block[size - 80] = (uint8_t)n;
    memcpy(block + size - 79, name, n);
    put_long(block, longs - 2, plan->dircache);
    put_long(block, longs - 1, ST_ROOT);
    put_long(block, 5, block_checksum(block, size, 5));
}

void make_bitmap_block(uint8_t *block, uint32_t size, const DiskPlan *plan, uint32_t index)
{
    memset(block, 0, size);
    const uint32_t per_block = BITMAP_LONGS_PER_BLOCK(size) * 32;
    const uint32_t first = plan->reserved + index * per_block;
    for (uint32_t bit = 0; bit < per_block; ++bit) {
        uint32_t b = first + bit;
        if (b >= plan->blocks)
            break;
        int used = b == plan->root || (b >= plan->bitmap && b < plan->bitmap + plan->bitmap_blocks) ||
                   (plan->dircache && b == plan->dircache);
        if (!used) {
            uint8_t *word = block + 4 + (bit / 32) * 4;
            uint32_t mask = 1UL << (bit % 32);
            put32(word, get32(word) | mask);
        }
    }
    put_long(block, 0, block_checksum(block, size, 0));
}

void make_dircache_block(uint8_t *block, uint32_t size, const DiskPlan *plan)
{
    memset(block, 0, size);
    put_long(block, 0, T_DIRCACHE);
    put_long(block, 1, plan->dircache);
    put_long(block, 2, plan->root);
    put_long(block, 5, block_checksum(block, size, 5));
}

uint32_t check_volume_name(const char *name)
{
    size_t n = strlen(name);
    if (n == 0 || n > VOLUME_NAME_MAX)
        return E_BAD_TITLE;
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = (unsigned char)name[i];
        if (c < 0x20 || c == ':' || c == '/' || (c >= 0x7F && c < 0xA0))
            return E_BAD_TITLE;
    }
    return E_NONE;
}

uint32_t disk_blocks(const DiskUnit *unit)
{
    if (unit->high_cyl < unit->low_cyl || !unit->blocks_per_track || !unit->surfaces)
        return 0;
    uint32_t cylinders = unit->high_cyl - unit->low_cyl + 1;
    uint32_t per_cylinder = unit->blocks_per_track * unit->surfaces;
    if (unit->blocks_per_track > 0xFFFFUL || unit->surfaces > 0xFFFFUL ||
        cylinders > 0xFFFFFFFFUL / per_cylinder)
        return 0;
    return cylinders * per_cylinder;
}

uint32_t disk_bytes(const DiskUnit *unit)
{
    uint32_t blocks = disk_blocks(unit);
    if (!blocks || unit->block_size < 256 || unit->block_size > 32768 ||
        blocks > 0xFFFFFFFFUL / unit->block_size)
        return 0;
    return blocks * unit->block_size;
}

/* Appends `text` within `cap`; returns the new length. */
static size_t append(char *out, size_t at, size_t cap, const char *text)
{
    return at + text_copy(out + at, text, cap - at);
}

static size_t append_number(char *out, size_t at, size_t cap, uint32_t value)
{
    char digits[12];
    text_number(digits, value);
    return append(out, at, cap, digits);
}

void image_name(const DiskUnit *unit, char *out, size_t cap)
{
    size_t at = append(out, 0, cap, ":");
    at = append(out, at, cap, unit->device);
    at = append(out, at, cap, ":");
    at = append(out, at, cap, unit->label[0] ? unit->label : unit->device);
    append(out, at, cap, unit->floppy ? ".adf" : ".hdf");
}

void rom_name(const uint8_t *rom, uint32_t size, char *out, size_t cap)
{
    size_t at = append(out, 0, cap, "::Kickstart");
    /* A Kickstart ROM starts with its magic word and carries its version at offset 12. */
    if (size >= 16 && rom[0] == 0x11 && (rom[1] == 0x11 || rom[1] == 0x14)) {
        at = append(out, at, cap, " ");
        at = append_number(out, at, cap, get16(rom + 12));
        at = append(out, at, cap, ".");
        at = append_number(out, at, cap, get16(rom + 14));
    }
    append(out, at, cap, ".rom");
}

void hdf_geometry(const DiskUnit *unit, char *out, size_t cap)
{
    static const char hex[] = "0123456789ABCDEF";
    const uint32_t fields[6] = {unit->blocks_per_track, unit->surfaces, unit->reserved,
                                unit->prealloc, unit->block_size,
                                unit->high_cyl - unit->low_cyl};
    size_t at = 0;
    for (int i = 0; i < 6; ++i) {
        at = append(out, at, cap, i ? " :" : ":");
        at = append_number(out, at, cap, fields[i]);
    }
    char type[13];
    text_copy(type, " :0x", sizeof type);
    for (int i = 0; i < 8; ++i)
        type[4 + i] = hex[(unit->dos_type >> (28 - 4 * i)) & 0xF];
    type[12] = 0;
    append(out, at, cap, type);
}

int image_device(const char *remote, char *device, size_t cap)
{
    if (remote[0] != ':')
        return 0;
    size_t n = 0;
    while (remote[1 + n] && remote[1 + n] != ':' && remote[1 + n] != '/')
        ++n;
    if (remote[1 + n] != ':' || n >= cap)
        return 0;
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = (unsigned char)remote[1 + i];
        if (c < 0x20 || (c >= 0x7F && c < 0xA0))
            return 0;
    }
    memcpy(device, remote + 1, n);
    device[n] = 0;
    return 1;
}
