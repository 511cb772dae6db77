/* What the disk commands need of the Amiga's block devices: the drives a device driver serves
 * (floppy drives and hard-disk partitions), their blocks, and the Kickstart ROM. Block numbers
 * count from the start of the drive's partition. Every call answers with an error code of
 * wire.h (E_NONE on success). */
#ifndef DM_DISK_H
#define DM_DISK_H

#include <stdint.h>

#define DEVICE_NAME_MAX 31

typedef struct {
    char device[DEVICE_NAME_MAX + 1]; /* "DF0", without ":" */
    char label[32];                   /* the mounted volume's name; empty when none */
    uint8_t floppy;                   /* served by trackdisk.device */
    uint8_t has_disk;
    uint8_t write_protected;
    uint32_t block_size;              /* bytes */
    uint32_t blocks_per_track, surfaces, reserved, prealloc;
    uint32_t low_cyl, high_cyl;
    uint32_t dos_type;
} DiskUnit;

typedef struct DiskHandle DiskHandle;

typedef struct {
    /* The drive at `index`; E_NOT_FOUND past the last. */
    uint32_t (*unit)(void *ctx, uint32_t index, DiskUnit *unit);
    /* Opens the drive named `device` for block access; fills `unit`. */
    uint32_t (*open)(void *ctx, const char *device, DiskUnit *unit, DiskHandle **disk);
    uint32_t (*read)(void *ctx, DiskHandle *disk, uint32_t block, uint32_t count, void *buffer);
    uint32_t (*write)(void *ctx, DiskHandle *disk, uint32_t block, uint32_t count,
                      const void *buffer);
    /* Keeps the drive's file system off the disk while blocks are written. */
    uint32_t (*inhibit)(void *ctx, DiskHandle *disk);
    /* Writes out what the driver holds back, stops the motor, gives the disk back to its file
     * system and closes. */
    uint32_t (*close)(void *ctx, DiskHandle *disk);
    /* The Kickstart ROM's bytes; 0 when it cannot be read. */
    const uint8_t *(*rom)(void *ctx, uint32_t *size);
    /* The clock as a DateStamp: days, minutes, ticks. */
    void (*now)(void *ctx, uint32_t stamp[3]);
    /* dos.library's version: the file system variants beyond the first need 36 (2.0). */
    uint32_t dos_version;
    void *ctx;
} DiskAccess;

#endif
