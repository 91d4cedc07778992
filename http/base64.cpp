// Base64 with the standard alphabet and "=" padding (RFC 4648), for Basic
// credentials. The caller sizes the output: 4 * ceil(n / 3) + 1 bytes.
#include "http/http_internal.h"

void http_base64_encode(char* out, const void* data, size_t length) {
    static const char BASE64_ALPHABET[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
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
}
