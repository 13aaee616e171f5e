/* Formatted output into a buffer: a small printf with a switch on the conversion,
   numbers in several bases, and strings from tables of string pointers. */
#include "rt.c"

typedef __builtin_va_list va_list;
#define va_start(v, l) __builtin_va_start(v, l)
#define va_arg(v, t) __builtin_va_arg(v, t)
#define va_end(v) __builtin_va_end(v)

static char buffer[512];
static unsigned used;

static const char *const month[] = {"January", "February", "March",     "April",   "May",      "June",
                                    "July",    "August",   "September", "October", "November", "December"};
static const char *const weekday[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
static const char digits[] = "0123456789abcdef";

static void put(char c)
{
    if (used < sizeof buffer - 1)
        buffer[used++] = c;
}

static void puts_(const char *s)
{
    while (*s)
        put(*s++);
}

static void number(u32 v, unsigned base, int width, char pad)
{
    char tmp[12];
    int n = 0;
    do {
        tmp[n++] = digits[v % keep(base)];
        v /= keep(base);
    } while (v);
    while (width-- > n)
        put(pad);
    while (n)
        put(tmp[--n]);
}

static void format(const char *f, ...)
{
    va_list ap;
    va_start(ap, f);
    while (*f) {
        char c = *f++;
        int width = 0;
        char pad = ' ';
        if (c != '%') {
            put(c);
            continue;
        }
        if (*f == '0')
            pad = *f++;
        while (*f >= '0' && *f <= '9')
            width = (int)(width * keep(10)) + (*f++ - '0');
        switch (*f++) {
        case 'd': {
            int v = va_arg(ap, int);
            if (v < 0) {
                put('-');
                v = -v;
            }
            number((u32)v, 10, width, pad);
            break;
        }
        case 'u':
            number(va_arg(ap, u32), 10, width, pad);
            break;
        case 'x':
            number(va_arg(ap, u32), 16, width, pad);
            break;
        case 'o':
            number(va_arg(ap, u32), 8, width, pad);
            break;
        case 'b':
            number(va_arg(ap, u32), 2, width, pad);
            break;
        case 'c':
            put((char)va_arg(ap, int));
            break;
        case 's':
            puts_(va_arg(ap, const char *));
            break;
        case 'm':
            puts_(month[va_arg(ap, u32) % keep(12)]);
            break;
        case 'w':
            puts_(weekday[va_arg(ap, u32) % keep(7)]);
            break;
        case '%':
            put('%');
            break;
        default:
            put('?');
            break;
        }
    }
    va_end(ap);
}

static u32 checksum(void)
{
    u32 s = 0;
    unsigned i;
    for (i = 0; i < used; i++)
        s = s * keep(33) + (u8)buffer[i];
    return s;
}

int main(void)
{
    unsigned d;
    format("%w %d %m %u: %s\n", 3u, 9, 11u, 2026u, "formatted");
    for (d = 0; d < 12; d++)
        format("[%02u %m %x %o %b %c]", d, d, d * keep(4099u), d * keep(77u), d, 'a' + (int)d);
    format("%d%% %5d %-3q\n", 50, -1234);
    out(used);
    return (int)checksum();
}
