/* The image items: each drive with a disk as an "ADF File" (floppy) or "HDF File" (partition),
 * and the Kickstart ROM as a "ROM File"; read whole like files, and written back from the PC. */
#include "disk_layout.h"
#include "request.h"
#include "text.h"

#define MAX_UNITS 32
#define CHUNK_LIMIT 16384
#define ROM_PROTECTION (PROT_WRITE | PROT_DELETE)

uint32_t list_images(Server *sv, int (*add)(void *, const FsEntry *), void *arg)
{
    const DiskAccess *d = sv->disks;
    if (!d)
        return E_NONE;
    FsEntry *e = &sv->entry;
    uint32_t stamp[3];
    d->now(d->ctx, stamp);
    DiskUnit unit;
    for (uint32_t i = 0; i < MAX_UNITS && d->unit(d->ctx, i, &unit) == E_NONE; ++i) {
        uint32_t bytes = disk_bytes(&unit);
        if (!unit.has_disk || !bytes)
            continue; /* a partition beyond 4 GB has no size the PC could take */
        memset(e, 0, sizeof *e);
        e->kind = unit.floppy ? KIND_ADF_FILE : KIND_HDF_FILE;
        image_name(&unit, e->name, sizeof e->name);
        if (!unit.floppy)
            hdf_geometry(&unit, e->comment, sizeof e->comment);
        e->size = bytes;
        e->days = stamp[0];
        e->minutes = stamp[1];
        e->ticks = stamp[2];
        if (add(arg, e))
            return E_NONE;
    }
    uint32_t size = 0;
    const uint8_t *rom = d->rom(d->ctx, &size);
    if (rom) {
        memset(e, 0, sizeof *e);
        e->kind = KIND_ROM_FILE;
        rom_name(rom, size, e->name, sizeof e->name);
        size_t n = text_copy(e->comment, "ROM image\xA0\xA0", sizeof e->comment);
        n += text_number(e->comment + n, (size + 1023) / 1024);
        text_copy(e->comment + n, " KB", sizeof e->comment - n);
        e->size = size;
        e->protection = ROM_PROTECTION;
        e->days = stamp[0];
        e->minutes = stamp[1];
        e->ticks = stamp[2];
        add(arg, e);
    }
    return E_NONE;
}

/* Blocks moved at a time: a track, or as much of one as fits the limit. */
static uint32_t chunk_blocks(const DiskUnit *unit)
{
    uint32_t blocks = unit->blocks_per_track;
    while (blocks > 1 && blocks * unit->block_size > CHUNK_LIMIT)
        blocks = (blocks + 1) / 2;
    return blocks ? blocks : 1;
}

uint32_t verified_write(Server *sv, DiskHandle *disk, uint32_t block, uint32_t count,
                        const uint8_t *data, uint8_t *scratch, uint32_t block_size)
{
    const DiskAccess *d = sv->disks;
    uint32_t code = d->write(d->ctx, disk, block, count, data);
    if (!code)
        code = d->read(d->ctx, disk, block, count, scratch);
    if (code == E_TRACK_READ)
        code = E_TRACK_VERIFY;
    if (!code && memcmp(data, scratch, count * block_size) != 0)
        code = E_TRACK_VERIFY;
    return code;
}

static int send_rom(Server *sv)
{
    const DiskAccess *d = sv->disks;
    uint32_t size = 0;
    const uint8_t *rom = d->rom(d->ctx, &size);
    if (!rom)
        return fail(sv, E_NOT_FOUND);
    OutStream s;
    int result = out_begin(&s, sv->ch, size);
    if (result == RC_OK) {
        result = out_write(&s, rom, size);
        int ended = out_end(&s);
        if (result == RC_OK)
            result = ended;
    }
    return broken(sv, result);
}

static uint32_t open_image(Server *sv, const char *device, DiskUnit *unit, DiskHandle **disk,
                           uint32_t *bytes)
{
    const DiskAccess *d = sv->disks;
    uint32_t code = d->open(d->ctx, device, unit, disk);
    if (code)
        return code;
    *bytes = disk_bytes(unit);
    if (!unit->has_disk)
        code = E_DISK_NOT_MOUNTED;
    else if (!*bytes)
        code = E_TOO_LARGE;
    if (code) {
        d->close(d->ctx, *disk);
        *disk = 0;
    }
    return code;
}

/* The device an image item names (empty for the ROM), once there are disks to serve it. */
static uint32_t image_target(const Server *sv, const char *remote, char *device)
{
    if (!image_device(remote, device, DEVICE_NAME_MAX + 1))
        return E_BAD_PATH;
    return sv->disks ? E_NONE : E_NOT_FOUND;
}

int cmd_open_image(Server *sv, const char *remote)
{
    const DiskAccess *d = sv->disks;
    char device[DEVICE_NAME_MAX + 1];
    uint32_t code = image_target(sv, remote, device);
    if (code)
        return fail(sv, code);
    if (!device[0])
        return send_rom(sv);

    DiskUnit unit;
    DiskHandle *disk = 0;
    uint32_t bytes = 0;
    code = open_image(sv, device, &unit, &disk, &bytes);
    if (code)
        return fail(sv, code);
    const uint32_t step = chunk_blocks(&unit), blocks = disk_blocks(&unit);
    uint8_t *buffer = mem_alloc(step * unit.block_size);
    if (!buffer) {
        d->close(d->ctx, disk);
        return fail(sv, E_NO_MEMORY);
    }
    OutStream s;
    int result = out_begin(&s, sv->ch, bytes);
    if (result == RC_OK) {
        for (uint32_t block = 0; block < blocks && result == RC_OK; block += step) {
            uint32_t n = blocks - block < step ? blocks - block : step;
            code = d->read(d->ctx, disk, block, n, buffer);
            if (code) {
                sv->last_error = code; /* the short stream ends with Abort */
                break;
            }
            result = out_write(&s, buffer, n * unit.block_size);
        }
        int ended = out_end(&s);
        if (result == RC_OK)
            result = ended;
        if (sv->last_error)
            result = RC_OK;
    }
    mem_free(buffer, step * unit.block_size);
    d->close(d->ctx, disk);
    return broken(sv, result);
}

typedef struct {
    Server *sv;
    DiskHandle *disk;
    const DiskUnit *unit;
    uint8_t *check;
    uint32_t block, step;
} ImageSink;

static uint32_t write_chunk(void *context, uint8_t *data, uint32_t count)
{
    ImageSink *sink = context;
    (void)count;
    uint32_t code = verified_write(sink->sv, sink->disk, sink->block, sink->step, data, sink->check,
                                   sink->unit->block_size);
    sink->block += sink->step;
    return code;
}

/* The PC's image, a chunk at a time, each written and read back before the next is taken. */
static int receive_image(Server *sv, DiskHandle *disk, const DiskUnit *unit, uint32_t bytes)
{
    const DiskAccess *d = sv->disks;
    const uint32_t step = chunk_blocks(unit), chunk = step * unit->block_size;
    InStream s;
    uint32_t total = 0;
    int result = in_begin(&s, sv->ch, &total);
    if (result != RC_OK)
        return broken(sv, result);
    uint32_t code = total == bytes ? E_NONE : E_SIZE_MISMATCH;
    uint8_t *buffer = mem_alloc(chunk), *check = mem_alloc(chunk);
    if (!code && (!buffer || !check))
        code = E_NO_MEMORY;
    if (!code)
        code = d->inhibit(d->ctx, disk);
    ImageSink sink = {sv, disk, unit, check, 0, step};
    uint32_t gathered = 0;
    result = in_gather(&s, buffer, chunk, write_chunk, &sink, &code, &gathered);
    in_end(&s);
    /* The image is whole blocks; what is left is the drive's last, shorter chunk. */
    if (!code && result == RC_OK && gathered)
        code = verified_write(sv, disk, sink.block, gathered / unit->block_size, buffer, check,
                              unit->block_size);
    mem_free(buffer, chunk);
    mem_free(check, chunk);
    if (code) {
        sv->last_error = code;
        return RC_OK;
    }
    return broken(sv, result);
}

int cmd_write_image(Server *sv, const char *remote, uint32_t size)
{
    const DiskAccess *d = sv->disks;
    char device[DEVICE_NAME_MAX + 1];
    uint32_t code = image_target(sv, remote, device);
    if (code)
        return fail(sv, code);
    if (!device[0])
        return fail(sv, E_FILE_WRITE_PROTECTED);
    DiskUnit unit;
    DiskHandle *disk = 0;
    uint32_t bytes = 0;
    code = open_image(sv, device, &unit, &disk, &bytes);
    if (!code && size != bytes)
        code = E_SIZE_MISMATCH;
    if (!code && unit.write_protected)
        code = E_DISK_WRITE_PROTECTED;
    if (code) {
        if (disk)
            d->close(d->ctx, disk);
        return fail(sv, code);
    }
    image_name(&unit, sv->work, sizeof sv->work);
    int result = ask(sv, path_name(sv->work));
    if (result == RC_OK)
        result = receive_image(sv, disk, &unit, bytes);
    else
        result = result == RC_CANCELLED ? RC_OK : broken(sv, result); /* the disk stays */
    code = d->close(d->ctx, disk);
    if (code && !sv->last_error)
        sv->last_error = code;
    return result;
}
