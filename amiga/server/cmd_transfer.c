/* OpenFile and CreateObject: files to and from the PC, as file streams. */
#include "request.h"
#include "text.h"

#define TEMP_PREFIX ".drovemark-"
#define GATHER_SIZE 8192

int cmd_open_file(Server *sv, Request *r)
{
    const FileSystem *fs = sv->fs;
    if (r->at < r->size && r->data[r->at] == ':') {
        const char *remote = request_text(r);
        return remote ? cmd_open_image(sv, remote) : fail(sv, E_NOT_POSSIBLE);
    }
    uint32_t code = request_item_path(r, sv->path);
    FsFile *file = 0;
    uint32_t size = 0;
    if (!code)
        code = fs->open_read(fs->ctx, sv->path, &file, &size);
    if (code)
        return fail(sv, code);

    /* Read in large pieces where memory allows: each file-system call costs a 68000 dearly. */
    uint32_t piece = size < GATHER_SIZE ? size : GATHER_SIZE;
    uint8_t *gather = piece > sizeof sv->chunk ? mem_alloc(piece) : 0;
    uint8_t *buffer = gather ? gather : sv->chunk;
    if (!gather)
        piece = sizeof sv->chunk;
    OutStream s;
    int result = out_begin(&s, sv->ch, size);
    if (result == RC_OK) {
        for (uint32_t left = size; left && result == RC_OK;) {
            uint32_t got = 0, want = left < piece ? left : piece;
            code = fs->read(fs->ctx, file, buffer, want, &got);
            if (code || got == 0) {
                /* The file shrank or failed under us: the short stream ends with Abort. */
                sv->last_error = code ? code : E_FILE_IO;
                break;
            }
            result = out_write(&s, buffer, got);
            left -= got;
        }
        int ended = out_end(&s);
        if (result == RC_OK)
            result = ended;
        if (sv->last_error)
            result = RC_OK;
    }
    if (gather)
        mem_free(gather, piece);
    fs->close(fs->ctx, file);
    return broken(sv, result);
}

void temp_name_for(const char *target, char *temp)
{
    size_t folder = (size_t)(path_name(target) - target);
    memcpy(temp, target, folder);
    text_copy(temp + folder, TEMP_PREFIX "upload", PATH_MAX_LENGTH + 1 - folder);
}

uint32_t replace_with(Server *sv, const char *temp, const char *target)
{
    const FileSystem *fs = sv->fs;
    FsEntry *old = &sv->entry;
    if (fs->examine(fs->ctx, target, old) == E_NONE) {
        if (old->kind != KIND_FILE)
            return E_EXISTS;
        uint32_t code = fs->remove(fs->ctx, target);
        if (code)
            return code;
    }
    return fs->rename(fs->ctx, temp, target);
}

typedef struct {
    const FileSystem *fs;
    FsFile *file;
} FileSink;

static uint32_t write_gathered(void *context, uint8_t *data, uint32_t count)
{
    FileSink *sink = context;
    return sink->fs->write(sink->fs->ctx, sink->file, data, count);
}

/* The file after the go-ahead: into a temporary, which replaces the target once complete. */
static int receive_file(Server *sv, const uint8_t *record)
{
    const FileSystem *fs = sv->fs;
    InStream s;
    uint32_t total = 0;
    int result = in_begin(&s, sv->ch, &total);
    if (result != RC_OK)
        return broken(sv, result);
    temp_name_for(sv->path, sv->temp);
    FsFile *file = 0;
    uint32_t code = fs->open_write(fs->ctx, sv->temp, &file);
    /* Packets are gathered into larger writes: each file-system call costs a 68000 dearly. */
    uint8_t *gather = mem_alloc(GATHER_SIZE);
    uint32_t gathered = 0;
    if (!code && !gather)
        code = E_NO_MEMORY;
    FileSink sink = {fs, file};
    result = in_gather(&s, gather, GATHER_SIZE, write_gathered, &sink, &code, &gathered);
    in_end(&s);
    if (!code && gathered && result == RC_OK)
        code = fs->write(fs->ctx, file, gather, gathered);
    mem_free(gather, GATHER_SIZE);
    if (file) {
        uint32_t closed = fs->close(fs->ctx, file);
        if (!code)
            code = closed;
    }
    if (result == RC_OK && !code) {
        code = replace_with(sv, sv->temp, sv->path);
        if (!code) {
            uint32_t protection = get32(record + 12) & 0xFF;
            if (protection)
                fs->set_protection(fs->ctx, sv->path, protection);
            fs->set_date(fs->ctx, sv->path, get32(record + 16), get32(record + 20),
                         get32(record + 24));
        }
    }
    if (result != RC_OK || code)
        fs->remove(fs->ctx, sv->temp);
    if (code) {
        sv->last_error = code;
        return RC_OK;
    }
    return broken(sv, result);
}

int cmd_create(Server *sv, Request *r)
{
    const FileSystem *fs = sv->fs;
    const uint8_t *record = r->data;
    if (r->size < RECORD_FIXED_SIZE + 1) {
        sv->last_error = E_NOT_POSSIBLE;
        return RC_OK; /* too short to say whether the PC waits for an answer */
    }
    uint8_t kind = record[28];
    uint32_t length = get32(record);
    long name_length = text_length_within(record + 29, r->size - 29u);
    int drawer = kind <= KIND_DRAWER; /* the PC waits for nothing */
    uint32_t code = E_NONE;
    int is_drive = 0;
    if (length > r->size || length < RECORD_FIXED_SIZE + 1 || name_length < 0)
        code = E_NOT_POSSIBLE;
    else if (kind != KIND_DRAWER && kind != KIND_FILE)
        code = E_NOT_POSSIBLE;
    if (!code && !drawer && record[29] == ':')
        return cmd_write_image(sv, (const char *)record + 29, get32(record + 4));
    if (!code)
        code = path_from_remote((const char *)record + 29, sv->path, &is_drive);
    if (!code && is_drive)
        code = E_NOT_POSSIBLE;
    if (!code)
        code = check_name(path_name(sv->path));
    if (drawer) {
        if (!code)
            code = fs->make_drawer(fs->ctx, sv->path);
        sv->last_error = code;
        return RC_OK;
    }
    if (code)
        return fail(sv, code);

    FsEntry *old = &sv->entry;
    int result;
    if (fs->examine(fs->ctx, sv->path, old) == E_NONE) {
        if (old->kind != KIND_FILE)
            return fail(sv, E_EXISTS);
        if (old->protection & PROT_DELETE)
            return fail(sv, E_DELETE_PROTECTED);
        result = ask(sv, path_name(sv->path));
        if (result == RC_CANCELLED)
            return RC_OK; /* the user keeps the old file */
    } else {
        result = channel_write(sv->ch, PK_OK, 0, 0);
    }
    if (result != RC_OK)
        return broken(sv, result);
    return receive_file(sv, record);
}
