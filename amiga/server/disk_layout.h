/* The blocks of an empty AmigaDOS disk, and how a drive's image is named and described. */
#ifndef DM_DISK_LAYOUT_H
#define DM_DISK_LAYOUT_H

#include "disk.h"

#include <stddef.h>
#include <stdint.h>

#define BOOT_BLOCK_SIZE 1024
#define DOS_TYPE_BASE 0x444F5300UL
#define DOS_VARIANT_DIRCACHE 4
#define VOLUME_NAME_MAX 30

/* Where the blocks of a new file system go on a drive of `blocks` blocks. */
typedef struct {
    uint32_t blocks, reserved;
    uint32_t root;
    uint32_t bitmap;        /* the first bitmap block; the others follow it */
    uint32_t bitmap_blocks;
    uint32_t dircache;      /* 0 without a directory cache */
} DiskPlan;

/* E_TOO_LARGE when the bitmap would need extension blocks. */
uint32_t disk_plan(DiskPlan *plan, uint32_t blocks, uint32_t reserved, uint32_t block_size,
                   uint32_t dos_type);

/* Sum of the long words with the result in the checksum slot making it zero: header, root,
 * bitmap and directory-cache blocks. `slot` is the checksum's long-word index. */
uint32_t block_checksum(const uint8_t *block, uint32_t size, uint32_t slot);
/* The boot block's: an end-around-carry sum, complemented. */
uint32_t boot_checksum(const uint8_t *block);

/* The blocks themselves, each `size` bytes (the boot block BOOT_BLOCK_SIZE). `stamp` is the
 * creation date (days, minutes, ticks). */
void make_boot_block(uint8_t *block, uint32_t dos_type, uint32_t root, int bootable);
void make_root_block(uint8_t *block, uint32_t size, const DiskPlan *plan, const char *name,
                     const uint32_t stamp[3]);
/* Bitmap block `index` of the plan. */
void make_bitmap_block(uint8_t *block, uint32_t size, const DiskPlan *plan, uint32_t index);
void make_dircache_block(uint8_t *block, uint32_t size, const DiskPlan *plan);

/* E_NONE for a volume name AmigaDOS takes: 1 to 30 characters, no ":" or "/". */
uint32_t check_volume_name(const char *name);

/* The drive's size in blocks and in bytes; 0 when it does not fit 32 bits. */
uint32_t disk_blocks(const DiskUnit *unit);
uint32_t disk_bytes(const DiskUnit *unit);

/* The name of a drive's image item: ":DF0:Label.adf" (the device hidden in front), and the
 * ROM's "::Kickstart 40.68.rom". */
void image_name(const DiskUnit *unit, char *out, size_t cap);
void rom_name(const uint8_t *rom, uint32_t size, char *out, size_t cap);
/* The partition geometry the PC reads from a partition image's comment:
 * ":sectors :surfaces :reserved :prealloc :blocksize :highcyl :0xDOSTYPE". */
void hdf_geometry(const DiskUnit *unit, char *out, size_t cap);
/* The device an image item's remote name (":DF0:...") stands for, into `device`;
 * 0 when the name is not an image's. */
int image_device(const char *remote, char *device, size_t cap);

#endif
