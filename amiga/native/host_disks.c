#define _GNU_SOURCE
#include "host_disks.h"

#include "../server/text.h"
#include "../server/wire.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#define MAX_DRIVES 4

typedef struct {
    DiskUnit unit;
    char path[512];
} HostDrive;

struct DiskHandle {
    HostDrive *drive;
    FILE *file;
    int inhibited;
};

struct HostDisks {
    HostDrive drives[MAX_DRIVES];
    int count;
    const uint8_t *rom;
    uint32_t rom_size;
    int write_protected, damage_writes;
    int inhibits, inhibited_now;
    struct DiskHandle handle;
};

/* What the drive's file system would report: the disk's name from its root block. */
static void refresh(HostDisks *h, HostDrive *d)
{
    DiskUnit *u = &d->unit;
    struct stat st;
    u->has_disk = d->path[0] && stat(d->path, &st) == 0;
    u->write_protected = (uint8_t)h->write_protected;
    u->label[0] = 0;
    u->dos_type = 0x444F5300UL;
    FILE *f = u->has_disk ? fopen(d->path, "rb") : 0;
    if (!f)
        return;
    uint8_t boot[4], root[512];
    uint32_t blocks = (u->high_cyl - u->low_cyl + 1) * u->surfaces * u->blocks_per_track;
    if (fread(boot, 1, 4, f) == 4 && boot[0] == 'D' && boot[1] == 'O' && boot[2] == 'S' &&
        fseek(f, (long)((blocks - 1 + 2) / 2) * 512, SEEK_SET) == 0 &&
        fread(root, 1, sizeof root, f) == sizeof root && get32(root) == 2 && root[432] <= 30) {
        memcpy(u->label, root + 433, root[432]);
        u->label[root[432]] = 0;
        u->dos_type = get32(boot);
    }
    fclose(f);
}

static uint32_t host_unit(void *ctx, uint32_t index, DiskUnit *unit)
{
    HostDisks *h = ctx;
    if (index >= (uint32_t)h->count)
        return E_NOT_FOUND;
    refresh(h, &h->drives[index]);
    *unit = h->drives[index].unit;
    return E_NONE;
}

static uint32_t host_open(void *ctx, const char *device, DiskUnit *unit, DiskHandle **disk)
{
    HostDisks *h = ctx;
    for (int i = 0; i < h->count; ++i) {
        HostDrive *d = &h->drives[i];
        if (!text_equal_nocase(d->unit.device, device, strlen(device) + 1))
            continue;
        refresh(h, d);
        *unit = d->unit;
        h->handle.drive = d;
        h->handle.inhibited = 0;
        h->handle.file = d->unit.has_disk ? fopen(d->path, "r+b") : 0;
        if (d->unit.has_disk && !h->handle.file)
            return E_DEVICE_OPEN;
        *disk = &h->handle;
        return E_NONE;
    }
    return E_DEVICE_OPEN;
}

static uint32_t host_read(void *ctx, DiskHandle *disk, uint32_t block, uint32_t count,
                          void *buffer)
{
    (void)ctx;
    uint32_t size = disk->drive->unit.block_size;
    if (!disk->file || fseek(disk->file, (long)block * size, SEEK_SET) != 0 ||
        fread(buffer, size, count, disk->file) != count)
        return E_TRACK_READ;
    return E_NONE;
}

static uint32_t host_write(void *ctx, DiskHandle *disk, uint32_t block, uint32_t count,
                           const void *buffer)
{
    HostDisks *h = ctx;
    uint32_t size = disk->drive->unit.block_size;
    if (h->write_protected)
        return E_DISK_WRITE_PROTECTED;
    if (!disk->file || fseek(disk->file, (long)block * size, SEEK_SET) != 0 ||
        fwrite(buffer, size, count, disk->file) != count)
        return E_TRACK_WRITE;
    if (h->damage_writes) {
        uint8_t byte = ((const uint8_t *)buffer)[0] ^ 0x40;
        fseek(disk->file, (long)block * size, SEEK_SET);
        fwrite(&byte, 1, 1, disk->file);
    }
    fflush(disk->file);
    return E_NONE;
}

static uint32_t host_inhibit(void *ctx, DiskHandle *disk)
{
    HostDisks *h = ctx;
    if (!disk->inhibited) {
        disk->inhibited = 1;
        ++h->inhibits;
        h->inhibited_now = 1;
    }
    return E_NONE;
}

static uint32_t host_close(void *ctx, DiskHandle *disk)
{
    HostDisks *h = ctx;
    if (disk->file)
        fclose(disk->file);
    disk->file = 0;
    h->inhibited_now = 0;
    return E_NONE;
}

static const uint8_t *host_rom(void *ctx, uint32_t *size)
{
    HostDisks *h = ctx;
    *size = h->rom_size;
    return h->rom;
}

static void host_now(void *ctx, uint32_t stamp[3])
{
    (void)ctx;
    stamp[0] = 17000; /* 2024-07-18 */
    stamp[1] = 754;
    stamp[2] = 100;
}

HostDisks *host_disks_create(DiskAccess *access)
{
    HostDisks *h = calloc(1, sizeof *h);
    if (!h)
        return 0;
    memset(access, 0, sizeof *access);
    access->unit = host_unit;
    access->open = host_open;
    access->read = host_read;
    access->write = host_write;
    access->inhibit = host_inhibit;
    access->close = host_close;
    access->rom = host_rom;
    access->now = host_now;
    access->dos_version = 40;
    access->ctx = h;
    return h;
}

void host_disks_destroy(HostDisks *h)
{
    free(h);
}

void host_disks_add(HostDisks *h, const char *device, const char *path, int floppy,
                    uint32_t cylinders)
{
    if (h->count == MAX_DRIVES)
        return;
    HostDrive *d = &h->drives[h->count++];
    memset(d, 0, sizeof *d);
    text_copy(d->unit.device, device, sizeof d->unit.device);
    text_copy(d->path, path, sizeof d->path);
    d->unit.floppy = (uint8_t)floppy;
    d->unit.block_size = 512;
    d->unit.blocks_per_track = floppy ? 11 : 32;
    d->unit.surfaces = floppy ? 2 : 1;
    d->unit.reserved = 2;
    d->unit.high_cyl = floppy ? 79 : cylinders - 1;
}

void host_disks_set_rom(HostDisks *h, const uint8_t *rom, uint32_t size)
{
    h->rom = rom;
    h->rom_size = size;
}

void host_disks_write_protect(HostDisks *h, int on)
{
    h->write_protected = on;
}

void host_disks_damage_writes(HostDisks *h, int on)
{
    h->damage_writes = on;
}

int host_disks_inhibited(HostDisks *h, int *now)
{
    *now = h->inhibited_now;
    return h->inhibits;
}
