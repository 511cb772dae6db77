#include "fs_dos.h"

#include "amiga.h"
#include "disk_device.h"
#include "../server/channel.h"
#include "../server/text.h"
#include "../server/wire.h"

struct FsDir {
    BPTR lock;
    struct FileInfoBlock fib; /* long-word aligned: AllocMem's memory is */
};

struct FsFile {
    BPTR handle;
};

static struct FileInfoBlock *fib;
static struct InfoData *info;
static DiskAccess disks;

void *mem_alloc(uint32_t size)
{
    /* The size is kept in front so that FreeMem gets it back. */
    uint32_t *block = AllocMem(size + 4, MEMF_PUBLIC);
    if (!block)
        return 0;
    block[0] = size + 4;
    return block + 1;
}

void mem_free(void *p, uint32_t size)
{
    (void)size;
    if (p) {
        uint32_t *block = (uint32_t *)p - 1;
        FreeMem(block, block[0]);
    }
}

static uint32_t from_ioerr(void)
{
    switch (IoErr()) {
    case 103: return E_NO_MEMORY;
    case 202: return E_IN_USE;
    case 203: return E_EXISTS;
    case 204:
    case 205:
    case 232: return E_NOT_FOUND;
    case 210: return E_BAD_PATH;
    case 213: return E_NOT_VALIDATED;
    case 214: return E_DISK_WRITE_PROTECTED;
    case 216: return E_DRAWER_NOT_EMPTY;
    case 218: return E_VOLUME_NOT_MOUNTED;
    case 220: return E_TOO_LARGE;
    case 221: return E_VOLUME_FULL;
    case 222: return E_DELETE_PROTECTED;
    case 223: return E_FILE_WRITE_PROTECTED;
    case 224: return E_READ_PROTECTED;
    case 225: return E_NOT_DOS_DISK;
    case 226: return E_DISK_NOT_MOUNTED;
    case 209:
    case 211:
    case 212:
    case 215: return E_NOT_POSSIBLE;
    default: return E_FILE_IO;
    }
}

static void fill_entry(const struct FileInfoBlock *f, FsEntry *e)
{
    memset(e, 0, sizeof *e);
    e->kind = f->fib_DirEntryType > 0 ? KIND_DRAWER : KIND_FILE;
    text_copy(e->name, f->fib_FileName, sizeof e->name);
    text_copy(e->comment, f->fib_Comment, sizeof e->comment);
    e->size = e->kind == KIND_FILE ? (uint32_t)f->fib_Size : 0;
    e->protection = (uint32_t)f->fib_Protection;
    e->days = (uint32_t)f->fib_Date.ds_Days;
    e->minutes = (uint32_t)f->fib_Date.ds_Minute;
    e->ticks = (uint32_t)f->fib_Date.ds_Tick;
}

static uint32_t product(uint32_t blocks, uint32_t bytes)
{
    if (bytes && blocks > 0xFFFFFFFFUL / bytes)
        return 0xFFFFFFFFUL;
    return blocks * bytes;
}

void bstr_copy(char *to, BPTR b, size_t cap)
{
    const uint8_t *s = BADDR(b);
    size_t n = s ? s[0] : 0;
    if (n > cap - 1)
        n = cap - 1;
    if (n)
        memcpy(to, s + 1, n);
    to[n] = 0;
}

/* A device with a file system behind it names a disk device in its start-up message. */
static int disk_device(const struct DosListEntry *d, int *floppy, uint32_t *capacity)
{
    uint32_t startup = (uint32_t)d->u.device.startup;
    if (startup < 0x100 || startup > 0x00FFFFFFUL / 4)
        return 0;
    const struct FileSysStartupMsg *fssm = BADDR(startup);
    char device[32];
    if (!fssm->fssm_Device || (uint32_t)fssm->fssm_Device > 0x00FFFFFFUL / 4)
        return 0;
    bstr_copy(device, fssm->fssm_Device, sizeof device);
    size_t n = strlen(device);
    if (n < 8 || !text_equal_nocase(device + n - 7, ".device", 7))
        return 0;
    *floppy = text_equal_nocase(device, "trackdisk.device", 17);
    /* A floppy's capacity is the whole disk's, as its image has it. */
    const uint32_t *env = BADDR(fssm->fssm_Environ);
    *capacity = 0;
    if (*floppy && fssm->fssm_Environ && (uint32_t)fssm->fssm_Environ <= 0x00FFFFFFUL / 4 &&
        env[0] >= 10 && env[10] >= env[9] && env[10] - env[9] < 256 && env[3] <= 2 && env[5] <= 64 &&
        env[1] <= 256)
        *capacity = (env[10] - env[9] + 1) * env[3] * env[5] * env[1] * 4;
    return 1;
}

#define MAX_DRIVES 24

static uint32_t fs_drives(void *ctx, int (*add)(void *, const FsEntry *), void *arg)
{
    (void)ctx;
    /* The names are taken under Forbid; the disks are asked afterwards. */
    static char names[MAX_DRIVES][32];
    static uint8_t floppies[MAX_DRIVES];
    static uint32_t capacities[MAX_DRIVES];
    int count = 0;
    Forbid();
    const uint8_t *root = *(uint8_t **)((uint8_t *)DOSBase + DOS_ROOT);
    const uint8_t *dos_info = BADDR(*(BPTR *)(root + ROOT_INFO));
    BPTR next = *(BPTR *)(dos_info + DOSINFO_DEVINFO);
    for (int guard = 0; next && guard < 200 && count < MAX_DRIVES; ++guard) {
        const struct DosListEntry *d = BADDR(next);
        next = d->dl_Next;
        int floppy = 0;
        capacities[count] = 0;
        if (d->dl_Type != DLT_DEVICE)
            continue;
        bstr_copy(names[count], d->dl_Name, sizeof names[count] - 1);
        if (disk_device(d, &floppy, &capacities[count]) ||
            text_equal_nocase(names[count], "RAM", 4)) {
            floppies[count] = (uint8_t)floppy;
            ++count;
        }
    }
    Permit();

    FsEntry e;
    for (int i = count - 1; i >= 0; --i) {
        memset(&e, 0, sizeof e);
        e.kind = floppies[i] ? KIND_FLOPPY : KIND_VOLUME;
        size_t n = text_copy(e.name, names[i], sizeof e.name - 2);
        e.name[n++] = ':';
        e.name[n] = 0;
        BPTR lock = Lock(e.name, ACCESS_READ);
        if (!lock) {
            if (!floppies[i])
                continue;
            e.name[n - 1] = 0; /* a drive without a disk */
            e.in_use = 0xFFFFFFFFUL;
        } else {
            if (Info(lock, info)) {
                e.size = product((uint32_t)info->id_NumBlocks, (uint32_t)info->id_BytesPerBlock);
                e.in_use =
                    product((uint32_t)info->id_NumBlocksUsed, (uint32_t)info->id_BytesPerBlock);
            }
            if (Examine(lock, fib)) {
                text_copy(e.name + n, fib->fib_FileName, sizeof e.name - n);
                e.days = (uint32_t)fib->fib_Date.ds_Days;
                e.minutes = (uint32_t)fib->fib_Date.ds_Minute;
                e.ticks = (uint32_t)fib->fib_Date.ds_Tick;
            }
            e.protection = DRIVE_HAS_SUBDRAWERS;
            if (capacities[i])
                e.size = capacities[i];
            UnLock(lock);
        }
        if (floppies[i]) {
            /* The variants beyond the old file system came with 2.0. */
            e.protection |= DRIVE_FORMATTABLE;
            if (((struct Library *)DOSBase)->lib_Version >= 36)
                e.protection |= DRIVE_ANY_FILE_SYSTEM;
        }
        if (add(arg, &e))
            break;
    }
    return E_NONE;
}

static uint32_t fs_examine(void *ctx, const char *path, FsEntry *e)
{
    (void)ctx;
    BPTR lock = Lock(path, ACCESS_READ);
    if (!lock)
        return from_ioerr();
    uint32_t code = Examine(lock, fib) ? E_NONE : from_ioerr();
    UnLock(lock);
    if (!code)
        fill_entry(fib, e);
    return code;
}

static uint32_t fs_open_dir(void *ctx, const char *path, FsDir **dir)
{
    (void)ctx;
    FsDir *d = mem_alloc(sizeof *d);
    if (!d)
        return E_NO_MEMORY;
    uint32_t code = E_NONE;
    d->lock = Lock(path, ACCESS_READ);
    if (!d->lock)
        code = from_ioerr();
    else if (!Examine(d->lock, &d->fib))
        code = from_ioerr();
    else if (d->fib.fib_DirEntryType <= 0)
        code = E_NOT_POSSIBLE;
    if (code) {
        if (d->lock)
            UnLock(d->lock);
        mem_free(d, sizeof *d);
        return code;
    }
    *dir = d;
    return E_NONE;
}

static uint32_t fs_next_entry(void *ctx, FsDir *d, FsEntry *e)
{
    (void)ctx;
    if (!ExNext(d->lock, &d->fib))
        return IoErr() == 232 ? E_NOT_FOUND : from_ioerr();
    fill_entry(&d->fib, e);
    return E_NONE;
}

static void fs_close_dir(void *ctx, FsDir *d)
{
    (void)ctx;
    UnLock(d->lock);
    mem_free(d, sizeof *d);
}

static uint32_t open_file(const char *path, int32_t mode, FsFile **file)
{
    FsFile *f = mem_alloc(sizeof *f);
    if (!f)
        return E_NO_MEMORY;
    f->handle = Open(path, mode);
    if (!f->handle) {
        uint32_t code = from_ioerr();
        mem_free(f, sizeof *f);
        return code;
    }
    *file = f;
    return E_NONE;
}

static uint32_t fs_open_read(void *ctx, const char *path, FsFile **file, uint32_t *size)
{
    FsEntry *e = mem_alloc(sizeof *e);
    if (!e)
        return E_NO_MEMORY;
    uint32_t code = fs_examine(ctx, path, e);
    if (!code && e->kind != KIND_FILE)
        code = E_NOT_POSSIBLE;
    else if (!code && (e->protection & PROT_READ))
        code = E_READ_PROTECTED;
    *size = e->size;
    mem_free(e, sizeof *e);
    return code ? code : open_file(path, MODE_OLDFILE, file);
}

static uint32_t fs_open_write(void *ctx, const char *path, FsFile **file)
{
    (void)ctx;
    return open_file(path, MODE_NEWFILE, file);
}

static uint32_t fs_read(void *ctx, FsFile *f, void *buffer, uint32_t count, uint32_t *got)
{
    (void)ctx;
    int32_t n = Read(f->handle, buffer, (int32_t)count);
    if (n < 0)
        return from_ioerr();
    *got = (uint32_t)n;
    return E_NONE;
}

static uint32_t fs_write(void *ctx, FsFile *f, const void *buffer, uint32_t count)
{
    (void)ctx;
    return Write(f->handle, buffer, (int32_t)count) == (int32_t)count ? E_NONE : from_ioerr();
}

static uint32_t fs_close(void *ctx, FsFile *f)
{
    (void)ctx;
    Close(f->handle);
    mem_free(f, sizeof *f);
    return E_NONE;
}

static uint32_t fs_make_drawer(void *ctx, const char *path)
{
    (void)ctx;
    BPTR lock = CreateDir(path);
    if (!lock)
        return from_ioerr();
    UnLock(lock);
    return E_NONE;
}

static uint32_t fs_remove(void *ctx, const char *path)
{
    (void)ctx;
    return DeleteFile(path) ? E_NONE : from_ioerr();
}

static uint32_t fs_rename(void *ctx, const char *from, const char *to)
{
    (void)ctx;
    return Rename(from, to) ? E_NONE : from_ioerr();
}

static uint32_t fs_set_protection(void *ctx, const char *path, uint32_t bits)
{
    (void)ctx;
    return SetProtection(path, (int32_t)bits) ? E_NONE : from_ioerr();
}

static uint32_t fs_set_comment(void *ctx, const char *path, const char *comment)
{
    (void)ctx;
    return SetComment(path, comment) ? E_NONE : from_ioerr();
}

static uint32_t fs_set_date(void *ctx, const char *path, uint32_t days, uint32_t minutes,
                            uint32_t ticks)
{
    (void)ctx;
    if (((struct Library *)DOSBase)->lib_Version < 36)
        return E_NONE;
    struct DateStamp date = {(int32_t)days, (int32_t)minutes, (int32_t)ticks};
    return SetFileDate(path, &date) ? E_NONE : from_ioerr();
}

static int fs_same_volume(void *ctx, const char *a, const char *b)
{
    (void)ctx;
    size_t n = 0;
    while (a[n] && a[n] != ':')
        ++n;
    return b[n] == ':' && text_equal_nocase(a, b, n);
}

static int fs_stop_requested(void *ctx)
{
    (void)ctx;
    return (SetSignal(0, 0) & SIGBREAKF_CTRL_C) != 0;
}

static uint32_t fs_milliseconds(void *ctx)
{
    (void)ctx;
    struct DateStamp now;
    DateStamp(&now);
    return ((uint32_t)now.ds_Days * 1440u + (uint32_t)now.ds_Minute) * 60000u +
           (uint32_t)now.ds_Tick * 20u;
}

int fs_dos_init(FileSystem *fs)
{
    fib = AllocMem(sizeof *fib, MEMF_PUBLIC | MEMF_CLEAR);
    info = AllocMem(sizeof *info, MEMF_PUBLIC | MEMF_CLEAR);
    if (!fib || !info) {
        fs_dos_close();
        return 0;
    }
    FileSystem ops = {fs_drives,      fs_examine,        fs_open_dir,    fs_next_entry,
                      fs_close_dir,   fs_open_read,      fs_open_write,  fs_read,
                      fs_write,       fs_close,          fs_make_drawer, fs_remove,
                      fs_rename,      fs_set_protection, fs_set_comment, fs_set_date,
                      fs_same_volume, fs_stop_requested, fs_milliseconds, 0,
                      0};
    *fs = ops;
    if (disk_device_init(&disks))
        fs->disks = &disks;
    return 1;
}

void fs_dos_close(void)
{
    disk_device_close();
    if (fib)
        FreeMem(fib, sizeof *fib);
    if (info)
        FreeMem(info, sizeof *info);
    fib = 0;
    info = 0;
}
