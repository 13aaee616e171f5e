/* The corpus programs' runtime: output as a running checksum, byte helpers. */
#include "rt.h"

volatile u32 sink;

void out(u32 v)
{
    sink = sink * keep(31) + v;
}

void *memset(void *d, int c, unsigned n)
{
    u8 *p = d;
    while (n--)
        *p++ = (u8)c;
    return d;
}

void *memcpy(void *d, const void *s, unsigned n)
{
    u8 *p = d;
    const u8 *q = s;
    while (n--)
        *p++ = *q++;
    return d;
}
