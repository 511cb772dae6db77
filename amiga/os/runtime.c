/* What the compiler expects from a C library, for a 68000: memory helpers and the 32-bit
 * multiply and divide that the 68000 lacks (the cross compiler's own are 68020 code). */
#include "../server/text.h"

void *memcpy(void *to, const void *from, size_t n)
{
    uint8_t *d = to;
    const uint8_t *s = from;
    while (n--)
        *d++ = *s++;
    return to;
}

void *memmove(void *to, const void *from, size_t n)
{
    uint8_t *d = to;
    const uint8_t *s = from;
    if (d <= s || d >= s + n)
        return memcpy(to, from, n);
    while (n--)
        d[n] = s[n];
    return to;
}

void *memset(void *to, int c, size_t n)
{
    uint8_t *d = to;
    while (n--)
        *d++ = (uint8_t)c;
    return to;
}

int memcmp(const void *a, const void *b, size_t n)
{
    const uint8_t *x = a, *y = b;
    for (; n; --n, ++x, ++y) {
        if (*x != *y)
            return *x - *y;
    }
    return 0;
}

size_t strlen(const char *s)
{
    size_t n = 0;
    while (s[n])
        ++n;
    return n;
}

/* __mulsi3 is in calls.S: in C the compiler turns its own products back into calls to it. */

static uint32_t divide(uint32_t n, uint32_t d, uint32_t *remainder)
{
    uint32_t q = 0, r = 0;
    if (d == 0) {
        *remainder = n;
        return 0xFFFFFFFFUL;
    }
    for (int bit = 31; bit >= 0; --bit) {
        r = (r << 1) | ((n >> bit) & 1);
        if (r >= d) {
            r -= d;
            q |= 1UL << bit;
        }
    }
    *remainder = r;
    return q;
}

uint32_t __udivsi3(uint32_t n, uint32_t d)
{
    uint32_t r;
    return divide(n, d, &r);
}

uint32_t __umodsi3(uint32_t n, uint32_t d)
{
    uint32_t r;
    divide(n, d, &r);
    return r;
}

int32_t __divsi3(int32_t n, int32_t d)
{
    uint32_t r;
    uint32_t q = divide(n < 0 ? 0u - (uint32_t)n : (uint32_t)n,
                        d < 0 ? 0u - (uint32_t)d : (uint32_t)d, &r);
    return (n < 0) != (d < 0) ? -(int32_t)q : (int32_t)q;
}

int32_t __modsi3(int32_t n, int32_t d)
{
    uint32_t r;
    divide(n < 0 ? 0u - (uint32_t)n : (uint32_t)n, d < 0 ? 0u - (uint32_t)d : (uint32_t)d, &r);
    return n < 0 ? -(int32_t)r : (int32_t)r;
}
