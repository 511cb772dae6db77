#include "request.h"

#include "text.h"

/* The report texts: the wording the PC shows for each code. */
static const char *const error_texts[] = {
    "",
    "Unspecified error.",
    "There is not enough memory.",
    "The volume is full.",
    "Another program is using the file.",
    "The path is incorrect.",
    "The item does not exist.",
    "The object is too large.",
    "The operation is not possible.",
    "The title is not correct.",
    "The disk is not validated.",
    "The path is too long.",
    "The volume is not mounted.",
    "The file is protected from deletion.",
    "The file is write-protected.",
    "The disk is write-protected.",
    "The file is protected from reading.",
    "The disk is incompatible (not an AmigaDOS format disk).",
    "The drawer is not empty.",
    "The disk is not mounted.",
    "An object with the specified filename already exists.",
    "Error during file I/O.",
    "The device cannot be opened.",
    "Error reading disk track.",
    "Error writing disk track.",
    "Error verifying disk track.",
    "The file size does not match disk capacity.",
    "The requested operation requires Amiga OS 2.0 or higher.",
    "Unknown command.",
    "The handshaking failed.",
};

const char *request_text(Request *r)
{
    if (r->at >= r->size)
        return 0;
    long n = text_length_within(r->data + r->at, r->size - r->at);
    if (n < 0)
        return 0;
    const char *text = (const char *)r->data + r->at;
    r->at = (uint16_t)(r->at + n + 1);
    return text;
}

const char *request_optional_text(Request *r)
{
    return r->at >= r->size ? "" : request_text(r);
}

int request_word(Request *r, uint32_t *value)
{
    if (r->size - r->at < 4)
        return 0;
    *value = get32(r->data + r->at);
    r->at = (uint16_t)(r->at + 4);
    return 1;
}

void request_skip_zeros(Request *r)
{
    while (r->at < r->size && r->data[r->at] == 0)
        ++r->at;
}

uint32_t check_name(const char *name)
{
    size_t n = strlen(name);
    if (n == 0 || n > NAME_MAX_LENGTH)
        return n ? E_PATH_TOO_LONG : E_BAD_PATH;
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = (unsigned char)name[i];
        if (c < 0x20 || c == ':' || c == '/' || (c >= 0x7F && c < 0xA0))
            return E_BAD_PATH;
    }
    return E_NONE;
}

uint32_t path_from_remote(const char *remote, char *out, int *is_drive)
{
    size_t top = 0;
    while (remote[top] && remote[top] != '/')
        ++top;
    size_t colon = 0;
    while (colon < top && remote[colon] != ':')
        ++colon;
    if (colon == top)
        return top && !remote[top] ? E_DISK_NOT_MOUNTED : E_BAD_PATH;
    if (colon == 0 || colon > 30)
        return E_BAD_PATH;
    for (size_t i = 0; i < colon; ++i) {
        unsigned char c = (unsigned char)remote[i];
        if (c < 0x20 || (c >= 0x7F && c < 0xA0))
            return E_BAD_PATH;
    }
    /* The volume's name after the device is for the user; the device finds it. */
    memcpy(out, remote, colon + 1);
    size_t length = colon + 1;
    out[length] = 0;
    *is_drive = remote[top] == 0;
    const char *part = remote + top;
    while (*part == '/') {
        ++part;
        size_t n = 0;
        while (part[n] && part[n] != '/')
            ++n;
        if (n == 0 || n > NAME_MAX_LENGTH)
            return n ? E_PATH_TOO_LONG : E_BAD_PATH;
        if (length + n + 1 > PATH_MAX_LENGTH)
            return E_PATH_TOO_LONG;
        for (size_t i = 0; i < n; ++i) {
            unsigned char c = (unsigned char)part[i];
            if (c < 0x20 || c == ':' || (c >= 0x7F && c < 0xA0))
                return E_BAD_PATH;
        }
        if (out[length - 1] != ':')
            out[length++] = '/';
        memcpy(out + length, part, n);
        length += n;
        out[length] = 0;
        part += n;
    }
    return E_NONE;
}

uint32_t request_item_path(Request *r, char *out)
{
    int is_drive = 0;
    const char *remote = request_text(r);
    if (!remote)
        return E_NOT_POSSIBLE;
    uint32_t code = path_from_remote(remote, out, &is_drive);
    return code ? code : is_drive ? E_NOT_POSSIBLE : E_NONE;
}

uint32_t request_folder_path(Request *r, char *out)
{
    int is_drive = 0;
    const char *remote = request_text(r);
    return remote ? path_from_remote(remote, out, &is_drive) : E_NOT_POSSIBLE;
}

uint32_t path_append(char *path, const char *name)
{
    uint32_t code = check_name(name);
    if (code)
        return code;
    size_t length = strlen(path), n = strlen(name);
    if (length + n + 1 > PATH_MAX_LENGTH)
        return E_PATH_TOO_LONG;
    if (length && path[length - 1] != ':')
        path[length++] = '/';
    memcpy(path + length, name, n + 1);
    return E_NONE;
}

const char *path_name(const char *path)
{
    const char *name = path;
    for (const char *p = path; *p; ++p) {
        if (*p == '/' || *p == ':')
            name = p + 1;
    }
    return name;
}

void path_cut(char *path, size_t length)
{
    path[length] = 0;
}

int reply(Server *sv, uint32_t code)
{
    sv->last_error = code;
    return channel_write(sv->ch, code ? PK_ABORT : PK_OK, 0, 0);
}

int fail(Server *sv, uint32_t code)
{
    sv->last_error = code;
    return channel_write(sv->ch, PK_ABORT, 0, 0);
}

int ask(Server *sv, const char *text)
{
    uint16_t n = (uint16_t)(strlen(text) + 1);
    int r = channel_write(sv->ch, PK_CONFIRM, text, n);
    return r == RC_OK ? channel_wait_answer(sv->ch, WAIT_FOREVER) : r;
}

int broken(Server *sv, int result)
{
    if (result == RC_OK || result == RC_CANCELLED)
        return RC_OK;
    if (!sv->last_error)
        sv->last_error = result == RC_MEMORY ? E_NO_MEMORY : E_UNSPECIFIED;
    return result;
}

static int report_error(Server *sv)
{
    uint8_t data[4 + 64];
    uint32_t code = sv->last_error;
    const char *text = code < sizeof error_texts / sizeof error_texts[0] ? error_texts[code] : "";
    put32(data, code);
    size_t n = text_copy((char *)data + 4, text, sizeof data - 4);
    return channel_write(sv->ch, PK_ERROR_REPORT, data, (uint16_t)(4 + n + 1));
}

void server_init(Server *sv, Channel *ch, const FileSystem *fs)
{
    memset(sv, 0, sizeof *sv);
    sv->ch = ch;
    sv->fs = fs;
    sv->disks = fs->disks;
}

int server_handle(Server *sv, uint16_t type, const uint8_t *data, uint16_t size)
{
    Request r = {data, data ? size : 0, 0};
    int held = RC_OK;
    if (!admitted(sv, type, data, r.size, &held))
        return held;
    switch (type) {
    case CMD_GET_LAST_ERROR: return report_error(sv);
    case PK_FILE_HEADER:
    case PK_FILE_DATA: return channel_write(sv->ch, PK_ABORT, 0, 0); /* nobody waits for it */
    case PK_OK:
    case PK_ABORT:
    case PK_FILE_END:
    case PK_CONFIRM:
    case PK_PROGRESS:
    case PK_ERROR_REPORT:
    case PK_STEP_COUNT: return RC_OK; /* late packets of an exchange that has ended */
    default: break;
    }
    sv->last_error = E_NONE;
    switch (type) {
    case CMD_LIST: return cmd_list(sv, &r);
    case CMD_OPEN_FILE: return cmd_open_file(sv, &r);
    case CMD_CREATE: return cmd_create(sv, &r);
    case CMD_COPY: return cmd_copy(sv, &r);
    case CMD_COUNT: return cmd_count(sv, &r);
    case CMD_DELETE:
    case CMD_RENAME:
    case CMD_MOVE:
    case CMD_SET_ATTRIBUTES:
    case CMD_NEW_DRAWER:
    case CMD_FINISH_SETUP: return cmd_item(sv, type, &r);
    case CMD_FORMAT: return cmd_format(sv, &r);
    default: return fail(sv, E_UNKNOWN_COMMAND);
    }
}

int server_step(Server *sv, int32_t wait_ms)
{
    static uint8_t request[REQUEST_CAPACITY];
    uint16_t type = 0, got = 0;
    sv->ch->idle = 1;
    int r = channel_read(sv->ch, &type, request, sizeof request, &got, wait_ms);
    sv->ch->idle = 0;
    if (r == RC_STOP)
        return r;
    if (r != RC_OK) {
        sv->ch->line->discard(sv->ch->line);
        return r;
    }
    if (got == sizeof request && type >= CMD_LIST) {
        /* Longer than any request this server takes: the rest was dropped. */
        sv->last_error = E_PATH_TOO_LONG;
        return type == CMD_CREATE && request[RECORD_FIXED_SIZE - 1] <= KIND_DRAWER
                   ? RC_OK
                   : fail(sv, E_PATH_TOO_LONG);
    }
    return server_handle(sv, type, request, got);
}

int server_run(Server *sv)
{
    for (;;) {
        if (server_step(sv, WAIT_FOREVER) == RC_STOP)
            return RC_STOP;
    }
}
