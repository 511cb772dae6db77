/* CountContents: the bytes, drawers and files inside an item, one Progress step per drawer. */
#include "request.h"
#include "text.h"

/* The PC waits a few seconds for each Progress: a walk that takes longer (a deep path or a
 * drawer of thousands on a slow machine) tells what it has so far well before then. */
#define QUIET_LIMIT_MS 2000u

typedef struct {
    uint32_t bytes, drawers, files;
    int result; /* of the exchange: a stop by the PC ends the walk */
    uint32_t sent_at;
} Counter;

static void flush(Server *sv, Counter *c)
{
    uint8_t data[12];
    put32(data, c->bytes);
    put32(data + 4, c->drawers);
    put32(data + 8, c->files);
    c->bytes = c->drawers = c->files = 0;
    c->result = channel_write(sv->ch, PK_PROGRESS, data, sizeof data);
    if (c->result == RC_OK)
        c->result = channel_wait_answer(sv->ch, EXCHANGE_TIMEOUT_MS);
    c->sent_at = sv->fs->milliseconds(sv->fs->ctx);
}

static void flush_if_quiet_long(Server *sv, Counter *c)
{
    if ((c->drawers || c->files) && c->result == RC_OK &&
        sv->fs->milliseconds(sv->fs->ctx) - c->sent_at >= QUIET_LIMIT_MS)
        flush(sv, c);
}

static void add_bytes(Counter *c, uint32_t size)
{
    c->bytes = c->bytes + size < c->bytes ? 0xFFFFFFFFUL : c->bytes + size;
}

static uint32_t count_drawer(Server *sv, char *path, Counter *c, unsigned depth)
{
    const FileSystem *fs = sv->fs;
    FsEntry *item = mem_alloc(sizeof *item);
    if (!item)
        return E_NO_MEMORY;
    FsDir *dir = 0;
    uint32_t code = fs->open_dir(fs->ctx, path, &dir);
    while (!code && c->result == RC_OK && (code = fs->next_entry(fs->ctx, dir, item)) == E_NONE) {
        flush_if_quiet_long(sv, c);
        if (item->kind == KIND_FILE) {
            add_bytes(c, item->size);
            ++c->files;
            continue;
        }
        ++c->drawers;
        size_t length = strlen(path);
        if (depth < PATH_MAX_LENGTH / 2 && path_append(path, item->name) == E_NONE) {
            count_drawer(sv, path, c, depth + 1); /* an unreadable drawer counts as empty */
            path_cut(path, length);
        }
    }
    if (dir)
        fs->close_dir(fs->ctx, dir);
    mem_free(item, sizeof *item);
    if (code == E_NOT_FOUND)
        code = E_NONE;
    if (!code && c->result == RC_OK)
        flush(sv, c);
    return code;
}

int cmd_count(Server *sv, Request *r)
{
    const FileSystem *fs = sv->fs;
    uint32_t code = request_folder_path(r, sv->path);
    if (!code)
        code = fs->examine(fs->ctx, sv->path, &sv->entry);
    if (code)
        return fail(sv, code);
    Counter c = {0, 0, 0, RC_OK, fs->milliseconds(fs->ctx)};
    if (sv->entry.kind == KIND_FILE) {
        add_bytes(&c, sv->entry.size);
        c.files = 1;
        flush(sv, &c);
    } else {
        code = count_drawer(sv, sv->path, &c, 0);
    }
    if (c.result != RC_OK)
        return broken(sv, c.result); /* after the PC's stop nothing more is sent */
    return reply(sv, code);
}
