/* The server's block devices over host image files, for native tests: a floppy drive holds an
 * ADF file, a partition an HDF file; the ROM is a buffer. */
#ifndef DM_HOST_DISKS_H
#define DM_HOST_DISKS_H

#include "../server/disk.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct HostDisks HostDisks;

HostDisks *host_disks_create(DiskAccess *access);
void host_disks_destroy(HostDisks *disks);
/* A drive named `device` over the image at `path` (empty: no disk): a floppy of 80 cylinders,
 * 2 surfaces and 11 blocks a track, or a partition of `cylinders` cylinders of 32 blocks. */
void host_disks_add(HostDisks *disks, const char *device, const char *path, int floppy,
                    uint32_t cylinders);
void host_disks_set_rom(HostDisks *disks, const uint8_t *rom, uint32_t size);
void host_disks_write_protect(HostDisks *disks, int on);
/* Every later write stores one byte changed, as a failing disk would. */
void host_disks_damage_writes(HostDisks *disks, int on);
/* How often the file system was kept off a disk, and whether it still is. */
int host_disks_inhibited(HostDisks *disks, int *now);

#ifdef __cplusplus
}
#endif

#endif
