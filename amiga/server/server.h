/* The server: reads commands from the PC and answers them against the file system. */
#ifndef DM_SERVER_H
#define DM_SERVER_H

#include "channel.h"
#include "fs.h"

#define PATH_MAX_LENGTH 255
/* Request size the server accepts; longer requests are received and refused. */
#define REQUEST_CAPACITY 1024

typedef struct {
    Channel *ch;
    const FileSystem *fs;
    const DiskAccess *disks;               /* 0: no image items, no formatting */
    uint32_t last_error;
    FsEntry entry;                         /* scratch for walks that need one at a time */
    char path[PATH_MAX_LENGTH + 1];        /* the item a command works on */
    char second[PATH_MAX_LENGTH + 1];      /* its destination */
    char work[PATH_MAX_LENGTH + 1];        /* paths built while walking */
    char temp[PATH_MAX_LENGTH + 1];
    uint8_t chunk[1024];                   /* file data on its way */
    uint8_t held[REQUEST_CAPACITY];        /* a request kept until the PC has identified itself */
    uint16_t held_size;
} Server;

void server_init(Server *sv, Channel *ch, const FileSystem *fs);
/* Serves until the line fails for good or the user stops it; returns the reason. */
int server_run(Server *sv);
/* Reads and answers one request, the first bytes of which are expected within `wait_ms`. */
int server_step(Server *sv, int32_t wait_ms);
/* Answers one request; failures of the command itself are kept for GetLastError. Returns the
 * exchange's result (RC_STOP when the user stopped the server meanwhile). */
int server_handle(Server *sv, uint16_t type, const uint8_t *data, uint16_t size);

#endif
