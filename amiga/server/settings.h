/* How the server is set up. The Shell's argument line and the icon's tool types use the same
 * NAME=VALUE words, so both land here. */
#ifndef DM_SETTINGS_H
#define DM_SETTINGS_H

#include <stddef.h>
#include <stdint.h>

#define SETTINGS_PASSWORD_MAX 99

typedef struct ServerSettings {
    uint32_t baud;
    uint16_t buffer;   /* the largest packet the PC may send us */
    uint8_t handshake; /* RTS/CTS */
    uint16_t tcp_port;
    char password[SETTINGS_PASSWORD_MAX + 1];
} ServerSettings;

enum { SETTING_BAD = -1, SETTING_UNKNOWN = 0, SETTING_TAKEN = 1 };

void settings_defaults(ServerSettings *s);
/* One word: BAUD=n, BUFFER=n, HANDSHAKE=RTSCTS|NONE (or NOHANDSHAKE), PORT=n, PASSWORD=text.
 * A known name with a value out of range is SETTING_BAD and changes nothing. */
int settings_word(ServerSettings *s, const char *word, size_t length);
/* A Shell argument line: words split at blanks, "double quotes" keep blanks in one. Every word
 * must be known; returns 0 and points `*bad`/`*bad_length` at the first one that is not. */
int settings_line(ServerSettings *s, const char *line, size_t length, const char **bad,
                  size_t *bad_length);

#endif
