// Base64 both ways: the encoder Basic authentication uses, and the strict
// decoder the signature checks use.
#include "http/base64.h"

#include "core/scratch.h"

namespace {

const char BASE64_ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const int8_t BASE64_INVALID = -1;
const int8_t BASE64_PAD = -2;

// Value of one base64 character: 0..63, BASE64_PAD or BASE64_INVALID.
int8_t base64_value(uint8_t c) {
    if (c >= 'A' && c <= 'Z') {
        return static_cast<int8_t>(c - 'A');
    }
    if (c >= 'a' && c <= 'z') {
        return static_cast<int8_t>(c - 'a' + 26);
    }
    if (c >= '0' && c <= '9') {
        return static_cast<int8_t>(c - '0' + 52);
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return c == '=' ? BASE64_PAD : BASE64_INVALID;
}

// The value at position n - back, or invalid when the text is shorter.
int8_t value_from_end(const char* text, uint32_t n, uint32_t back) {
    return n >= back ? base64_value(static_cast<uint8_t>(text[n - back])) : BASE64_INVALID;
}

}  // namespace

uint32_t http_base64_encode(char* out, uint32_t capacity, const void* data, size_t length) {
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

uint32_t base64_decoded_size(const char* text, uint32_t n) {
    if (n == 0) {
        return 0;
    }
    uint32_t whole = (n / 4) * 3;
    int8_t last = value_from_end(text, n, 1);
    if (last >= 0) {
        return whole;
    }
    if (last == BASE64_INVALID) {
        return 0;
    }
    // A text too short to hold its padding decodes to nothing (no wrap).
    int8_t second = value_from_end(text, n, 2);
    if (second >= 0) {
        return whole >= 1 ? whole - 1 : 0;
    }
    if (second == BASE64_INVALID) {
        return 0;
    }
    return value_from_end(text, n, 3) >= 0 && whole >= 2 ? whole - 2 : 0;
}

uint8_t* base64_decode(const char* text, uint32_t n) {
    if (n % 4 != 0) {
        return nullptr;
    }
    uint32_t size = base64_decoded_size(text, n);
    if (n > 0 && size == 0) {
        return nullptr;
    }
    // Validate everything before taking a scratch slot, so a failure
    // leaves the ring as it was.
    for (uint32_t i = 0; i < n; i++) {
        int8_t v = base64_value(static_cast<uint8_t>(text[i]));
        if (v == BASE64_INVALID) {
            return nullptr;
        }
        if (v == BASE64_PAD) {
            // Padding only as the last one or two characters of the text,
            // and "=" followed only by "=".
            bool last_two = i + 2 >= n;
            if (!last_two || (i == n - 2 && text[n - 1] != '=')) {
                return nullptr;
            }
        }
    }
    uint8_t* out = reinterpret_cast<uint8_t*>(scratch_alloc(size + 1));
    if (out == nullptr) {
        return nullptr;
    }
    uint32_t o = 0;
    for (uint32_t i = 0; i < n; i += 4) {
        uint32_t a = static_cast<uint32_t>(base64_value(static_cast<uint8_t>(text[i])));
        uint32_t b = static_cast<uint32_t>(base64_value(static_cast<uint8_t>(text[i + 1])));
        int8_t c = base64_value(static_cast<uint8_t>(text[i + 2]));
        int8_t d = base64_value(static_cast<uint8_t>(text[i + 3]));
        if (c == BASE64_PAD) {
            out[o++] = static_cast<uint8_t>(a * 4 + b / 16);
        } else if (d == BASE64_PAD) {
            uint32_t v = (a << 10) + (b << 4) + static_cast<uint32_t>(c) / 4;
            out[o++] = static_cast<uint8_t>(v >> 8);
            out[o++] = static_cast<uint8_t>(v);
        } else {
            uint32_t v =
                (a << 18) + (b << 12) + (static_cast<uint32_t>(c) << 6) + static_cast<uint32_t>(d);
            out[o++] = static_cast<uint8_t>(v >> 16);
            out[o++] = static_cast<uint8_t>(v >> 8);
            out[o++] = static_cast<uint8_t>(v);
        }
    }
    out[o] = 0;
    return out;
}
