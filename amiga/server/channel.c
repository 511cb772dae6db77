#include "channel.h"

#include "crc32.h"
#include "text.h"
#include "wire.h"

#define SHORT_WAIT_MS 400L
/* Beyond the time the PC takes to answer a request, which it tells from a packet by silence. */
#define RECOVERY_WAIT_MS 1200L
/* Together longer than the PC's wait for the rest of a packet's data and then for its CRC. */
#define RECOVERY_REQUESTS 10
#define CRC_PIECE 64

void channel_init(Channel *ch, Transport *line, uint16_t stream_buffer_size)
{
    memset(ch, 0, sizeof *ch);
    ch->line = line;
    ch->send_sequence = 1;
    ch->max_retries = 50;
    ch->stream_buffer_size = stream_buffer_size < 5 ? 5 : stream_buffer_size;
}

/* Time for `bytes` to cross the line, with room for a slow far side. */
static int32_t time_for(const Channel *ch, uint32_t bytes)
{
    uint32_t rate = ch->line->bytes_per_second ? ch->line->bytes_per_second : 1000;
    uint32_t wait = ch->line->answer_wait_ms ? ch->line->answer_wait_ms : 2000;
    return (int32_t)(wait + (bytes + bytes / 8) * 1000 / rate);
}

static int line_result(int io)
{
    return io == IO_STOP ? RC_STOP : RC_LINE;
}

static int send_word(Channel *ch, uint32_t word)
{
    uint8_t b[4];
    put32(b, word);
    return ch->line->write(ch->line, b, 4) == IO_OK ? RC_OK : RC_LINE;
}

static int read_word(Channel *ch, uint32_t *word, int32_t timeout)
{
    uint8_t b[4];
    int io = ch->line->read(ch->line, b, 4, timeout);
    if (io != IO_OK)
        return io;
    *word = get32(b);
    return IO_OK;
}

/* Whether the four bytes read in place of an answer word begin a packet header of the PC's;
 * if so the header is kept for the next read. */
static int pc_packet_follows(Channel *ch, uint32_t first)
{
    uint8_t *h = ch->stash;
    put32(h, first);
    if (ch->line->read(ch->line, h + 4, 8, SHORT_WAIT_MS) != IO_OK ||
        get32(h + 8) != crc32(h, 8))
        return 0;
    ch->stashed = 1;
    return 1;
}

/* Reads and drops the data and CRC of a packet whose header was read. */
static void drop(Channel *ch, uint16_t size)
{
    Transport *t = ch->line;
    for (uint32_t left = size ? size + 4u : 0; left;) {
        uint32_t n = left < sizeof ch->scratch ? left : sizeof ch->scratch;
        if (t->read(t, ch->scratch, n, time_for(ch, n)) != IO_OK)
            break;
        left -= n;
    }
}

int channel_write(Channel *ch, uint16_t type, const void *data, uint16_t length)
{
    uint8_t header[HEADER_SIZE], tail[4];
    uint32_t data_crc = 0xFFFFFFFFUL;
    int crc_known = length == 0;
    unsigned retries = 0;
    int first = 1, send = 1;
    put32(tail, 0);
    for (;;) {
        int32_t sequence = first ? ch->send_sequence : -ch->send_sequence;
        first = 0;
        Transport *t = ch->line;
        if (send) { /* else ours is on its way already */
            put16(header, type);
            put16(header + 2, length);
            put32(header + 4, (uint32_t)sequence);
            put32(header + 8, crc32(header, 8));
            if (t->write(t, header, HEADER_SIZE) != IO_OK)
                return RC_LINE;
            if (length && !crc_known) {
                /* The first time in small pieces, the CRC of each while the line still sends
                 * its last bytes: computed beforehand it would hold every packet back. */
                const uint8_t *p = data;
                uint16_t piece = t->write_piece ? t->write_piece : length;
                for (uint16_t at = 0; at < length;) {
                    uint16_t n = length - at < piece ? (uint16_t)(length - at) : piece;
                    if (t->write(t, p + at, n) != IO_OK)
                        return RC_LINE;
                    data_crc = crc32_update(data_crc, p + at, n);
                    at = (uint16_t)(at + n);
                }
                put32(tail, ~data_crc);
                crc_known = 1;
                if (t->write(t, tail, 4) != IO_OK)
                    return RC_LINE;
            } else if (length &&
                       (t->write(t, data, length) != IO_OK || t->write(t, tail, 4) != IO_OK)) {
                return RC_LINE;
            }
        }
        send = 1;
        uint32_t answer = 0;
        int io = read_word(ch, &answer, time_for(ch, HEADER_SIZE + length + 4));
        /* Silence: the answer word was lost, or bytes of our packet were, and the PC still
         * waits for them. Each request for the answer also feeds that wait, until the PC's
         * read completes (a bad CRC, answered PkRs) or runs out (missing data, the same), so
         * it is asked again until the PC has had time for both. */
        for (int asked = 0; io == IO_TIMEOUT && asked < RECOVERY_REQUESTS; ++asked) {
            if (send_word(ch, (uint32_t)ch->send_sequence) != RC_OK)
                return RC_LINE;
            io = read_word(ch, &answer, RECOVERY_WAIT_MS);
        }
        if (io != IO_OK)
            return line_result(io);
        if (answer == ANSWER_OK) {
            ++ch->send_sequence;
            return RC_OK;
        }
        if (answer == ANSWER_RESEND) {
            retries = 0;
            continue;
        }
        if (++retries > ch->max_retries)
            return RC_FAIL;
        if (ch->last_accepted && answer == ch->last_accepted) {
            /* The PC lost our answer to its last packet, so it has not taken this one yet:
             * it goes again as new, which the PC would otherwise drop as a repeat. */
            if (send_word(ch, ANSWER_OK) != RC_OK)
                return RC_LINE;
            first = 1;
        } else if (pc_packet_follows(ch, answer)) {
            uint16_t kind = get16(ch->stash), size = get16(ch->stash + 2);
            int32_t resent = (int32_t)get32(ch->stash + 4);
            if (resent == (int32_t)ch->last_accepted) {
                /* The packet we took last, sent as new once more: the PC heard nothing from
                 * us for a while (we were busy) and still waits for that answer, then reads
                 * this packet. Taken as a new request it would put every reply after it one
                 * behind. */
                ch->stashed = 0;
                drop(ch, size);
                send = 0;
                continue;
            }
            if (resent == -(int32_t)ch->last_accepted) {
                /* The PC sends again what we took: it lacks our answer, and took what we sent
                 * since for a bad answer, so ours goes again as new. */
                ch->stashed = 0;
                drop(ch, size);
                if (send_word(ch, ANSWER_OK) != RC_OK)
                    return RC_LINE;
                first = 1;
                continue;
            }
            /* The PC went on: it had our packet unless it gave up and sends a new command. */
            if (kind >= CMD_LIST)
                return RC_FAIL;
            ++ch->send_sequence;
            return RC_OK;
        } else {
            t->discard(t);
        }
    }
}

/* Receives `length` data bytes and their CRC: the first `capacity` into `to`, the rest dropped.
 * 1 when the CRC matched, 0 when it did not, or a negative IO_* code. */
static int receive_data(Channel *ch, uint8_t *to, uint16_t capacity, uint16_t length)
{
    Transport *t = ch->line;
    int32_t timeout = time_for(ch, (uint32_t)length + 4);
    uint32_t crc = 0xFFFFFFFFUL;
    uint16_t kept = length < capacity ? length : capacity;
    /* In pieces, so that the CRC runs while the rest is still on the line. */
    for (uint16_t at = 0; at < kept;) {
        uint16_t n = kept - at < CRC_PIECE ? (uint16_t)(kept - at) : CRC_PIECE;
        int io = t->read(t, to + at, n, timeout);
        if (io != IO_OK)
            return io;
        crc = crc32_update(crc, to + at, n);
        at = (uint16_t)(at + n);
    }
    for (uint32_t left = (uint32_t)length - kept; left;) {
        uint32_t n = left < sizeof ch->scratch ? left : sizeof ch->scratch;
        int io = t->read(t, ch->scratch, n, timeout);
        if (io != IO_OK)
            return io;
        crc = crc32_update(crc, ch->scratch, n);
        left -= n;
    }
    uint32_t sent = 0;
    int io = read_word(ch, &sent, timeout);
    if (io != IO_OK)
        return io;
    return sent == ~crc;
}

int channel_read(Channel *ch, uint16_t *type, void *buffer, uint16_t capacity,
                 uint16_t *delivered, int32_t timeout_ms)
{
    Transport *t = ch->line;
    unsigned errors = 0;
    uint8_t header[HEADER_SIZE];
    uint8_t identification[14];
    for (;;) {
        int io = IO_OK;
        if (ch->stashed) {
            memcpy(header, ch->stash, HEADER_SIZE);
            ch->stashed = 0;
        } else {
            io = t->read(t, header, 4, timeout_ms);
            if (io != IO_OK)
                return line_result(io);
            uint32_t word = get32(header);
            if (word == ANSWER_OK || word == ANSWER_RESEND) {
                /* A second answer to a request of ours that had been answered already. */
                if (++errors > ch->max_retries)
                    return RC_FAIL;
                continue;
            }
            int recovery = word && (word == ch->last_accepted || word == ch->last_accepted + 1);
            /* A header never starts like that (Ok packets carry no data): it is the PC asking
             * for the answer to its packet. Otherwise only silence after four bytes says so. */
            if (!recovery || (word >> 16) != 0)
                io = t->read(t, header + 4, 8,
                             timeout_ms == WAIT_FOREVER || ch->idle || recovery ? SHORT_WAIT_MS
                                                                             : timeout_ms);
            if (io == IO_STOP)
                return RC_STOP;
            if ((recovery && (word >> 16) == 0) || io != IO_OK) {
                if (send_word(ch, word == ch->last_accepted ? ANSWER_OK : ANSWER_RESEND) != RC_OK)
                    return RC_LINE;
                continue;
            }
        }
        if (get32(header + 8) != crc32(header, 8)) {
            t->discard(t);
            if (send_word(ch, ANSWER_RESEND) != RC_OK)
                return RC_LINE;
            continue;
        }
        uint16_t kind = get16(header);
        uint16_t length = get16(header + 2);
        int32_t sequence = (int32_t)get32(header + 4);
        if (!ch->idle && kind >= CMD_LIST && sequence >= 0) {
            /* A new command in the middle of an exchange: the PC has given up on this one. */
            memcpy(ch->stash, header, HEADER_SIZE);
            ch->stashed = 1;
            return RC_FAIL;
        }
        uint32_t number = sequence < 0 ? (uint32_t)0 - (uint32_t)sequence : (uint32_t)sequence;
        /* A retransmission of the packet accepted last is a duplicate: its answer was lost. */
        int accept = sequence >= 0 || number != ch->last_accepted;
        uint8_t *to = buffer;
        uint16_t room = capacity;
        if (kind == PK_IDENTIFY) {
            memset(identification, 0, sizeof identification);
            to = identification;
            room = sizeof identification;
        }
        if (!accept)
            room = 0;
        int good = 1;
        if (length) {
            good = receive_data(ch, to, room, length);
            if (good == IO_STOP)
                return RC_STOP;
            if (good < 0 || (accept && !good)) {
                if (++errors > ch->max_retries)
                    return RC_FAIL;
                if (good == 0)
                    t->discard(t);
                if (send_word(ch, ANSWER_RESEND) != RC_OK)
                    return RC_LINE;
                continue;
            }
        }
        if (send_word(ch, ANSWER_OK) != RC_OK)
            return RC_LINE;
        ch->last_accepted = number;
        if (kind == PK_IDENTIFY) {
            /* Answered again when repeated: the PC may not have received our reply. */
            if (accept) {
                ch->verified = length >= IDENTIFICATION_LENGTH &&
                               memcmp(identification, IDENTIFICATION, IDENTIFICATION_LENGTH) == 0;
                if (ch->keyed) {
                    ch->verified = ch->verified && length >= IDENTIFICATION_LENGTH + 4 &&
                                   get32(identification + IDENTIFICATION_LENGTH) == ch->key;
                    ch->refused = !ch->verified;
                }
            }
            if (ch->challenging) {
                *type = kind;
                if (delivered)
                    *delivered = 0;
                return RC_OK;
            }
            /* A wrong key is not answered with ours: the PC takes that as a failed handshake. */
            int r = ch->refused ? channel_write(ch, PK_ABORT, 0, 0)
                                : channel_write(ch, PK_IDENTIFY, IDENTIFICATION, IDENTIFICATION_LENGTH);
            if (r != RC_OK && r != RC_FAIL)
                return r;
            continue;
        }
        if (!accept)
            continue;
        *type = kind;
        if (delivered)
            *delivered = length < room ? length : room;
        return RC_OK;
    }
}

int channel_challenge(Channel *ch)
{
    uint16_t type = 0;
    ch->challenging = 1;
    int r = channel_write(ch, PK_IDENTIFY, IDENTIFICATION, IDENTIFICATION_LENGTH);
    if (r == RC_OK)
        r = channel_read(ch, &type, 0, 0, 0, EXCHANGE_TIMEOUT_MS);
    ch->challenging = 0;
    if (r == RC_OK && type != PK_IDENTIFY)
        ch->verified = 0;
    if (!ch->verified)
        ch->refused = 1;
    return r;
}

int channel_wait_answer(Channel *ch, int32_t timeout_ms)
{
    for (;;) {
        uint16_t type = 0;
        int r = channel_read(ch, &type, 0, 0, 0, timeout_ms);
        if (r != RC_OK)
            return r;
        if (type == PK_OK)
            return RC_OK;
        if (type == PK_ABORT)
            return RC_CANCELLED;
    }
}

int out_begin(OutStream *s, Channel *ch, uint32_t total)
{
    memset(s, 0, sizeof *s);
    s->ch = ch;
    s->size = ch->stream_buffer_size;
    s->remaining = total;
    uint8_t header[8];
    put32(header, total);
    put32(header + 4, s->size);
    s->buffer = mem_alloc(s->size);
    if (!s->buffer) {
        channel_write(ch, PK_ABORT, 0, 0);
        return RC_MEMORY;
    }
    int r = channel_write(ch, PK_FILE_HEADER, header, sizeof header);
    if (r == RC_OK)
        r = channel_wait_answer(ch, EXCHANGE_TIMEOUT_MS);
    if (r != RC_OK) {
        mem_free(s->buffer, s->size);
        s->buffer = 0;
        return r;
    }
    put32(s->buffer, 0);
    s->used = 4;
    return RC_OK;
}

static int out_flush(OutStream *s)
{
    int r = channel_write(s->ch, PK_FILE_DATA, s->buffer, s->used);
    if (r == RC_OK)
        r = channel_wait_answer(s->ch, EXCHANGE_TIMEOUT_MS);
    if (r != RC_OK) {
        s->failed = 1;
        return r;
    }
    s->offset += s->used - 4u;
    s->remaining -= s->used - 4u;
    put32(s->buffer, s->offset);
    s->used = 4;
    return RC_OK;
}

int out_write(OutStream *s, const void *data, uint32_t count)
{
    const uint8_t *from = data;
    if (!s->buffer || s->failed)
        return RC_FAIL;
    if (count > s->remaining - (s->used - 4u)) {
        s->failed = 1;
        return RC_FAIL;
    }
    while (count) {
        uint32_t n = (uint32_t)(s->size - s->used);
        if (n > count)
            n = count;
        memcpy(s->buffer + s->used, from, n);
        s->used = (uint16_t)(s->used + n);
        from += n;
        count -= n;
        if (s->used == s->size) {
            int r = out_flush(s);
            if (r != RC_OK)
                return r;
        }
    }
    return RC_OK;
}

int out_end(OutStream *s)
{
    if (!s->buffer)
        return RC_FAIL;
    int r = RC_OK;
    if (!s->failed && s->used > 4)
        r = out_flush(s);
    mem_free(s->buffer, s->size);
    s->buffer = 0;
    if (s->failed)
        return r == RC_OK ? RC_FAIL : r;
    if (s->remaining)
        return channel_write(s->ch, PK_ABORT, 0, 0) == RC_OK ? RC_FAIL : RC_LINE;
    return channel_write(s->ch, PK_FILE_END, 0, 0);
}

int in_begin(InStream *s, Channel *ch, uint32_t *total)
{
    memset(s, 0, sizeof *s);
    s->ch = ch;
    uint8_t header[8];
    uint16_t type = 0, got = 0;
    int r = channel_read(ch, &type, header, sizeof header, &got, EXCHANGE_TIMEOUT_MS);
    if (r != RC_OK)
        return r;
    if (type == PK_ABORT)
        return RC_CANCELLED;
    if (type != PK_FILE_HEADER || got < 8 || get16(header + 6) <= 4) {
        channel_write(ch, PK_ABORT, 0, 0);
        return RC_FAIL;
    }
    s->total = get32(header);
    s->size = get16(header + 6);
    s->buffer = mem_alloc(s->size);
    if (!s->buffer) {
        channel_write(ch, PK_ABORT, 0, 0);
        return RC_MEMORY;
    }
    *total = s->total;
    return channel_write(ch, PK_OK, 0, 0);
}

int in_next(InStream *s, const uint8_t **data, uint32_t *count)
{
    *count = 0;
    if (!s->buffer || s->ended)
        return RC_FAIL;
    for (;;) {
        uint16_t type = 0, got = 0;
        int r = channel_read(s->ch, &type, s->buffer, s->size, &got, EXCHANGE_TIMEOUT_MS);
        if (r != RC_OK)
            return r;
        if (type == PK_FILE_END) {
            s->ended = 1;
            return s->offset == s->total ? RC_OK : RC_FAIL;
        }
        if (type == PK_ABORT) {
            s->ended = 1;
            return RC_CANCELLED;
        }
        if (type != PK_FILE_DATA)
            continue;
        uint32_t offset = got >= 4 ? get32(s->buffer) : 0;
        uint32_t n = got >= 4 ? got - 4u : 0;
        if (got < 4 || offset > s->offset || (offset == s->offset && n > s->total - s->offset)) {
            in_answer(s, 0);
            return RC_FAIL;
        }
        if (offset < s->offset || n == 0) {
            /* Already taken (its answer was lost), or empty: nothing to keep. */
            r = channel_write(s->ch, PK_OK, 0, 0);
            if (r != RC_OK)
                return r;
            continue;
        }
        s->offset += n;
        *data = s->buffer + 4;
        *count = n;
        return RC_OK;
    }
}

int in_answer(InStream *s, int go_on)
{
    if (!go_on)
        s->ended = 1;
    return channel_write(s->ch, go_on ? PK_OK : PK_ABORT, 0, 0);
}

void in_end(InStream *s)
{
    if (s->buffer)
        mem_free(s->buffer, s->size);
    s->buffer = 0;
}

int in_gather(InStream *s, uint8_t *buffer, uint32_t size, GatherSink sink, void *context,
              uint32_t *code, uint32_t *gathered)
{
    int result = RC_OK;
    *gathered = 0;
    while (result == RC_OK) {
        const uint8_t *data = 0;
        uint32_t count = 0;
        result = in_next(s, &data, &count);
        if (result != RC_OK || count == 0)
            break;
        /* The packet's bytes stay in the stream buffer until the next read. */
        result = in_answer(s, *code == 0);
        if (*code || result != RC_OK)
            break;
        while (count && !*code) {
            uint32_t n = size - *gathered < count ? size - *gathered : count;
            memcpy(buffer + *gathered, data, n);
            *gathered += n;
            data += n;
            count -= n;
            if (*gathered == size) {
                *code = sink(context, buffer, size);
                *gathered = 0;
            }
        }
    }
    return result;
}
