/* A decompressor (LZ77 with a bit stream of flags), then CRC-32 and Adler-32 checksums
   of what it produced, with the CRC table made at run time. */
#include "rt.c"

static const u8 packed[] = {
    0xFF, 'T', 'h', 'e', ' ', 'q', 'u', 'i', 'c', 0xFF, 'k', ' ', 'b', 'r', 'o', 'w', 'n', ' ',
    0x7F, 'f', 'o', 'x', ' ', 'j', 'u', 'm', 0x00, 0x43, 0x3F, 'p', 's', ' ', 'o', 'v', 'e',
    0x00, 0x13, 0x1F, 0x00, 0x27, 0x00, 0x0B, 0x00, 0x05, 0x00, 0x41, 0x00, 0x28, 0x00, 0x16,
    0x00, 0x30,
};

static u8 window[4096];
static u32 crc_table[256];

static unsigned unpack(const u8 *src, unsigned n, u8 *dst, unsigned room)
{
    unsigned in = 0, outn = 0;
    while (in < n) {
        u8 flags = src[in++];
        int bit;
        for (bit = 0; bit < 8 && in < n; bit++) {
            if (flags & 0x80) {
                if (outn < room)
                    dst[outn++] = src[in];
                in++;
            } else {
                unsigned code = (unsigned)src[in] << 8 | src[in + 1];
                unsigned back = shr(code, 4) + 1, len = (code & 15) + 3, k;
                in += 2;
                for (k = 0; k < len && outn < room; k++) {
                    dst[outn] = back <= outn ? dst[outn - back] : '?';
                    outn++;
                }
            }
            flags <<= 1;
        }
    }
    return outn;
}

static void make_crc_table(void)
{
    u32 c;
    int n, k;
    for (n = 0; n < 256; n++) {
        c = (u32)n;
        for (k = 0; k < 8; k++)
            c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        crc_table[n] = c;
    }
}

static u32 crc32(const u8 *p, unsigned n)
{
    u32 c = 0xFFFFFFFFu;
    while (n--)
        c = crc_table[(c ^ *p++) & 0xFF] ^ shr(c, 8);
    return c ^ 0xFFFFFFFFu;
}

static u32 adler32(const u8 *p, unsigned n)
{
    u32 a = 1, b = 0;
    while (n--) {
        a = (a + *p++) % keep(65521u);
        b = (b + a) % keep(65521u);
    }
    return b << 16 | a;
}

static u32 rle_size(const u8 *p, unsigned n)
{
    u32 size = 0;
    unsigned i = 0;
    while (i < n) {
        unsigned run = 1;
        while (i + run < n && p[i + run] == p[i] && run < 127)
            run++;
        size += run > 2 ? 2 : run;
        i += run;
    }
    return size;
}

int main(void)
{
    unsigned n;
    make_crc_table();
    n = unpack(packed, sizeof packed, window, sizeof window);
    out(n);
    out(crc32(window, n));
    out(adler32(window, n));
    out(rle_size(window, n));
    return (int)(crc32(window, n) ^ adler32(window, n) ^ sink);
}
