// Base64 encoding; the update side decodes signatures itself.
#include "http/base64.h"

uint32_t http_base64_encode(char* out, uint32_t capacity, const void* data, size_t length) {
    static const char BASE64_ALPHABET[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    uint64_t coded = (static_cast<uint64_t>(length) + 2) / 3 * 4;
    if (coded + 1 > capacity) {
        return 0;
    }
    const uint8_t* in = static_cast<const uint8_t*>(data);
    size_t o = 0;
    size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        uint32_t v =
            static_cast<uint32_t>(in[i]) << 16 | static_cast<uint32_t>(in[i + 1]) << 8 | in[i + 2];
        out[o++] = BASE64_ALPHABET[(v >> 18) & 63];
        out[o++] = BASE64_ALPHABET[(v >> 12) & 63];
        out[o++] = BASE64_ALPHABET[(v >> 6) & 63];
        out[o++] = BASE64_ALPHABET[v & 63];
    }
    size_t rest = length - i;
    if (rest > 0) {
        uint32_t v = static_cast<uint32_t>(in[i]) << 16;
        if (rest == 2) {
            v |= static_cast<uint32_t>(in[i + 1]) << 8;
        }
        out[o++] = BASE64_ALPHABET[(v >> 18) & 63];
        out[o++] = BASE64_ALPHABET[(v >> 12) & 63];
        out[o++] = rest == 2 ? BASE64_ALPHABET[(v >> 6) & 63] : '=';
        out[o++] = '=';
    }
    out[o] = 0;
    return static_cast<uint32_t>(o);
}
