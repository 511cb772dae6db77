/* Copy on the Amiga: a file, or a drawer with all it holds, into another drawer. */
#include "request.h"
#include "text.h"

static uint32_t copy_file(Server *sv, const char *from, const char *to, const FsEntry *source)
{
    const FileSystem *fs = sv->fs;
    FsFile *in = 0, *out = 0;
    uint32_t size = 0;
    uint32_t code = fs->open_read(fs->ctx, from, &in, &size);
    if (code)
        return code;
    temp_name_for(to, sv->temp);
    code = fs->open_write(fs->ctx, sv->temp, &out);
    while (!code) {
        uint32_t got = 0;
        code = fs->read(fs->ctx, in, sv->chunk, sizeof sv->chunk, &got);
        if (code || got == 0)
            break;
        code = fs->write(fs->ctx, out, sv->chunk, got);
        if (!code && fs->stop_requested(fs->ctx))
            code = E_UNSPECIFIED;
    }
    fs->close(fs->ctx, in);
    if (out) {
        uint32_t closed = fs->close(fs->ctx, out);
        if (!code)
            code = closed;
        if (!code)
            code = replace_with(sv, sv->temp, to);
        if (code)
            fs->remove(fs->ctx, sv->temp);
    }
    if (!code) {
        fs->set_protection(fs->ctx, to, source->protection & 0xFF);
        if (source->comment[0])
            fs->set_comment(fs->ctx, to, source->comment);
        fs->set_date(fs->ctx, to, source->days, source->minutes, source->ticks);
    }
    return code;
}

uint32_t copy_tree(Server *sv, char *from, char *to, const FsEntry *source)
{
    const FileSystem *fs = sv->fs;
    if (source->kind == KIND_FILE)
        return copy_file(sv, from, to, source);
    uint32_t code = fs->examine(fs->ctx, to, &sv->entry);
    if (code == E_NONE && sv->entry.kind != KIND_DRAWER)
        return E_EXISTS;
    if (code == E_NOT_FOUND)
        code = fs->make_drawer(fs->ctx, to);
    if (code)
        return code;
    FsEntry *item = mem_alloc(sizeof *item);
    if (!item)
        return E_NO_MEMORY;
    FsDir *dir = 0;
    code = fs->open_dir(fs->ctx, from, &dir);
    while (!code && (code = fs->next_entry(fs->ctx, dir, item)) == E_NONE) {
        size_t from_length = strlen(from), to_length = strlen(to);
        code = path_append(from, item->name);
        if (!code)
            code = path_append(to, item->name);
        if (!code)
            code = copy_tree(sv, from, to, item);
        path_cut(from, from_length);
        path_cut(to, to_length);
    }
    if (dir)
        fs->close_dir(fs->ctx, dir);
    mem_free(item, sizeof *item);
    return code == E_NOT_FOUND ? E_NONE : code;
}

int cmd_copy(Server *sv, Request *r)
{
    const FileSystem *fs = sv->fs;
    int is_drive = 0;
    uint32_t code = request_item_path(r, sv->path);
    request_skip_zeros(r);
    const char *destination = request_optional_text(r);
    if (!code && !destination)
        code = E_NOT_POSSIBLE;
    if (!code)
        code = path_from_remote(destination, sv->second, &is_drive);
    FsEntry source;
    if (!code)
        code = fs->examine(fs->ctx, sv->path, &source);
    if (!code)
        code = path_append(sv->second, path_name(sv->path));
    /* Never into itself, nor onto itself. */
    size_t n = strlen(sv->path);
    if (!code && strlen(sv->second) >= n && text_equal_nocase(sv->second, sv->path, n) &&
        (sv->second[n] == 0 || sv->second[n] == '/'))
        code = E_NOT_POSSIBLE;
    if (code)
        return fail(sv, code);

    int result;
    if (fs->examine(fs->ctx, sv->second, &sv->entry) == E_NONE) {
        result = ask(sv, path_name(sv->second));
        if (result == RC_CANCELLED)
            return RC_OK;
    } else {
        result = channel_write(sv->ch, PK_OK, 0, 0);
    }
    if (result != RC_OK)
        return broken(sv, result);
    return reply(sv, copy_tree(sv, sv->path, sv->second, &source));
}
