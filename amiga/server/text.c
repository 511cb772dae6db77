#include "text.h"

static unsigned char fold(unsigned char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return (unsigned char)(c - 0x20);
    return c;
}

int text_equal_nocase(const char *a, const char *b, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        if (fold((unsigned char)a[i]) != fold((unsigned char)b[i]))
            return 0;
    }
    return 1;
}

size_t text_copy(char *to, const char *from, size_t cap)
{
    size_t n = 0;
    while (n + 1 < cap && from[n]) {
        to[n] = from[n];
        ++n;
    }
    to[n] = 0;
    return n;
}

long text_length_within(const uint8_t *p, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        if (p[i] == 0)
            return (long)i;
    }
    return -1;
}

size_t text_number(char *to, uint32_t value)
{
    char digits[10];
    size_t n = 0;
    do {
        digits[n++] = (char)('0' + value % 10);
        value /= 10;
    } while (value);
    for (size_t i = 0; i < n; ++i)
        to[i] = digits[n - 1 - i];
    to[n] = 0;
    return n;
}
