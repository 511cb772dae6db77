#include "disk_device.h"

#include "amiga.h"
#include "fs_dos.h"
#include "../server/disk_layout.h"
#include "../server/text.h"
#include "../server/wire.h"

struct Message {
    struct Node mn_Node;
    struct MsgPort *mn_ReplyPort;
    uint16_t mn_Length;
};
struct IOExtTD {
    struct Message io_Message;
    void *io_Device, *io_Unit;
    uint16_t io_Command;
    uint8_t io_Flags;
    int8_t io_Error;
    uint32_t io_Actual, io_Length;
    void *io_Data;
    uint32_t io_Offset;
    uint32_t iotd_Count, iotd_SecLabel;
};
struct StandardPacket {
    struct Message sp_Msg;
    struct Message *dp_Link;
    struct MsgPort *dp_Port;
    int32_t dp_Type, dp_Res1, dp_Res2, dp_Arg[7];
};
STATIC_OFFSET(struct Message, mn_ReplyPort, 14);
_Static_assert(sizeof(struct Message) == 20, "Message");
STATIC_OFFSET(struct IOExtTD, io_Command, 28);
STATIC_OFFSET(struct IOExtTD, io_Error, 31);
STATIC_OFFSET(struct IOExtTD, io_Length, 36);
STATIC_OFFSET(struct IOExtTD, io_Offset, 44);
_Static_assert(sizeof(struct IOExtTD) == 56, "IOExtTD");
STATIC_OFFSET(struct StandardPacket, dp_Type, 28);
STATIC_OFFSET(struct StandardPacket, dp_Arg, 40);

/* DosEnvec, by long word. */
enum {
    ENV_TABLE_SIZE = 0,
    ENV_SIZE_BLOCK = 1,
    ENV_SURFACES = 3,
    ENV_BLOCKS_PER_TRACK = 5,
    ENV_RESERVED = 6,
    ENV_PREALLOC = 7,
    ENV_LOW_CYL = 9,
    ENV_HIGH_CYL = 10,
    ENV_BUF_MEM_TYPE = 12,
    ENV_DOS_TYPE = 16
};

#define CMD_READ 2
#define CMD_WRITE 3
#define CMD_UPDATE 4
#define CMD_CLEAR 5
#define TD_MOTOR 9
#define TD_FORMAT 11
#define TD_CHANGESTATE 14
#define TD_PROTSTATUS 15
#define TDERR_WRITE_PROT 28
#define TDERR_DISK_CHANGED 29
#define ACTION_INHIBIT 31
#define NT_MESSAGE 5
#define MEMF_CHIP 2UL
#define ROM_SIZE_AT 0x00FFFFECUL
#define ROM_END 0x01000000UL
#define MAX_UNITS 16
#define BOUNCE_SIZE 16384

typedef struct {
    DiskUnit unit;
    char driver[40];
    uint32_t driver_unit, driver_flags, buf_mem_type;
} Drive;

struct DiskHandle {
    Drive drive;
    struct IOExtTD io;
    uint8_t *bounce;
    uint32_t bounce_size;
    uint32_t first_block;
    int inhibited;
};

int32_t OpenDevice(const char *name, uint32_t unit, struct IOExtTD *io, uint32_t flags);
void CloseDevice(struct IOExtTD *io);
int32_t DoIO(struct IOExtTD *io);
void PutMsg(struct MsgPort *port, struct Message *message);
struct Message *GetMsg(struct MsgPort *port);
struct Message *WaitPort(struct MsgPort *port);

static Drive drives[MAX_UNITS];
static int drive_count;
static struct DiskHandle handle;
static struct MsgPort reply_port;
static struct StandardPacket packet __attribute__((aligned(4)));
static struct FileInfoBlock *fib;
static int packet_out; /* a packet sent to a file system, its reply not yet taken */

static int plausible(BPTR b)
{
    return b && (uint32_t)b >= 0x40 && (uint32_t)b <= 0x00FFFFFFUL / 4;
}

/* The DOS list's devices that sit on a device driver, as they are now. */
static void scan(void)
{
    drive_count = 0;
    Forbid();
    const uint8_t *root = *(uint8_t **)((uint8_t *)DOSBase + DOS_ROOT);
    const uint8_t *dos_info = BADDR(*(BPTR *)(root + ROOT_INFO));
    BPTR next = *(BPTR *)(dos_info + DOSINFO_DEVINFO);
    for (int guard = 0; next && guard < 200 && drive_count < MAX_UNITS; ++guard) {
        const struct DosListEntry *d = BADDR(next);
        next = d->dl_Next;
        if (d->dl_Type != DLT_DEVICE || !plausible(d->u.device.startup))
            continue;
        const struct FileSysStartupMsg *fssm = BADDR(d->u.device.startup);
        if (!plausible(fssm->fssm_Device) || !plausible(fssm->fssm_Environ))
            continue;
        const uint32_t *env = BADDR(fssm->fssm_Environ);
        if (env[ENV_TABLE_SIZE] < ENV_HIGH_CYL)
            continue;
        Drive *drive = &drives[drive_count];
        memset(drive, 0, sizeof *drive);
        bstr_copy(drive->driver, fssm->fssm_Device, sizeof drive->driver);
        size_t n = strlen(drive->driver);
        /* The emulator's shared host folders sit on a device with no blocks behind it. */
        if (n < 8 || !text_equal_nocase(drive->driver + n - 7, ".device", 7) ||
            text_equal_nocase(drive->driver, "uae.device", 11))
            continue;
        DiskUnit *u = &drive->unit;
        bstr_copy(u->device, d->dl_Name, sizeof u->device);
        u->floppy = text_equal_nocase(drive->driver, "trackdisk.device", 17);
        u->block_size = env[ENV_SIZE_BLOCK] * 4;
        u->surfaces = env[ENV_SURFACES];
        u->blocks_per_track = env[ENV_BLOCKS_PER_TRACK];
        u->reserved = env[ENV_RESERVED];
        u->prealloc = env[ENV_PREALLOC];
        u->low_cyl = env[ENV_LOW_CYL];
        u->high_cyl = env[ENV_HIGH_CYL];
        u->dos_type = env[ENV_TABLE_SIZE] >= ENV_DOS_TYPE ? env[ENV_DOS_TYPE] : 0x444F5300UL;
        drive->buf_mem_type = env[ENV_TABLE_SIZE] >= ENV_BUF_MEM_TYPE ? env[ENV_BUF_MEM_TYPE] : 0;
        drive->driver_unit = fssm->fssm_Unit;
        drive->driver_flags = fssm->fssm_Flags;
        ++drive_count;
    }
    Permit();
}

/* The mounted volume's name, when the drive's file system knows one. */
static void find_label(DiskUnit *u)
{
    char name[DEVICE_NAME_MAX + 2];
    size_t n = text_copy(name, u->device, sizeof name - 1);
    name[n] = ':';
    name[n + 1] = 0;
    u->label[0] = 0;
    BPTR lock = Lock(name, ACCESS_READ);
    if (!lock)
        return;
    if (Examine(lock, fib))
        text_copy(u->label, fib->fib_FileName, sizeof u->label);
    UnLock(lock);
}

static int io(struct DiskHandle *h, uint16_t command, uint32_t offset, uint32_t length,
              void *data)
{
    h->io.io_Command = command;
    h->io.io_Flags = 0;
    h->io.io_Offset = offset;
    h->io.io_Length = length;
    h->io.io_Data = data;
    h->io.io_Actual = 0;
    DoIO(&h->io);
    return h->io.io_Error; /* DoIO's own answer is a byte on Kickstart 1.x */
}

static void take_reply(void);

static uint32_t disk_open(void *ctx, const char *device, DiskUnit *unit, DiskHandle **disk)
{
    (void)ctx;
    struct DiskHandle *h = &handle;
    if (h->io.io_Device)
        return E_IN_USE;
    take_reply(); /* the port serves the device requests too */
    scan();
    int found = -1;
    for (int i = 0; i < drive_count && found < 0; ++i) {
        if (text_equal_nocase(drives[i].unit.device, device, strlen(device) + 1))
            found = i;
    }
    if (found < 0)
        return E_DEVICE_OPEN;
    memset(h, 0, sizeof *h);
    h->drive = drives[found];
    DiskUnit *u = &h->drive.unit;
    if (!u->block_size || u->block_size > BOUNCE_SIZE)
        return E_NOT_POSSIBLE;
    h->first_block = u->low_cyl * u->surfaces * u->blocks_per_track;
    h->io.io_Message.mn_Node.ln_Type = NT_MESSAGE;
    h->io.io_Message.mn_ReplyPort = &reply_port;
    h->io.io_Message.mn_Length = sizeof h->io;
    if (OpenDevice(h->drive.driver, h->drive.driver_unit, &h->io, h->drive.driver_flags) != 0) {
        h->io.io_Device = 0;
        return E_DEVICE_OPEN;
    }
    /* Transfers go through memory of the kind the driver asks for (chip memory for the
     * floppy drives of Kickstart 1.x). */
    h->bounce_size = BOUNCE_SIZE / u->block_size * u->block_size;
    h->bounce = AllocMem(h->bounce_size, MEMF_PUBLIC | (h->drive.buf_mem_type & MEMF_CHIP) |
                                             (u->floppy ? MEMF_CHIP : 0));
    if (!h->bounce) {
        CloseDevice(&h->io);
        h->io.io_Device = 0;
        return E_NO_MEMORY;
    }
    u->has_disk = 1;
    if (u->floppy) {
        /* Drives that cannot tell have a disk. */
        if (io(h, TD_CHANGESTATE, 0, 0, 0) == 0 && h->io.io_Actual != 0)
            u->has_disk = 0;
        if (u->has_disk && io(h, TD_PROTSTATUS, 0, 0, 0) == 0 && h->io.io_Actual != 0)
            u->write_protected = 1;
    }
    if (u->has_disk)
        find_label(u);
    *unit = *u;
    *disk = h;
    return E_NONE;
}

/* The byte offset of `count` blocks from `block`, unless past 4 GB or the partition. */
static int byte_offset(struct DiskHandle *h, uint32_t block, uint32_t count, uint32_t *offset)
{
    const DiskUnit *u = &h->drive.unit;
    uint32_t blocks = disk_blocks(u);
    if (!blocks || block > blocks || count > blocks - block)
        return 0;
    uint32_t last = h->first_block + block + count;
    if (last < h->first_block || last > 0xFFFFFFFFUL / u->block_size)
        return 0;
    *offset = (h->first_block + block) * u->block_size;
    return 1;
}

static uint32_t from_io_error(int error, uint32_t otherwise)
{
    return error == TDERR_WRITE_PROT     ? E_DISK_WRITE_PROTECTED
           : error == TDERR_DISK_CHANGED ? E_DISK_NOT_MOUNTED
                                         : otherwise;
}

static uint32_t disk_read(void *ctx, DiskHandle *h, uint32_t block, uint32_t count, void *buffer)
{
    (void)ctx;
    const uint32_t size = h->drive.unit.block_size;
    uint8_t *to = buffer;
    uint32_t offset = 0;
    if (!byte_offset(h, block, count, &offset))
        return E_TOO_LARGE;
    for (uint32_t left = count * size; left;) {
        uint32_t n = left < h->bounce_size ? left : h->bounce_size;
        int error = io(h, CMD_READ, offset, n, h->bounce);
        if (error || h->io.io_Actual != n)
            return from_io_error(error, E_TRACK_READ);
        memcpy(to, h->bounce, n);
        to += n;
        offset += n;
        left -= n;
    }
    return E_NONE;
}

static uint32_t disk_write(void *ctx, DiskHandle *h, uint32_t block, uint32_t count,
                           const void *buffer)
{
    (void)ctx;
    const DiskUnit *u = &h->drive.unit;
    const uint8_t *from = buffer;
    uint32_t offset = 0;
    if (!byte_offset(h, block, count, &offset))
        return E_TOO_LARGE;
    const uint32_t track = u->blocks_per_track * u->block_size;
    for (uint32_t left = count * u->block_size; left;) {
        uint32_t n = left < h->bounce_size ? left : h->bounce_size;
        /* Whole floppy tracks are written without reading them first, so that a disk that
         * was never formatted takes them. */
        uint16_t command = CMD_WRITE;
        if (u->floppy && offset % track == 0 && n >= track) {
            n -= n % track;
            command = TD_FORMAT;
        }
        memcpy(h->bounce, from, n);
        int error = io(h, command, offset, n, h->bounce);
        if (error)
            return from_io_error(error, E_TRACK_WRITE);
        from += n;
        offset += n;
        left -= n;
    }
    /* Out of the driver's buffer onto the disk, and forgotten, so that a read comes back from
     * the disk itself. */
    int error = io(h, CMD_UPDATE, 0, 0, 0);
    if (error)
        return from_io_error(error, E_TRACK_WRITE);
    io(h, CMD_CLEAR, 0, 0, 0);
    return E_NONE;
}

/* The reply to the packet sent last, once the file system gives it. */
static void take_reply(void)
{
    if (!packet_out)
        return;
    while (!GetMsg(&reply_port))
        WaitPort(&reply_port);
    packet_out = 0;
}

/* ACTION_INHIBIT to the drive's file system, when one runs. The disk is given back without
 * waiting: the file system then reads it anew, which takes a while that the PC need not wait
 * for; the reply is taken before the next packet or device request. */
static uint32_t send_inhibit(struct DiskHandle *h, int32_t on)
{
    take_reply();
    struct MsgPort *handler = 0;
    Forbid();
    const uint8_t *root = *(uint8_t **)((uint8_t *)DOSBase + DOS_ROOT);
    const uint8_t *dos_info = BADDR(*(BPTR *)(root + ROOT_INFO));
    BPTR next = *(BPTR *)(dos_info + DOSINFO_DEVINFO);
    char name[DEVICE_NAME_MAX + 1];
    for (int guard = 0; next && guard < 200 && !handler; ++guard) {
        const struct DosListEntry *d = BADDR(next);
        next = d->dl_Next;
        if (d->dl_Type != DLT_DEVICE)
            continue;
        bstr_copy(name, d->dl_Name, sizeof name);
        if (text_equal_nocase(name, h->drive.unit.device, strlen(name) + 1))
            handler = d->dl_Task;
    }
    Permit();
    if (!handler)
        return E_NONE; /* nothing has the disk */
    memset(&packet, 0, sizeof packet);
    packet.sp_Msg.mn_Node.ln_Type = NT_MESSAGE;
    packet.sp_Msg.mn_Node.ln_Name = (char *)&packet.dp_Link;
    packet.sp_Msg.mn_ReplyPort = &reply_port;
    packet.sp_Msg.mn_Length = sizeof packet;
    packet.dp_Link = &packet.sp_Msg;
    packet.dp_Port = &reply_port;
    packet.dp_Type = ACTION_INHIBIT;
    packet.dp_Arg[0] = on;
    PutMsg(handler, &packet.sp_Msg);
    packet_out = 1;
    if (!on)
        return E_NONE;
    take_reply();
    return packet.dp_Res1 ? E_NONE : E_IN_USE;
}

static uint32_t disk_inhibit(void *ctx, DiskHandle *h)
{
    (void)ctx;
    if (h->inhibited)
        return E_NONE;
    uint32_t code = send_inhibit(h, -1);
    if (!code)
        h->inhibited = 1;
    return code;
}

static uint32_t disk_close(void *ctx, DiskHandle *h)
{
    (void)ctx;
    if (!h || !h->io.io_Device)
        return E_NONE;
    int error = io(h, CMD_UPDATE, 0, 0, 0);
    if (h->drive.unit.floppy)
        io(h, TD_MOTOR, 0, 0, 0);
    CloseDevice(&h->io);
    h->io.io_Device = 0;
    FreeMem(h->bounce, h->bounce_size);
    h->bounce = 0;
    /* The file system reads the disk anew: a new name, a new file system. */
    if (h->inhibited)
        send_inhibit(h, 0);
    h->inhibited = 0;
    return error ? from_io_error(error, E_TRACK_WRITE) : E_NONE;
}

static uint32_t unit_at(void *ctx, uint32_t index, DiskUnit *unit)
{
    if (index == 0)
        scan();
    if (index >= (uint32_t)drive_count)
        return E_NOT_FOUND;
    *unit = drives[index].unit;
    if (!unit->floppy) {
        unit->has_disk = 1;
        find_label(unit);
        return E_NONE;
    }
    /* Only the driver knows whether a disk is in the drive. */
    Drive kept[MAX_UNITS];
    int count = drive_count;
    memcpy(kept, drives, sizeof kept);
    DiskHandle *disk = 0;
    if (disk_open(ctx, unit->device, unit, &disk) == E_NONE)
        disk_close(ctx, disk);
    memcpy(drives, kept, sizeof kept);
    drive_count = count;
    return E_NONE;
}

static const uint8_t *rom_at(void *ctx, uint32_t *size)
{
    (void)ctx;
    uint32_t stated = *(const volatile uint32_t *)ROM_SIZE_AT;
    *size = stated == 0x40000UL || stated == 0x80000UL ? stated : 0x80000UL;
    return (const uint8_t *)(ROM_END - *size);
}

static void now(void *ctx, uint32_t stamp[3])
{
    (void)ctx;
    struct DateStamp ds;
    DateStamp(&ds);
    stamp[0] = (uint32_t)ds.ds_Days;
    stamp[1] = (uint32_t)ds.ds_Minute;
    stamp[2] = (uint32_t)ds.ds_Tick;
}

int disk_device_init(DiskAccess *access)
{
    fib = AllocMem(sizeof *fib, MEMF_PUBLIC | MEMF_CLEAR);
    if (!fib)
        return 0;
    memset(&reply_port, 0, sizeof reply_port);
    int32_t signal = AllocSignal(-1);
    if (signal < 0) {
        FreeMem(fib, sizeof *fib);
        fib = 0;
        return 0;
    }
    reply_port.mp_Node.ln_Type = NT_MSGPORT;
    reply_port.mp_SigTask = FindTask(0);
    reply_port.mp_SigBit = (uint8_t)signal;
    reply_port.mp_MsgList.lh_Head = (struct Node *)&reply_port.mp_MsgList.lh_Tail;
    reply_port.mp_MsgList.lh_TailPred = (struct Node *)&reply_port.mp_MsgList.lh_Head;
    DiskAccess ops = {unit_at, disk_open, disk_read, disk_write, disk_inhibit, disk_close,
                      rom_at, now, ((struct Library *)DOSBase)->lib_Version, 0};
    *access = ops;
    return 1;
}

void disk_device_close(void)
{
    take_reply();
    if (fib) {
        FreeSignal(reply_port.mp_SigBit);
        FreeMem(fib, sizeof *fib);
    }
    fib = 0;
}
