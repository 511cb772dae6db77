/* What the request handling needs of the Amiga's file system. Paths are AmigaDOS paths that the
 * handling has already checked ("DH0:a/b": one device or volume, no parent references). Every
 * call answers with an error code of wire.h (E_NONE on success). */
#ifndef DM_FS_H
#define DM_FS_H

#include "disk.h"

#include <stdint.h>

#define NAME_MAX_LENGTH 107
#define COMMENT_MAX_LENGTH 79

typedef struct {
    uint8_t kind; /* KIND_* */
    char name[NAME_MAX_LENGTH + 1];
    char comment[COMMENT_MAX_LENGTH + 1];
    uint32_t size;
    uint32_t in_use;
    uint32_t protection;
    uint32_t days, minutes, ticks;
} FsEntry;

typedef struct FsFile FsFile;
typedef struct FsDir FsDir;

typedef struct {
    /* The drives at the top: volumes ("DH0:Work"), floppy drives with a disk ("DF0:Disk") and
     * without one ("DF0"). Calls `add` once per drive; a non-zero return stops. */
    uint32_t (*drives)(void *ctx, int (*add)(void *, const FsEntry *), void *arg);
    uint32_t (*examine)(void *ctx, const char *path, FsEntry *entry);
    uint32_t (*open_dir)(void *ctx, const char *path, FsDir **dir);
    /* E_NOT_FOUND after the last entry. */
    uint32_t (*next_entry)(void *ctx, FsDir *dir, FsEntry *entry);
    void (*close_dir)(void *ctx, FsDir *dir);

    uint32_t (*open_read)(void *ctx, const char *path, FsFile **file, uint32_t *size);
    uint32_t (*open_write)(void *ctx, const char *path, FsFile **file);
    /* Reads up to `count` bytes; `*got` 0 at the end. */
    uint32_t (*read)(void *ctx, FsFile *file, void *buffer, uint32_t count, uint32_t *got);
    uint32_t (*write)(void *ctx, FsFile *file, const void *buffer, uint32_t count);
    uint32_t (*close)(void *ctx, FsFile *file);

    uint32_t (*make_drawer)(void *ctx, const char *path);
    /* One file or empty drawer. */
    uint32_t (*remove)(void *ctx, const char *path);
    /* Within one volume; never replaces an existing item. */
    uint32_t (*rename)(void *ctx, const char *from, const char *to);
    uint32_t (*set_protection)(void *ctx, const char *path, uint32_t bits);
    uint32_t (*set_comment)(void *ctx, const char *path, const char *comment);
    uint32_t (*set_date)(void *ctx, const char *path, uint32_t days, uint32_t minutes,
                         uint32_t ticks);
    /* Whether two checked paths lie on the same volume. */
    int (*same_volume)(void *ctx, const char *a, const char *b);
    /* Non-zero when the user asked the server to stop. */
    int (*stop_requested)(void *ctx);
    /* A clock in milliseconds that may wrap, for how long the PC has waited for a packet. */
    uint32_t (*milliseconds)(void *ctx);
    void *ctx;
    /* The block devices behind the drives, for the image items and Format; 0 when none. */
    const DiskAccess *disks;
} FileSystem;

#endif
