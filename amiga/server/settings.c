#include "settings.h"

#include "text.h"

void settings_defaults(ServerSettings *s)
{
    s->baud = 19200;
    s->buffer = 512;
    s->handshake = 1;
    s->tcp_port = 356;
    text_copy(s->password, "Vormantic", sizeof s->password);
}

/* `value` holds only digits and lies in [low, high]. */
static int number(const char *value, size_t length, uint32_t low, uint32_t high, uint32_t *out)
{
    uint32_t n = 0;
    if (length == 0 || length > 9)
        return 0;
    for (size_t i = 0; i < length; ++i) {
        if (value[i] < '0' || value[i] > '9')
            return 0;
        n = n * 10 + (uint32_t)(value[i] - '0');
    }
    if (n < low || n > high)
        return 0;
    *out = n;
    return 1;
}

static int named(const char *word, size_t length, const char *name, const char **value,
                 size_t *value_length)
{
    size_t n = strlen(name);
    if (length < n || !text_equal_nocase(word, name, n))
        return 0;
    *value = word + n;
    *value_length = length - n;
    return 1;
}

int settings_word(ServerSettings *s, const char *word, size_t length)
{
    const char *value;
    size_t n;
    uint32_t x;
    if (length == 11 && text_equal_nocase(word, "NOHANDSHAKE", 11)) {
        s->handshake = 0;
        return SETTING_TAKEN;
    }
    if (named(word, length, "BAUD=", &value, &n)) {
        /* Paula divides a 3.5 MHz clock: slower than 110 or faster than 1 Mbit/s is no line. */
        if (!number(value, n, 110, 1000000, &x))
            return SETTING_BAD;
        s->baud = x;
    } else if (named(word, length, "BUFFER=", &value, &n)) {
        if (!number(value, n, 5, 8192, &x))
            return SETTING_BAD;
        s->buffer = (uint16_t)x;
    } else if (named(word, length, "HANDSHAKE=", &value, &n)) {
        if (n == 6 && text_equal_nocase(value, "RTSCTS", 6))
            s->handshake = 1;
        else if (n == 4 && text_equal_nocase(value, "NONE", 4))
            s->handshake = 0;
        else
            return SETTING_BAD;
    } else if (named(word, length, "PORT=", &value, &n)) {
        if (!number(value, n, 1, 65535, &x))
            return SETTING_BAD;
        s->tcp_port = (uint16_t)x;
    } else if (named(word, length, "PASSWORD=", &value, &n)) {
        if (n > SETTINGS_PASSWORD_MAX)
            return SETTING_BAD;
        memcpy(s->password, value, n);
        s->password[n] = 0;
    } else {
        return SETTING_UNKNOWN;
    }
    return SETTING_TAKEN;
}

static int blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

int settings_line(ServerSettings *s, const char *line, size_t length, const char **bad,
                  size_t *bad_length)
{
    char word[SETTINGS_PASSWORD_MAX + 16];
    size_t at = 0;
    for (;;) {
        while (at < length && blank(line[at]))
            ++at;
        if (at >= length || line[at] == 0)
            return 1;
        const size_t start = at;
        size_t n = 0;
        int quoted = 0, fits = 1;
        while (at < length && line[at] && (quoted || !blank(line[at]))) {
            if (line[at] == '"')
                quoted = !quoted;
            else if (n < sizeof word)
                word[n++] = line[at];
            else
                fits = 0;
            ++at;
        }
        if (!fits || settings_word(s, word, n) != SETTING_TAKEN) {
            *bad = line + start;
            *bad_length = at - start;
            return 0;
        }
    }
}
