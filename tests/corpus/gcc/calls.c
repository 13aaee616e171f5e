/* Tables of function pointers, callbacks, recursion and 64-bit arithmetic. */
#include "rt.c"

typedef u32 (*unary)(u32);

static u32 twice(u32 v) { return v * 2; }
static u32 square(u32 v) { return v * v; }
static u32 invert(u32 v) { return ~v; }
static u32 rotate(u32 v) { return shl(v, 7) | shr(v, 25); }
static u32 halve(u32 v) { return v >> 1; }

static const unary steps[] = {twice, square, invert, rotate, halve, square, twice};

struct handler {
    const char *name;
    u32 (*run)(u32, u32);
};

static u32 add(u32 a, u32 b) { return a + b; }
static u32 sub(u32 a, u32 b) { return a - b; }
static u32 mix(u32 a, u32 b) { return a * keep(2654435761u) ^ b; }

static const struct handler handlers[] = {{"add", add}, {"sub", sub}, {"mix", mix}};

static u32 fib(u32 n)
{
    return n < 2 ? n : fib(n - 1) + fib(n - 2);
}

static u32 ackermann(u32 m, u32 n)
{
    if (m == 0)
        return n + 1;
    if (n == 0)
        return ackermann(m - 1, 1);
    return ackermann(m - 1, ackermann(m, n - 1));
}

static void sort(u32 *a, int n, int (*less)(u32, u32))
{
    int i, j;
    for (i = 1; i < n; i++) {
        u32 v = a[i];
        for (j = i; j > 0 && less(v, a[j - 1]); j--)
            a[j] = a[j - 1];
        a[j] = v;
    }
}

static int below(u32 a, u32 b) { return a < b; }
static int above(u32 a, u32 b) { return a > b; }

static u64 mul64(u64 a, u64 b) { return a * b; }

static u64 power(u64 base, u32 e)
{
    u64 r = 1;
    while (e) {
        if (e & 1)
            r = mul64(r, base);
        base = mul64(base, base);
        e >>= 1;
    }
    return r;
}

static u64 keep64(u64 v)
{
    __asm__("" : "+r"(v));
    return v;
}

static u64 isqrt64(u64 v)
{
    u64 r = 0, bit = (u64)1 << 62;
    while (bit > v)
        bit = keep64(bit >> 1) >> 1;
    while (bit) {
        if (v >= r + bit) {
            v -= r + bit;
            r = (r >> 1) + bit;
        } else {
            r >>= 1;
        }
        bit = keep64(bit >> 1) >> 1;
    }
    return r;
}

int main(void)
{
    u32 v = 12345, a[8] = {5, 3, 9, 1, 7, 2, 8, 6};
    unsigned i;
    u64 p;
    for (i = 0; i < sizeof steps / sizeof steps[0]; i++)
        v = steps[i](v);
    out(v);
    for (i = 0; i < 3; i++) {
        out(handlers[i].run(v, i));
        out((u32)handlers[i].name[0]);
    }
    out(fib(15));
    out(ackermann(2, 3));
    sort(a, 8, below);
    out(a[0] * keep(100) + a[7]);
    sort(a, 8, above);
    out(a[0] * keep(100) + a[7]);
    p = power(3, 33);
    out((u32)(p >> 32));
    out((u32)p);
    out((u32)isqrt64(p));
    return (int)sink;
}
