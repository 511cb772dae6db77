/* Format: a new, empty AmigaDOS file system on a floppy disk, written block by block. A full
 * format first writes and reads back every cylinder, one step each; the last step writes the
 * boot block, the root block, the bitmap and the directory cache. */
#include "disk_layout.h"
#include "request.h"
#include "text.h"

#define QUICK_FORMAT 1UL
#define BOOTABLE 2UL
#define LAST_VARIANT 5
#define FIRST_NEW_VARIANT_VERSION 36

/* Fills the track that starts at `first` with the new file system's blocks that lie on it. */
static void compose_track(uint8_t *track, uint32_t first, uint32_t count, const DiskUnit *unit,
                          const DiskPlan *plan, const char *name, uint32_t dos_type, int bootable,
                          const uint32_t stamp[3])
{
    const uint32_t size = unit->block_size;
    memset(track, 0, count * size);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t block = first + i;
        uint8_t *at = track + i * size;
        if (block == 0)
            make_boot_block(at, dos_type, plan->root, bootable); /* and block 1 */
        else if (block == plan->root)
            make_root_block(at, size, plan, name, stamp);
        else if (block >= plan->bitmap && block < plan->bitmap + plan->bitmap_blocks)
            make_bitmap_block(at, size, plan, block - plan->bitmap);
        else if (plan->dircache && block == plan->dircache)
            make_dircache_block(at, size, plan);
    }
}

static uint32_t write_file_system(Server *sv, DiskHandle *disk, const DiskUnit *unit,
                                  const DiskPlan *plan, const char *name, uint32_t dos_type,
                                  int bootable, uint8_t *track, uint8_t *check)
{
    const uint32_t per_track = unit->blocks_per_track;
    const uint32_t last = plan->dircache ? plan->dircache : plan->bitmap + plan->bitmap_blocks - 1;
    uint32_t stamp[3];
    sv->disks->now(sv->disks->ctx, stamp);
    /* The root's tracks first: a disk stopped half-way has no boot block that points at a
     * root not yet written. */
    for (uint32_t first = plan->root / per_track * per_track; first <= last; first += per_track) {
        compose_track(track, first, per_track, unit, plan, name, dos_type, bootable, stamp);
        uint32_t code = verified_write(sv, disk, first, per_track, track, check, unit->block_size);
        if (code)
            return code;
    }
    compose_track(track, 0, per_track, unit, plan, name, dos_type, bootable, stamp);
    return verified_write(sv, disk, 0, per_track, track, check, unit->block_size);
}

static uint32_t check_request(Server *sv, uint32_t dos_type, const char *device, const char *name)
{
    if ((dos_type & 0xFFFFFF00UL) != DOS_TYPE_BASE || (dos_type & 0xFF) > LAST_VARIANT)
        return E_NOT_POSSIBLE;
    if ((dos_type & 0xFF) && sv->disks && sv->disks->dos_version < FIRST_NEW_VARIANT_VERSION)
        return E_NEEDS_OS2;
    size_t n = strlen(device);
    if (n && device[n - 1] == ':')
        --n;
    if (n == 0 || n > DEVICE_NAME_MAX)
        return E_BAD_PATH;
    for (size_t i = 0; i < n; ++i) {
        if (device[i] == ':' || device[i] == '/' || (unsigned char)device[i] < 0x20)
            return E_BAD_PATH;
    }
    memcpy(sv->second, device, n);
    sv->second[n] = 0;
    return check_volume_name(name);
}

int cmd_format(Server *sv, Request *r)
{
    const DiskAccess *d = sv->disks;
    uint32_t dos_type = 0, flags = 0;
    if (!request_word(r, &dos_type) || !request_word(r, &flags))
        return fail(sv, E_NOT_POSSIBLE);
    const char *device = request_text(r);
    const char *name = device ? request_text(r) : 0;
    if (!name)
        return fail(sv, E_NOT_POSSIBLE);
    uint32_t code = check_request(sv, dos_type, device, name);
    if (!code && !d)
        code = E_DEVICE_OPEN;
    if (code)
        return fail(sv, code);
    text_copy(sv->temp, name, sizeof sv->temp);

    DiskUnit unit;
    DiskHandle *disk = 0;
    DiskPlan plan;
    code = d->open(d->ctx, sv->second, &unit, &disk);
    if (code)
        return fail(sv, code);
    if (!unit.floppy || unit.block_size != 512)
        code = E_NOT_POSSIBLE;
    else if (!unit.has_disk)
        code = E_DISK_NOT_MOUNTED;
    else if (unit.write_protected)
        code = E_DISK_WRITE_PROTECTED;
    else
        code = disk_plan(&plan, disk_blocks(&unit), unit.reserved > 2 ? unit.reserved : 2,
                         unit.block_size, dos_type);
    const uint32_t per_track = unit.blocks_per_track, per_cylinder = per_track * unit.surfaces;
    const uint32_t cylinders = unit.high_cyl - unit.low_cyl + 1;
    uint8_t *track = 0, *check = 0;
    if (!code) {
        track = mem_alloc(per_cylinder * unit.block_size);
        check = mem_alloc(per_cylinder * unit.block_size);
        if (!track || !check)
            code = E_NO_MEMORY;
    }
    int result = RC_OK;
    if (code) {
        result = fail(sv, code);
    } else {
        result = ask(sv, unit.label[0] ? unit.label : sv->second);
        uint32_t steps = (flags & QUICK_FORMAT) ? 1 : cylinders + 1;
        uint8_t count[4];
        put32(count, steps);
        if (result == RC_OK)
            result = channel_write(sv->ch, PK_STEP_COUNT, count, sizeof count);
        if (result == RC_OK)
            code = d->inhibit(d->ctx, disk);
        for (uint32_t s = 0; result == RC_OK && !code && s < steps; ++s) {
            if (s + 1 < steps) {
                memset(track, 0, per_cylinder * unit.block_size);
                code = verified_write(sv, disk, s * per_cylinder, per_cylinder, track, check,
                                      unit.block_size);
            } else {
                code = write_file_system(sv, disk, &unit, &plan, sv->temp, dos_type,
                                         (flags & BOOTABLE) != 0, track, check);
            }
            if (code)
                break;
            result = channel_write(sv->ch, PK_OK, 0, 0);
            if (result == RC_OK)
                result = channel_wait_answer(sv->ch, EXCHANGE_TIMEOUT_MS);
        }
        if (code)
            result = fail(sv, code);
        else
            result = result == RC_CANCELLED ? RC_OK : broken(sv, result);
    }
    mem_free(track, per_cylinder * unit.block_size);
    mem_free(check, per_cylinder * unit.block_size);
    uint32_t closed = d->close(d->ctx, disk);
    if (closed && !sv->last_error)
        sv->last_error = closed;
    return result;
}
