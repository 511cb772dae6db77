#include "request.h"

#include "text.h"

/* A request after which the PC waits for nothing: a new drawer or empty file. */
static int unanswered(uint16_t type, const uint8_t *data, uint16_t size)
{
    return type == CMD_CREATE && size >= RECORD_FIXED_SIZE && data[RECORD_FIXED_SIZE - 1] <= KIND_DRAWER;
}

/* A PC identifies itself once per process, not per connection: a later connection is asked to,
 * at the first request after which it waits for a packet. A request that has it wait for
 * nothing is held until then. */
int admitted(Server *sv, uint16_t type, const uint8_t *data, uint16_t size, int *result)
{
    Channel *ch = sv->ch;
    *result = RC_OK;
    if (!ch->keyed || ch->verified || type < CMD_LIST)
        return 1;
    if (!ch->refused) {
        if (unanswered(type, data, size) && !sv->held_size) {
            memcpy(sv->held, data, size);
            sv->held_size = size;
            return 0;
        }
        *result = channel_challenge(ch);
        if (*result != RC_OK) {
            sv->held_size = 0;
            sv->last_error = E_HANDSHAKE;
            return 0;
        }
    }
    if (ch->verified) {
        if (sv->held_size) {
            Request held = {sv->held, sv->held_size, 0};
            sv->held_size = 0;
            sv->last_error = E_NONE;
            cmd_create(sv, &held);
        }
        return 1;
    }
    sv->held_size = 0;
    sv->last_error = E_HANDSHAKE;
    if (type == CMD_GET_LAST_ERROR)
        return 1;
    if (!unanswered(type, data, size))
        *result = channel_write(ch, PK_ABORT, 0, 0);
    return 0;
}
