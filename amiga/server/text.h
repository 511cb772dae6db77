/* The few string and memory helpers the server uses: the platform's own natively, the runtime's
 * on the Amiga. */
#ifndef DM_TEXT_H
#define DM_TEXT_H

#include <stddef.h>
#include <stdint.h>

#ifdef DM_AMIGA
void *memcpy(void *to, const void *from, size_t n);
void *memmove(void *to, const void *from, size_t n);
void *memset(void *to, int c, size_t n);
int memcmp(const void *a, const void *b, size_t n);
size_t strlen(const char *s);
#else
#include <string.h>
#endif

/* Amiga names compare without regard to case (Latin-1 letters included). */
int text_equal_nocase(const char *a, const char *b, size_t n);
/* Copies at most `cap - 1` characters and terminates; returns the length copied. */
size_t text_copy(char *to, const char *from, size_t cap);
/* The length of a text that must end inside `size` bytes; -1 when it does not. */
long text_length_within(const uint8_t *p, size_t size);
/* Decimal digits of `value` into `to` (11 bytes are enough); returns the length. */
size_t text_number(char *to, uint32_t value);

#endif
