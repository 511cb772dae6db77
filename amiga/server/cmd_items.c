/* Commands on one item: Delete, Rename, Move, SetAttributes, NewDrawer and FinishSetup. */
#include "request.h"
#include "text.h"

uint32_t delete_tree(Server *sv, char *path)
{
    const FileSystem *fs = sv->fs;
    uint32_t code = fs->examine(fs->ctx, path, &sv->entry);
    if (code)
        return code;
    if (sv->entry.kind == KIND_DRAWER) {
        /* The drawer is read afresh after each deletion: a walk does not survive one. */
        for (;;) {
            FsDir *dir = 0;
            code = fs->open_dir(fs->ctx, path, &dir);
            if (code)
                return code;
            code = fs->next_entry(fs->ctx, dir, &sv->entry);
            fs->close_dir(fs->ctx, dir);
            if (code == E_NOT_FOUND)
                break;
            if (code)
                return code;
            if (fs->stop_requested(fs->ctx))
                return E_UNSPECIFIED;
            size_t length = strlen(path);
            code = path_append(path, sv->entry.name);
            if (!code)
                code = delete_tree(sv, path);
            path_cut(path, length);
            if (code)
                return code;
        }
    }
    return fs->remove(fs->ctx, path);
}

/* Whether `inner` is `outer` or lies inside it. */
static int within(const char *inner, const char *outer)
{
    size_t n = strlen(outer);
    return strlen(inner) >= n && text_equal_nocase(inner, outer, n) &&
           (inner[n] == 0 || inner[n] == '/' || outer[n - 1] == ':');
}

static uint32_t do_delete(Server *sv, Request *r)
{
    uint32_t code = request_item_path(r, sv->work);
    return code ? code : delete_tree(sv, sv->work);
}

static uint32_t do_rename(Server *sv, Request *r)
{
    const FileSystem *fs = sv->fs;
    uint32_t code = request_item_path(r, sv->path);
    if (code)
        return code;
    request_skip_zeros(r);
    const char *name = request_text(r);
    if (!name)
        return E_NOT_POSSIBLE;
    if ((code = check_name(name)) != E_NONE)
        return code;
    size_t folder = (size_t)(path_name(sv->path) - sv->path);
    memcpy(sv->second, sv->path, folder);
    sv->second[folder] = 0;
    if ((code = path_append(sv->second, name)) != E_NONE)
        return code;
    /* Only the case of the name may change in place. */
    if (!text_equal_nocase(sv->path, sv->second, strlen(sv->path) + 1) &&
        fs->examine(fs->ctx, sv->second, &sv->entry) == E_NONE)
        return E_EXISTS;
    return fs->rename(fs->ctx, sv->path, sv->second);
}

static uint32_t do_move(Server *sv, Request *r)
{
    const FileSystem *fs = sv->fs;
    uint32_t code = request_item_path(r, sv->path);
    if (code)
        return code;
    request_skip_zeros(r);
    const char *destination = request_optional_text(r);
    int is_drive = 0;
    if (!destination)
        return E_NOT_POSSIBLE;
    if ((code = path_from_remote(destination, sv->second, &is_drive)) != E_NONE)
        return code;
    if (within(sv->second, sv->path))
        return E_NOT_POSSIBLE;
    FsEntry source;
    if ((code = fs->examine(fs->ctx, sv->path, &source)) != E_NONE)
        return code;
    if ((code = path_append(sv->second, path_name(sv->path))) != E_NONE)
        return code;
    if (fs->examine(fs->ctx, sv->second, &sv->entry) == E_NONE)
        return E_EXISTS;
    if (fs->same_volume(fs->ctx, sv->path, sv->second))
        return fs->rename(fs->ctx, sv->path, sv->second);
    /* Across volumes: the source goes only once the copy is complete. */
    if ((code = copy_tree(sv, sv->path, sv->second, &source)) != E_NONE)
        return code;
    return delete_tree(sv, sv->path);
}

static uint32_t do_set_attributes(Server *sv, Request *r)
{
    const FileSystem *fs = sv->fs;
    uint32_t value = 0;
    if (!request_word(r, &value))
        return E_NOT_POSSIBLE;
    uint32_t code = request_item_path(r, sv->path);
    if (code)
        return code;
    const char *comment = 0;
    if (!(value & KEEP_COMMENT_BIT)) {
        request_skip_zeros(r);
        comment = request_optional_text(r);
        if (!comment)
            return E_NOT_POSSIBLE;
        if (strlen(comment) > COMMENT_MAX_LENGTH)
            return E_TOO_LARGE;
    }
    if ((code = fs->examine(fs->ctx, sv->path, &sv->entry)) != E_NONE)
        return code;
    if ((code = fs->set_protection(fs->ctx, sv->path, value & 0xFF)) != E_NONE)
        return code;
    return comment ? fs->set_comment(fs->ctx, sv->path, comment) : E_NONE;
}

static uint32_t do_new_drawer(Server *sv, Request *r)
{
    const FileSystem *fs = sv->fs;
    uint32_t code = request_folder_path(r, sv->path);
    if (code)
        return code;
    size_t length = strlen(sv->path);
    for (uint32_t number = 1; number < 1000; ++number) {
        char name[16] = "Unnamed";
        text_number(name + 7, number);
        path_cut(sv->path, length);
        if ((code = path_append(sv->path, name)) != E_NONE)
            return code;
        code = fs->examine(fs->ctx, sv->path, &sv->entry);
        if (code == E_NOT_FOUND)
            return fs->make_drawer(fs->ctx, sv->path);
        if (code)
            return code;
    }
    return E_EXISTS;
}

int cmd_item(Server *sv, uint16_t type, Request *r)
{
    switch (type) {
    case CMD_DELETE: return reply(sv, do_delete(sv, r));
    case CMD_RENAME: return reply(sv, do_rename(sv, r));
    case CMD_MOVE: return reply(sv, do_move(sv, r));
    case CMD_SET_ATTRIBUTES: return reply(sv, do_set_attributes(sv, r));
    case CMD_NEW_DRAWER: return reply(sv, do_new_drawer(sv, r));
    default: return reply(sv, E_NONE); /* FinishSetup: nothing left to do here */
    }
}
