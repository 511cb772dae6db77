/* The server's block devices on the Amiga: the drives of the DOS list whose file system names a
 * device driver (trackdisk.device for floppies), reached by exec's device I/O; the Kickstart ROM
 * at the top of the 24-bit address space. Kickstart 1.2 calls only. */
#ifndef DM_DISK_DEVICE_H
#define DM_DISK_DEVICE_H

#include "../server/disk.h"

/* 0 when its memory is not there. */
int disk_device_init(DiskAccess *access);
void disk_device_close(void);

#endif
