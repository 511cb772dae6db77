/* The packet exchange with the PC: packet types, answer words, error codes and byte order. */
#ifndef DM_WIRE_H
#define DM_WIRE_H

#include <stdint.h>

enum {
    PK_OK = 0,
    PK_ABORT = 1,
    PK_IDENTIFY = 2,
    PK_FILE_HEADER = 3,
    PK_FILE_END = 4,
    PK_FILE_DATA = 5,
    PK_CONFIRM = 8,
    PK_PROGRESS = 9,
    PK_ERROR_REPORT = 10,
    PK_STEP_COUNT = 11,
    CMD_LIST = 100,
    CMD_OPEN_FILE = 101,
    CMD_CREATE = 102,
    CMD_DELETE = 103,
    CMD_RENAME = 104,
    CMD_MOVE = 105,
    CMD_COPY = 106,
    CMD_SET_ATTRIBUTES = 107,
    CMD_COUNT = 108,
    CMD_GET_LAST_ERROR = 109,
    CMD_FORMAT = 110,
    CMD_NEW_DRAWER = 111,
    CMD_FINISH_SETUP = 112
};

#define ANSWER_OK 0x506B4F6BUL     /* "PkOk" */
#define ANSWER_RESEND 0x506B5273UL /* "PkRs" */
#define IDENTIFICATION "Quenzor(r)"
#define IDENTIFICATION_LENGTH 10
#define HEADER_SIZE 12

/* Item kinds of a directory record. */
enum {
    KIND_VOLUME = 0,
    KIND_FLOPPY = 1,
    KIND_DRAWER = 2,
    KIND_FILE = 3,
    KIND_ROM_FILE = 4,
    KIND_ADF_FILE = 5,
    KIND_HDF_FILE = 6
};
#define RECORD_FIXED_SIZE 29

/* A drive's protection field: it has subdrawers; it may be formatted; it takes every file
 * system variant (without it the PC offers only the old one). */
#define DRIVE_HAS_SUBDRAWERS 0x80000000UL
#define DRIVE_FORMATTABLE 0x20000000UL
#define DRIVE_ANY_FILE_SYSTEM 0x10000000UL
#define KEEP_COMMENT_BIT 0x40000000UL

/* Protection bits that forbid (set) and mark (set). */
#define PROT_DELETE 0x01UL
#define PROT_EXECUTE 0x02UL
#define PROT_WRITE 0x04UL
#define PROT_READ 0x08UL

/* The codes GetLastError reports. */
enum {
    E_NONE = 0,
    E_UNSPECIFIED = 1,
    E_NO_MEMORY = 2,
    E_VOLUME_FULL = 3,
    E_IN_USE = 4,
    E_BAD_PATH = 5,
    E_NOT_FOUND = 6,
    E_TOO_LARGE = 7,
    E_NOT_POSSIBLE = 8,
    E_BAD_TITLE = 9,
    E_NOT_VALIDATED = 10,
    E_PATH_TOO_LONG = 11,
    E_VOLUME_NOT_MOUNTED = 12,
    E_DELETE_PROTECTED = 13,
    E_FILE_WRITE_PROTECTED = 14,
    E_DISK_WRITE_PROTECTED = 15,
    E_READ_PROTECTED = 16,
    E_NOT_DOS_DISK = 17,
    E_DRAWER_NOT_EMPTY = 18,
    E_DISK_NOT_MOUNTED = 19,
    E_EXISTS = 20,
    E_FILE_IO = 21,
    E_DEVICE_OPEN = 22,
    E_TRACK_READ = 23,
    E_TRACK_WRITE = 24,
    E_TRACK_VERIFY = 25,
    E_SIZE_MISMATCH = 26,
    E_NEEDS_OS2 = 27,
    E_UNKNOWN_COMMAND = 28,
    E_HANDSHAKE = 29
};

static inline uint32_t get32(const uint8_t *p)
{
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3];
}

static inline uint16_t get16(const uint8_t *p)
{
    return (uint16_t)((p[0] << 8) | p[1]);
}

static inline void put32(uint8_t *p, uint32_t v)
{
    p[0] = (uint8_t)(v >> 24);
    p[1] = (uint8_t)(v >> 16);
    p[2] = (uint8_t)(v >> 8);
    p[3] = (uint8_t)v;
}

static inline void put16(uint8_t *p, uint16_t v)
{
    p[0] = (uint8_t)(v >> 8);
    p[1] = (uint8_t)v;
}

#endif
