// MD5 as RFC 1321 defines it, for Digest authentication only: the client
// must not depend on which digests a TLS library build happens to carry.
#include <string.h>

#include "http/http_internal.h"

namespace {

inline uint32_t rotl(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

// Per-step shift amounts and the sine-derived constants of RFC 1321.
const int MD5_SHIFT[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                           5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                           4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                           6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

const uint32_t MD5_SINE[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

void transform(uint32_t state[4], const uint8_t block[64]) {
    uint32_t m[16];
    for (int i = 0; i < 16; ++i) {
        m[i] = static_cast<uint32_t>(block[i * 4]) | static_cast<uint32_t>(block[i * 4 + 1]) << 8 |
               static_cast<uint32_t>(block[i * 4 + 2]) << 16 |
               static_cast<uint32_t>(block[i * 4 + 3]) << 24;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        uint32_t next = d;
        d = c;
        c = b;
        b = b + rotl(a + f + MD5_SINE[i] + m[g], MD5_SHIFT[i]);
        a = next;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

}  // namespace

void http_md5_init(HttpMd5* md5) {
    md5->state[0] = 0x67452301;
    md5->state[1] = 0xefcdab89;
    md5->state[2] = 0x98badcfe;
    md5->state[3] = 0x10325476;
    md5->bit_count = 0;
    memset(md5->block, 0, sizeof md5->block);
}

void http_md5_update(HttpMd5* md5, const void* data, size_t length) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    size_t used = static_cast<size_t>((md5->bit_count / 8) % 64);
    md5->bit_count += static_cast<uint64_t>(length) * 8;
    while (length > 0) {
        size_t take = 64 - used < length ? 64 - used : length;
        memcpy(md5->block + used, bytes, take);
        used += take;
        bytes += take;
        length -= take;
        if (used == 64) {
            transform(md5->state, md5->block);
            used = 0;
        }
    }
}

void http_md5_final(HttpMd5* md5, uint8_t digest[16]) {
    uint64_t bits = md5->bit_count;
    size_t used = static_cast<size_t>((bits / 8) % 64);
    uint8_t pad[72];
    memset(pad, 0, sizeof pad);
    pad[0] = 0x80;
    size_t pad_length = used < 56 ? 56 - used : 120 - used;
    uint8_t length_bytes[8];
    for (int i = 0; i < 8; ++i) {
        length_bytes[i] = static_cast<uint8_t>(bits >> (8 * i));
    }
    http_md5_update(md5, pad, pad_length);
    http_md5_update(md5, length_bytes, 8);
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            digest[i * 4 + j] = static_cast<uint8_t>(md5->state[i] >> (8 * j));
        }
    }
    memset(md5, 0, sizeof *md5);
}

void http_md5_hex(const uint8_t digest[16], char out[33]) {
    static const char MD5_HEX[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        out[i * 2] = MD5_HEX[digest[i] >> 4];
        out[i * 2 + 1] = MD5_HEX[digest[i] & 0x0F];
    }
    out[32] = 0;
}
