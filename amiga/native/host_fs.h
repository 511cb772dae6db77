/* The server's file system over a host folder, for native tests and fuzzing: the folder is
 * the volume "DH0:<label>". Protection bits and comments live in memory. */
#ifndef DM_HOST_FS_H
#define DM_HOST_FS_H

#include "../server/fs.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct HostFs HostFs;

HostFs *host_fs_create(const char *root, const char *label, FileSystem *fs);
void host_fs_destroy(HostFs *host);
/* Makes every later write fail, as a full disk would. */
void host_fs_fail_writes(HostFs *host, int fail);

#ifdef __cplusplus
}
#endif

#endif
