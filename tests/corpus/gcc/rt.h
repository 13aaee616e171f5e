/* What the corpus programs share: fixed-width types, a result the test driver reads,
   and byte helpers (the programs are built without a C library). */
typedef unsigned char u8;
typedef unsigned short u16;
typedef unsigned int u32;
typedef int s32;
typedef unsigned long long u64;

extern volatile u32 result;
void out(u32 v);
void *memset(void *d, int c, unsigned n);
void *memcpy(void *d, const void *s, unsigned n);

/* GCC for SH-4 writes most constant shifts (and multiplications and divisions by
   constants, which it turns into shifts) as SHLD/SHAD, which the SH-2 lacks. keep()
   hides a value from the optimiser without an instruction, so shifts are written as
   chains of the SH-2's own SHLL/SHLR by 1, 2, 8 and 16, and other arithmetic by
   constants goes through MUL.L or the division routine. */
static inline u32 keep(u32 v)
{
    __asm__("" : "+r"(v));
    return v;
}

static inline u32 shl(u32 v, int k)
{
    for (; k >= 16; k -= 16)
        v = keep(v << 16);
    for (; k >= 8; k -= 8)
        v = keep(v << 8);
    for (; k >= 2; k -= 2)
        v = keep(v << 2);
    if (k)
        v = keep(v << 1);
    return v;
}

static inline u32 shr(u32 v, int k)
{
    for (; k >= 16; k -= 16)
        v = keep(v >> 16);
    for (; k >= 8; k -= 8)
        v = keep(v >> 8);
    for (; k >= 2; k -= 2)
        v = keep(v >> 2);
    if (k)
        v = keep(v >> 1);
    return v;
}
