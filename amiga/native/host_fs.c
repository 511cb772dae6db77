#define _GNU_SOURCE
#include "host_fs.h"

#include "../server/text.h"
#include "../server/wire.h"

#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#define MAX_META 64

struct Meta {
    char path[300];
    uint32_t protection;
    char comment[COMMENT_MAX_LENGTH + 1];
};

struct HostFs {
    char root[512];
    char label[32];
    int fail_writes;
    struct Meta meta[MAX_META];
};

struct FsDir {
    DIR *dir;
    char path[1024];
};

struct FsFile {
    FILE *file;
};

static uint32_t from_errno(int e)
{
    switch (e) {
    case 0: return E_NONE;
    case ENOENT:
    case ENOTDIR: return E_NOT_FOUND;
    case EEXIST: return E_EXISTS;
    case ENOTEMPTY: return E_DRAWER_NOT_EMPTY;
    case ENOSPC: return E_VOLUME_FULL;
    case ENOMEM: return E_NO_MEMORY;
    case ENAMETOOLONG: return E_PATH_TOO_LONG;
    case EACCES:
    case EPERM: return E_NOT_POSSIBLE;
    default: return E_FILE_IO;
    }
}

/* "DH0:a/b" or "<label>:a/b" to the host path; 0 for any other volume. */
static int host_path(HostFs *h, const char *path, char *out, size_t cap)
{
    const char *colon = strchr(path, ':');
    if (!colon)
        return 0;
    size_t device = (size_t)(colon - path);
    if (!((device == 3 && text_equal_nocase(path, "DH0", 3)) ||
          (device == strlen(h->label) && text_equal_nocase(path, h->label, device))))
        return 0;
    /* "." and ".." are plain Amiga names but host directories: never passed on. */
    for (const char *part = colon + 1; *part;) {
        size_t n = strcspn(part, "/");
        if ((n == 1 && part[0] == '.') || (n == 2 && part[0] == '.' && part[1] == '.'))
            return 0;
        part += n + (part[n] == '/');
    }
    snprintf(out, cap, "%s/%s", h->root, colon + 1);
    return 1;
}

static struct Meta *find_meta(HostFs *h, const char *path, int create)
{
    for (int i = 0; i < MAX_META; ++i) {
        if (h->meta[i].path[0] && strcmp(h->meta[i].path, path) == 0)
            return &h->meta[i];
    }
    if (!create)
        return 0;
    for (int i = 0; i < MAX_META; ++i) {
        if (!h->meta[i].path[0]) {
            text_copy(h->meta[i].path, path, sizeof h->meta[i].path);
            return &h->meta[i];
        }
    }
    return 0;
}

static void fill_entry(HostFs *h, const char *host, const char *name, const struct stat *st,
                       FsEntry *e)
{
    memset(e, 0, sizeof *e);
    e->kind = S_ISDIR(st->st_mode) ? KIND_DRAWER : KIND_FILE;
    text_copy(e->name, name, sizeof e->name);
    e->size = e->kind == KIND_FILE ? (uint32_t)st->st_size : 0;
    /* Days since 1978, the host clock taken as the Amiga's. */
    int64_t seconds = (int64_t)st->st_mtime - 252460800;
    if (seconds < 0)
        seconds = 0;
    e->days = (uint32_t)(seconds / 86400);
    e->minutes = (uint32_t)(seconds % 86400 / 60);
    e->ticks = (uint32_t)(seconds % 60 * 50);
    struct Meta *m = find_meta(h, host, 0);
    if (m) {
        e->protection = m->protection;
        text_copy(e->comment, m->comment, sizeof e->comment);
    }
}

static uint32_t fs_drives(void *ctx, int (*add)(void *, const FsEntry *), void *arg)
{
    HostFs *h = ctx;
    FsEntry e;
    memset(&e, 0, sizeof e);
    e.kind = KIND_VOLUME;
    snprintf(e.name, sizeof e.name, "DH0:%s", h->label);
    e.size = 10 * 1024 * 1024;
    e.in_use = 1024 * 1024;
    e.protection = DRIVE_HAS_SUBDRAWERS;
    add(arg, &e);
    memset(&e, 0, sizeof e);
    e.kind = KIND_FLOPPY;
    text_copy(e.name, "DF0", sizeof e.name);
    e.in_use = 0xFFFFFFFFUL;
    add(arg, &e);
    return E_NONE;
}

static uint32_t fs_examine(void *ctx, const char *path, FsEntry *e)
{
    HostFs *h = ctx;
    char host[1024];
    struct stat st;
    if (!host_path(h, path, host, sizeof host))
        return E_VOLUME_NOT_MOUNTED;
    if (lstat(host, &st) != 0)
        return from_errno(errno);
    const char *name = strrchr(path, '/');
    fill_entry(h, host, name ? name + 1 : strchr(path, ':') + 1, &st, e);
    return E_NONE;
}

static uint32_t fs_open_dir(void *ctx, const char *path, FsDir **dir)
{
    HostFs *h = ctx;
    FsDir *d = calloc(1, sizeof *d);
    if (!d)
        return E_NO_MEMORY;
    if (!host_path(h, path, d->path, sizeof d->path)) {
        free(d);
        return E_VOLUME_NOT_MOUNTED;
    }
    d->dir = opendir(d->path);
    if (!d->dir) {
        uint32_t code = from_errno(errno);
        free(d);
        return code;
    }
    *dir = d;
    return E_NONE;
}

static uint32_t fs_next_entry(void *ctx, FsDir *d, FsEntry *e)
{
    struct dirent *de;
    while ((de = readdir(d->dir)) != 0) {
        if (strcmp(de->d_name, ".") == 0 || strcmp(de->d_name, "..") == 0)
            continue;
        char host[2048];
        struct stat st;
        snprintf(host, sizeof host, "%s/%s", d->path, de->d_name);
        if (lstat(host, &st) != 0 || !(S_ISDIR(st.st_mode) || S_ISREG(st.st_mode)))
            continue;
        fill_entry(ctx, host, de->d_name, &st, e);
        return E_NONE;
    }
    return E_NOT_FOUND;
}

static void fs_close_dir(void *ctx, FsDir *d)
{
    (void)ctx;
    closedir(d->dir);
    free(d);
}

static uint32_t open_file(HostFs *h, const char *path, const char *mode, FsFile **file)
{
    char host[1024];
    if (!host_path(h, path, host, sizeof host))
        return E_VOLUME_NOT_MOUNTED;
    struct stat st;
    if (*mode == 'r' && (stat(host, &st) != 0 || !S_ISREG(st.st_mode)))
        return errno == ENOENT ? E_NOT_FOUND : E_NOT_POSSIBLE;
    FILE *f = fopen(host, mode);
    if (!f)
        return from_errno(errno);
    *file = malloc(sizeof **file);
    (*file)->file = f;
    return E_NONE;
}

static uint32_t fs_open_read(void *ctx, const char *path, FsFile **file, uint32_t *size)
{
    FsEntry e;
    uint32_t code = fs_examine(ctx, path, &e);
    if (code)
        return code;
    if (e.protection & PROT_READ)
        return E_READ_PROTECTED;
    *size = e.size;
    return open_file(ctx, path, "rb", file);
}

static uint32_t fs_open_write(void *ctx, const char *path, FsFile **file)
{
    return open_file(ctx, path, "wb", file);
}

static uint32_t fs_read(void *ctx, FsFile *f, void *buffer, uint32_t count, uint32_t *got)
{
    (void)ctx;
    *got = (uint32_t)fread(buffer, 1, count, f->file);
    return ferror(f->file) ? E_FILE_IO : E_NONE;
}

static uint32_t fs_write(void *ctx, FsFile *f, const void *buffer, uint32_t count)
{
    HostFs *h = ctx;
    if (h->fail_writes)
        return E_VOLUME_FULL;
    return fwrite(buffer, 1, count, f->file) == count ? E_NONE : E_FILE_IO;
}

static uint32_t fs_close(void *ctx, FsFile *f)
{
    (void)ctx;
    int failed = fclose(f->file);
    free(f);
    return failed ? E_FILE_IO : E_NONE;
}

static uint32_t fs_make_drawer(void *ctx, const char *path)
{
    char host[1024];
    if (!host_path(ctx, path, host, sizeof host))
        return E_VOLUME_NOT_MOUNTED;
    return mkdir(host, 0755) == 0 ? E_NONE : from_errno(errno);
}

static uint32_t fs_remove(void *ctx, const char *path)
{
    HostFs *h = ctx;
    char host[1024];
    if (!host_path(h, path, host, sizeof host))
        return E_VOLUME_NOT_MOUNTED;
    struct Meta *m = find_meta(h, host, 0);
    if (m && (m->protection & PROT_DELETE))
        return E_DELETE_PROTECTED;
    if (remove(host) != 0)
        return from_errno(errno);
    if (m)
        m->path[0] = 0;
    return E_NONE;
}

static uint32_t fs_rename(void *ctx, const char *from, const char *to)
{
    HostFs *h = ctx;
    char a[1024], b[1024];
    struct stat st;
    if (!host_path(h, from, a, sizeof a) || !host_path(h, to, b, sizeof b))
        return E_VOLUME_NOT_MOUNTED;
    if (strcasecmp(a, b) != 0 && lstat(b, &st) == 0)
        return E_EXISTS;
    if (rename(a, b) != 0)
        return from_errno(errno);
    struct Meta *m = find_meta(h, a, 0);
    if (m)
        text_copy(m->path, b, sizeof m->path);
    return E_NONE;
}

static uint32_t fs_set_protection(void *ctx, const char *path, uint32_t bits)
{
    HostFs *h = ctx;
    char host[1024];
    struct stat st;
    if (!host_path(h, path, host, sizeof host))
        return E_VOLUME_NOT_MOUNTED;
    if (lstat(host, &st) != 0)
        return from_errno(errno);
    struct Meta *m = find_meta(h, host, 1);
    if (!m)
        return E_NO_MEMORY;
    m->protection = bits;
    return E_NONE;
}

static uint32_t fs_set_comment(void *ctx, const char *path, const char *comment)
{
    HostFs *h = ctx;
    char host[1024];
    struct stat st;
    if (!host_path(h, path, host, sizeof host))
        return E_VOLUME_NOT_MOUNTED;
    if (lstat(host, &st) != 0)
        return from_errno(errno);
    struct Meta *m = find_meta(h, host, 1);
    if (!m)
        return E_NO_MEMORY;
    text_copy(m->comment, comment, sizeof m->comment);
    return E_NONE;
}

static uint32_t fs_set_date(void *ctx, const char *path, uint32_t days, uint32_t minutes,
                            uint32_t ticks)
{
    (void)ctx, (void)path, (void)days, (void)minutes, (void)ticks;
    return E_NONE;
}

static int fs_same_volume(void *ctx, const char *a, const char *b)
{
    (void)ctx, (void)a, (void)b;
    return 1;
}

static int fs_stop_requested(void *ctx)
{
    (void)ctx;
    return 0;
}

static uint32_t fs_milliseconds(void *ctx)
{
    (void)ctx;
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint32_t)now.tv_sec * 1000u + (uint32_t)(now.tv_nsec / 1000000);
}

HostFs *host_fs_create(const char *root, const char *label, FileSystem *fs)
{
    HostFs *h = calloc(1, sizeof *h);
    if (!h)
        return 0;
    text_copy(h->root, root, sizeof h->root);
    text_copy(h->label, label, sizeof h->label);
    FileSystem ops = {fs_drives,      fs_examine,        fs_open_dir,    fs_next_entry,
                      fs_close_dir,   fs_open_read,      fs_open_write,  fs_read,
                      fs_write,       fs_close,          fs_make_drawer, fs_remove,
                      fs_rename,      fs_set_protection, fs_set_comment, fs_set_date,
                      fs_same_volume, fs_stop_requested, fs_milliseconds, h,
                      0};
    *fs = ops;
    return h;
}

void host_fs_destroy(HostFs *host)
{
    free(host);
}

void host_fs_fail_writes(HostFs *host, int fail)
{
    host->fail_writes = fail;
}

void *mem_alloc(uint32_t size)
{
    return malloc(size ? size : 1);
}

void mem_free(void *p, uint32_t size)
{
    (void)size;
    free(p);
}
