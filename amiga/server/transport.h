/* The byte line under the packet layer: the serial port now, a socket later. */
#ifndef DM_TRANSPORT_H
#define DM_TRANSPORT_H

#include <stdint.h>

#define WAIT_FOREVER (-1L)

enum {
    IO_OK = 0,
    IO_TIMEOUT = -1,
    IO_STOP = -2, /* the user asked the server to stop */
    IO_FAIL = -3
};

typedef struct Transport Transport;
struct Transport {
    /* Exactly `count` bytes within `timeout_ms` (WAIT_FOREVER: no limit). */
    int (*read)(Transport *self, void *buffer, uint32_t count, int32_t timeout_ms);
    int (*write)(Transport *self, const void *buffer, uint32_t count);
    /* Drops input until the line has been quiet for a moment. */
    void (*discard)(Transport *self);
    /* Line speed, for time-outs that grow with the bytes on the way. */
    uint32_t bytes_per_second;
    /* Packets go out in pieces of this many bytes, their CRC computed between them, where the
     * line is slow enough to hide it (0: whole). */
    uint16_t write_piece;
    /* How long an answer may take beyond the bytes' own time (0: two seconds). */
    uint32_t answer_wait_ms;
};

#endif
