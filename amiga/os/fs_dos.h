/* The server's file system over dos.library, with Kickstart 1.2 calls only (dates of received
 * files are kept from 2.0 on). */
#ifndef DM_FS_DOS_H
#define DM_FS_DOS_H

#include "amiga.h"
#include "../server/fs.h"

/* 0 when the memory for the file system's blocks is not there. */
int fs_dos_init(FileSystem *fs);
void fs_dos_close(void);
/* A BCPL string (length byte first) as a C string, cut to fit `cap`. */
void bstr_copy(char *to, BPTR b, size_t cap);

#endif
