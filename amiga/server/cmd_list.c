/* ListDirectory: the drives at the top, or the items of one drawer, as a file stream. */
#include "request.h"
#include "text.h"

typedef struct {
    uint8_t *data;
    uint32_t used, size;
    uint32_t count;
    int out_of_memory;
} Listing;

static int add_record(void *arg, const FsEntry *e)
{
    Listing *l = arg;
    uint32_t name = (uint32_t)strlen(e->name), comment = (uint32_t)strlen(e->comment);
    uint32_t length = (RECORD_FIXED_SIZE + name + 1 + comment + 1 + 1) & ~1UL;
    if (l->used + length > l->size) {
        uint32_t size = l->size * 2;
        while (size < l->used + length)
            size *= 2;
        uint8_t *bigger = mem_alloc(size);
        if (!bigger) {
            l->out_of_memory = 1;
            return 1;
        }
        memcpy(bigger, l->data, l->used);
        mem_free(l->data, l->size);
        l->data = bigger;
        l->size = size;
    }
    uint8_t *p = l->data + l->used;
    memset(p, 0, length);
    put32(p, length);
    put32(p + 4, e->size);
    put32(p + 8, e->in_use);
    put32(p + 12, e->protection);
    put32(p + 16, e->days);
    put32(p + 20, e->minutes);
    put32(p + 24, e->ticks);
    p[28] = e->kind;
    memcpy(p + 29, e->name, name);
    memcpy(p + 29 + name + 1, e->comment, comment);
    l->used += length;
    ++l->count;
    return 0;
}

/* Our own unfinished uploads stay out of sight. */
static int hidden(const FsEntry *e)
{
    return text_equal_nocase(e->name, ".drovemark-", 11) && strlen(e->name) >= 11;
}

static uint32_t list_drawer(Server *sv, const char *path, Listing *l)
{
    const FileSystem *fs = sv->fs;
    FsDir *dir = 0;
    uint32_t code = fs->open_dir(fs->ctx, path, &dir);
    if (code)
        return code;
    while ((code = fs->next_entry(fs->ctx, dir, &sv->entry)) == E_NONE) {
        if (!hidden(&sv->entry) && add_record(l, &sv->entry))
            break;
    }
    fs->close_dir(fs->ctx, dir);
    if (l->out_of_memory)
        return E_NO_MEMORY;
    return code == E_NOT_FOUND ? E_NONE : code;
}

int cmd_list(Server *sv, Request *r)
{
    const char *remote = request_text(r);
    if (!remote)
        return fail(sv, E_NOT_POSSIBLE);
    Listing l = {0, 4, 512, 0, 0};
    l.data = mem_alloc(l.size);
    if (!l.data)
        return fail(sv, E_NO_MEMORY);
    uint32_t code;
    if (!remote[0]) {
        code = sv->fs->drives(sv->fs->ctx, add_record, &l);
        if (!code && !l.out_of_memory)
            code = list_images(sv, add_record, &l);
        if (l.out_of_memory)
            code = E_NO_MEMORY;
    } else {
        int is_drive = 0;
        code = path_from_remote(remote, sv->path, &is_drive);
        if (!code)
            code = list_drawer(sv, sv->path, &l);
    }
    int result;
    if (code) {
        result = fail(sv, code);
    } else {
        put32(l.data, l.count);
        OutStream s;
        result = out_begin(&s, sv->ch, l.used);
        if (result == RC_OK) {
            out_write(&s, l.data, l.used);
            result = out_end(&s);
        }
        result = broken(sv, result);
    }
    mem_free(l.data, l.size);
    return result;
}
