/* The parts of the ROM's structures and calls this server touches, with their offsets checked
 * against the Kickstart 1.2 layout. */
#ifndef DM_AMIGA_H
#define DM_AMIGA_H

#include <stddef.h>
#include <stdint.h>

typedef int32_t BPTR; /* a long-word address divided by four */
#define BADDR(b) ((void *)((uint32_t)(b) << 2))

struct Node {
    struct Node *ln_Succ, *ln_Pred;
    uint8_t ln_Type;
    int8_t ln_Pri;
    char *ln_Name;
};
struct List {
    struct Node *lh_Head, *lh_Tail, *lh_TailPred;
    uint8_t lh_Type, l_pad;
};
struct Library {
    struct Node lib_Node;
    uint8_t lib_Flags, lib_pad;
    uint16_t lib_NegSize, lib_PosSize, lib_Version, lib_Revision;
    char *lib_IdString;
    uint32_t lib_Sum;
    uint16_t lib_OpenCnt;
};
struct MsgPort {
    struct Node mp_Node;
    uint8_t mp_Flags, mp_SigBit;
    void *mp_SigTask;
    struct List mp_MsgList;
};
struct Interrupt {
    struct Node is_Node;
    void *is_Data;
    void (*is_Code)(void);
};
struct DateStamp {
    int32_t ds_Days, ds_Minute, ds_Tick;
};
struct FileInfoBlock {
    int32_t fib_DiskKey, fib_DirEntryType;
    char fib_FileName[108];
    int32_t fib_Protection, fib_EntryType, fib_Size, fib_NumBlocks;
    struct DateStamp fib_Date;
    char fib_Comment[80];
    char fib_Reserved[36];
};
struct InfoData {
    int32_t id_NumSoftErrors, id_UnitNumber, id_DiskState, id_NumBlocks, id_NumBlocksUsed;
    int32_t id_BytesPerBlock, id_DiskType;
    BPTR id_VolumeNode;
    int32_t id_InUse;
};
/* One entry of the DOS device list; devices and volumes share the head and the name. */
struct DosListEntry {
    BPTR dl_Next;
    int32_t dl_Type;
    struct MsgPort *dl_Task;
    BPTR dl_Lock;
    union {
        struct {
            BPTR handler;
            int32_t stack_size, priority;
            BPTR startup, seg_list, glob_vec;
        } device;
        struct {
            struct DateStamp date;
            BPTR lock_list;
            int32_t disk_type, unused;
        } volume;
    } u;
    BPTR dl_Name; /* BCPL string */
};
struct FileSysStartupMsg {
    uint32_t fssm_Unit;
    BPTR fssm_Device;
    BPTR fssm_Environ;
    uint32_t fssm_Flags;
};

#define STATIC_OFFSET(type, field, offset) \
    _Static_assert(offsetof(type, field) == (offset), #type "." #field)
STATIC_OFFSET(struct Node, ln_Name, 10);
_Static_assert(sizeof(struct Node) == 14, "Node");
STATIC_OFFSET(struct List, lh_Type, 12);
STATIC_OFFSET(struct Library, lib_Version, 20);
STATIC_OFFSET(struct Library, lib_OpenCnt, 32);
STATIC_OFFSET(struct MsgPort, mp_SigBit, 15);
STATIC_OFFSET(struct MsgPort, mp_SigTask, 16);
_Static_assert(sizeof(struct MsgPort) == 34, "MsgPort");
STATIC_OFFSET(struct Interrupt, is_Data, 14);
STATIC_OFFSET(struct Interrupt, is_Code, 18);
_Static_assert(sizeof(struct Interrupt) == 22, "Interrupt");
STATIC_OFFSET(struct FileInfoBlock, fib_FileName, 8);
STATIC_OFFSET(struct FileInfoBlock, fib_Protection, 116);
STATIC_OFFSET(struct FileInfoBlock, fib_Size, 124);
STATIC_OFFSET(struct FileInfoBlock, fib_Date, 132);
STATIC_OFFSET(struct FileInfoBlock, fib_Comment, 144);
_Static_assert(sizeof(struct FileInfoBlock) == 260, "FileInfoBlock");
STATIC_OFFSET(struct InfoData, id_NumBlocks, 12);
STATIC_OFFSET(struct InfoData, id_BytesPerBlock, 20);
STATIC_OFFSET(struct InfoData, id_VolumeNode, 28);
_Static_assert(sizeof(struct InfoData) == 36, "InfoData");
STATIC_OFFSET(struct DosListEntry, u.device.startup, 28);
STATIC_OFFSET(struct DosListEntry, u.volume.date, 16);
STATIC_OFFSET(struct DosListEntry, dl_Name, 40);
STATIC_OFFSET(struct FileSysStartupMsg, fssm_Device, 4);

/* Offsets into structures used only through them. */
#define EXEC_DEVICE_LIST 350     /* struct List in ExecBase */
#define EXEC_VBLANK_FREQUENCY 530 /* UBYTE: 50 on PAL, 60 on NTSC */
#define DOS_ROOT 34              /* struct RootNode * in DosLibrary */
#define ROOT_INFO 24             /* BPTR to DosInfo */
#define DOSINFO_DEVINFO 4        /* BPTR to the first DosListEntry */
#define PROCESS_WINDOW_PTR 184   /* APTR in Process: -1 keeps requesters away */
#define TASK_NODE_TYPE 8
#define NT_PROCESS 13

#define DLT_DEVICE 0
#define DLT_VOLUME 2
#define MEMF_PUBLIC 1UL
#define MEMF_CLEAR 0x10000UL
#define SIGBREAKF_CTRL_C (1UL << 12)
#define NT_INTERRUPT 2
#define NT_MSGPORT 4
#define ACCESS_READ (-2L)
#define MODE_OLDFILE 1005L
#define MODE_NEWFILE 1006L
#define LIBRARY_MINIMUM 33 /* Kickstart 1.2 */

extern void *SysBase, *DOSBase, *MiscBase;

void Forbid(void);
void Permit(void);
void Disable(void);
void Enable(void);
void *AllocMem(uint32_t size, uint32_t requirements);
void FreeMem(void *memory, uint32_t size);
void *FindTask(const char *name);
uint32_t SetSignal(uint32_t signals, uint32_t mask);
uint32_t Wait(uint32_t signals);
void Signal(void *task, uint32_t signals);
int32_t AllocSignal(int32_t number);
void FreeSignal(int32_t number);
struct Interrupt *SetIntVector(int32_t number, struct Interrupt *handler);
void AddIntServer(int32_t number, struct Interrupt *server);
void RemIntServer(int32_t number, struct Interrupt *server);
struct Node *FindName(void *list, const char *name);
void AddPort(struct MsgPort *port);
void RemPort(struct MsgPort *port);
struct MsgPort *FindPort(const char *name);
void RemDevice(void *device);
void CloseLibrary(void *library);
void *OpenResource(const char *name);
void *OpenLibrary(const char *name, uint32_t version);

BPTR Open(const char *name, int32_t mode);
void Close(BPTR file);
int32_t Read(BPTR file, void *buffer, int32_t length);
int32_t Write(BPTR file, const void *buffer, int32_t length);
BPTR Output(void);
int32_t DeleteFile(const char *name);
int32_t Rename(const char *from, const char *to);
BPTR Lock(const char *name, int32_t mode);
void UnLock(BPTR lock);
int32_t Examine(BPTR lock, struct FileInfoBlock *fib);
int32_t ExNext(BPTR lock, struct FileInfoBlock *fib);
int32_t Info(BPTR lock, struct InfoData *info);
BPTR CreateDir(const char *name);
int32_t IoErr(void);
int32_t SetComment(const char *name, const char *comment);
int32_t SetProtection(const char *name, int32_t bits);
void Delay(int32_t ticks);
struct DateStamp *DateStamp(struct DateStamp *date);
int32_t SetFileDate(const char *name, const struct DateStamp *date); /* 2.0 and later */

const char *AllocMiscResource(uint32_t unit, const char *name);
void FreeMiscResource(uint32_t unit);
#define MR_SERIALPORT 0
#define MR_SERIALBITS 1

#endif
