// UTF-8 and wide text (UTF-32 here). Invalid input becomes U+FFFD, as the
// Windows conversions do when no flags are given.
#include <stdint.h>
#include <wchar.h>

#include "platform/platform.h"

static constexpr uint32_t REPLACEMENT = 0xFFFD;

// Decodes one code point at *s, advancing it. Returns REPLACEMENT for a
// malformed, overlong or surrogate sequence and consumes one byte then.
static uint32_t utf8_next(const unsigned char** s) {
    const unsigned char* p = *s;
    uint32_t c = p[0];
    int extra;
    uint32_t min;
    if (c < 0x80) {
        *s = p + 1;
        return c;
    } else if ((c & 0xE0) == 0xC0) {
        extra = 1, min = 0x80, c &= 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        extra = 2, min = 0x800, c &= 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        extra = 3, min = 0x10000, c &= 0x07;
    } else {
        *s = p + 1;
        return REPLACEMENT;
    }
    for (int i = 1; i <= extra; i++) {
        if ((p[i] & 0xC0) != 0x80) {
            *s = p + 1;
            return REPLACEMENT;
        }
        c = (c << 6) | (p[i] & 0x3F);
    }
    *s = p + 1 + extra;
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        return REPLACEMENT;
    }
    return c;
}

int platform_utf8_to_wide(const char* text, wchar_t* out, int capacity) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    int n = 0;
    for (;;) {
        uint32_t c = utf8_next(&s);
        if (capacity > 0) {
            if (n >= capacity) {
                return 0;
            }
            out[n] = (wchar_t)c;
        }
        n++;
        if (c == 0) {
            return n;
        }
    }
}

static int utf8_encode(uint32_t c, char* out) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        c = REPLACEMENT;
    }
    if (c < 0x80) {
        out[0] = (char)c;
        return 1;
    }
    if (c < 0x800) {
        out[0] = (char)(0xC0 | (c >> 6));
        out[1] = (char)(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = (char)(0xE0 | (c >> 12));
        out[1] = (char)(0x80 | ((c >> 6) & 0x3F));
        out[2] = (char)(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = (char)(0xF0 | (c >> 18));
    out[1] = (char)(0x80 | ((c >> 12) & 0x3F));
    out[2] = (char)(0x80 | ((c >> 6) & 0x3F));
    out[3] = (char)(0x80 | (c & 0x3F));
    return 4;
}

int platform_wide_to_utf8(const wchar_t* text, char* out, int capacity) {
    int n = 0;
    for (const wchar_t* w = text;; w++) {
        char bytes[4];
        int len = utf8_encode((uint32_t)*w, bytes);
        if (capacity > 0) {
            if (n + len > capacity) {
                return 0;
            }
            for (int i = 0; i < len; i++) {
                out[n + i] = bytes[i];
            }
        }
        n += len;
        if (*w == 0) {
            return n;
        }
    }
}

bool platform_format_wide(wchar_t* out, size_t capacity, const wchar_t* format, va_list args) {
    if (capacity == 0) {
        return false;
    }
    // glibc leaves a cut text unterminated, and stops early on a bad
    // conversion; start clean so the result is always a whole string.
    wmemset(out, 0, capacity);
    int n = vswprintf(out, capacity, format, args);
    out[capacity - 1] = 0;
    return n >= 0;
}
