/* The server's end of the packet exchange: answer words, sequence numbers, retransmission,
 * answer recovery, identification, and file streams in both directions. */
#ifndef DM_CHANNEL_H
#define DM_CHANNEL_H

#include "transport.h"

#include <stdint.h>

/* Results: 0 or one of these. */
enum {
    RC_OK = 0,
    RC_CANCELLED = 1, /* the PC sent Abort */
    RC_FAIL = -1,     /* protocol error or too many retries */
    RC_LINE = -2,     /* the line timed out or failed */
    RC_STOP = -3,     /* the user stopped the server */
    RC_MEMORY = -4
};

/* A packet in the middle of an exchange must arrive within this time. */
#define EXCHANGE_TIMEOUT_MS 20000L

typedef struct {
    Transport *line;
    int32_t send_sequence;
    uint32_t last_accepted;
    uint16_t max_retries;
    uint16_t stream_buffer_size; /* our FileData packets, offset included */
    uint8_t verified;            /* the PC identified itself (with the key, where one is asked) */
    uint8_t keyed;               /* the identification must carry `key` (TCP/IP) */
    uint8_t refused;             /* it carried another one */
    uint8_t challenging;         /* we asked the PC to identify itself */
    uint32_t key;
    uint8_t stashed;             /* a header read ahead waits in `stash` for the next read */
    uint8_t idle;                /* between commands: a new command is the caller's business */
    uint8_t stash[12];
    uint8_t scratch[128];
} Channel;

void channel_init(Channel *ch, Transport *line, uint16_t stream_buffer_size);

int channel_write(Channel *ch, uint16_t type, const void *data, uint16_t length);
/* The next packet: at most `capacity` data bytes delivered (the rest received and dropped).
 * `timeout_ms` applies to the first byte; WAIT_FOREVER for the next command. While waiting for
 * it, a request for a lost answer word is answered. Identify packets are answered inside. */
int channel_read(Channel *ch, uint16_t *type, void *buffer, uint16_t capacity,
                 uint16_t *delivered, int32_t timeout_ms);
/* Asks the PC, which waits for a packet, to identify itself; `verified` says how it went. */
int channel_challenge(Channel *ch);
/* Reads packets until Ok (RC_OK) or Abort (RC_CANCELLED). */
int channel_wait_answer(Channel *ch, int32_t timeout_ms);

/* Outgoing stream (download, listing). */
typedef struct {
    Channel *ch;
    uint8_t *buffer;
    uint16_t size, used;
    uint32_t offset, remaining;
    int failed;
} OutStream;

int out_begin(OutStream *s, Channel *ch, uint32_t total);
int out_write(OutStream *s, const void *data, uint32_t count);
/* FileEnd when everything announced was sent, else Abort; frees the buffer. */
int out_end(OutStream *s);

/* Incoming stream (upload). */
typedef struct {
    Channel *ch;
    uint8_t *buffer;
    uint16_t size;
    uint32_t total, offset;
    int ended;
} InStream;

/* Reads the FileHeader and answers it with Ok. */
int in_begin(InStream *s, Channel *ch, uint32_t *total);
/* The next piece of data: `*data`/`*count` point into the stream buffer, count 0 at FileEnd.
 * `accept` is the answer to the previous piece (Ok, or Abort to stop the PC). */
int in_next(InStream *s, const uint8_t **data, uint32_t *count);
/* Answers the piece just taken: Ok to go on, Abort to stop the sender. */
int in_answer(InStream *s, int go_on);
void in_end(InStream *s);
/* Takes the stream's data into `buffer` and hands every full `size` bytes to `sink`. Each packet
 * is answered before its bytes are copied, so the copy and the sink overlap the next packet on
 * the line; a failure (the sink's, or `*code` already set) stops the PC at its next packet.
 * Returns the stream's result; `*gathered` is what is left in the buffer at its end. */
typedef uint32_t (*GatherSink)(void *context, uint8_t *data, uint32_t count);
int in_gather(InStream *s, uint8_t *buffer, uint32_t size, GatherSink sink, void *context,
              uint32_t *code, uint32_t *gathered);

/* Memory for packets and streams, from the platform. */
void *mem_alloc(uint32_t size);
void mem_free(void *p, uint32_t size);

#endif
