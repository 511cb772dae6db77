/* Shared by the command handlers: request fields, path checks and the usual replies. */
#ifndef DM_REQUEST_H
#define DM_REQUEST_H

#include "server.h"
#include "wire.h"

#include <stddef.h>

typedef struct {
    const uint8_t *data;
    uint16_t size, at;
} Request;

/* A NUL-terminated text that ends inside the request; 0 when it does not. */
const char *request_text(Request *r);
/* As request_text, but an empty text at the end of the request. */
const char *request_optional_text(Request *r);
int request_word(Request *r, uint32_t *value);
/* The spare zero bytes after a path field. */
void request_skip_zeros(Request *r);

/* Turns a path from the PC ("DH0:Work/Devs/file") into a checked AmigaDOS path ("DH0:Devs/file")
 * in `out`: one device or volume, no empty parts (a parent reference), no ":" after the first,
 * no control characters. `*is_drive` tells a bare drive. Returns an error code. */
uint32_t path_from_remote(const char *remote, char *out, int *is_drive);
/* The request's next text as a checked path in `out`: of an item inside a drive, or of any
 * folder including a bare drive. A missing text is E_NOT_POSSIBLE. */
uint32_t request_item_path(Request *r, char *out);
uint32_t request_folder_path(Request *r, char *out);
/* Appends "/name" (or "name" after a ":"); the name must be a valid part. */
uint32_t path_append(char *path, const char *name);
/* The last part of a checked path; empty for a drive. */
const char *path_name(const char *path);
/* Cuts the path back to `length` characters. */
void path_cut(char *path, size_t length);
uint32_t check_name(const char *name);

/* Ok for success, Abort with the code kept otherwise. */
int reply(Server *sv, uint32_t code);
/* Abort with the code kept. */
int fail(Server *sv, uint32_t code);
/* Sends Confirm naming `text` and waits, without limit, for the user's answer. */
int ask(Server *sv, const char *text);
/* A broken exchange is reported as unspecified; a stop by the PC is none. */
int broken(Server *sv, int result);

/* Whether the request may run: on a line that asks for the password key, not before the PC has
 * identified itself with it. Otherwise `*result` is the exchange's result. */
int admitted(Server *sv, uint16_t type, const uint8_t *data, uint16_t size, int *result);

/* Command groups. */
int cmd_list(Server *sv, Request *r);
int cmd_open_file(Server *sv, Request *r);
int cmd_create(Server *sv, Request *r);
int cmd_copy(Server *sv, Request *r);
int cmd_count(Server *sv, Request *r);
int cmd_item(Server *sv, uint16_t type, Request *r);
int cmd_format(Server *sv, Request *r);
/* The image items: read by OpenFile, written by CreateObject, named ":DF0:..." or "::...". */
int cmd_open_image(Server *sv, const char *remote);
int cmd_write_image(Server *sv, const char *remote, uint32_t size);
/* Adds the image items to the top-level listing. */
uint32_t list_images(Server *sv, int (*add)(void *, const FsEntry *), void *arg);
/* Writes blocks and reads them back into `scratch`; E_TRACK_VERIFY when they differ. */
uint32_t verified_write(Server *sv, DiskHandle *disk, uint32_t block, uint32_t count,
                        const uint8_t *data, uint8_t *scratch, uint32_t block_size);

/* Walks shared by several commands. */
uint32_t delete_tree(Server *sv, char *path);
uint32_t copy_tree(Server *sv, char *from, char *to, const FsEntry *source);
/* Receives or copies a file into a hidden temporary beside `target`, replacing it only once the
 * whole file is there. */
void temp_name_for(const char *target, char *temp);
uint32_t replace_with(Server *sv, const char *temp, const char *target);

#endif
