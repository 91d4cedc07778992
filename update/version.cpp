// Numbers read from manifest text.
#include "update/version.h"

#include "core/text.h"

static bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads one signed decimal at *text. False when no digit follows the
// optional sign; *text then stays where it was.
static bool read_decimal(const char** text, int32_t* out) {
    const char* p = *text;
    while (is_space(*p)) {
        p++;
    }
    bool negative = *p == '-';
    if (*p == '+' || *p == '-') {
        p++;
    }
    uint32_t magnitude = 0;
    size_t digits = text_read_decimal(text_span(p), &magnitude);
    if (digits == 0) {
        return false;
    }
    // Clamped to the signed 32-bit range.
    uint32_t limit = negative ? UINT32_C(0x80000000) : INT32_MAX;
    if (magnitude > limit) {
        magnitude = limit;
    }
    *out = static_cast<int32_t>(negative ? -static_cast<int64_t>(magnitude) : magnitude);
    *text = p + digits;
    return true;
}

void parse_version(const char* text, int32_t version[4]) {
    for (int i = 0; i < 4; i++) {
        version[i] = 0;
    }
    const char* p = text;
    for (int i = 0; i < 4; i++) {
        if (i > 0) {
            if (*p != '.') {
                return;
            }
            p++;
        }
        if (!read_decimal(&p, &version[i])) {
            return;
        }
    }
}

int32_t parse_size(const char* text) {
    int32_t value = 0;
    const char* p = text;
    return read_decimal(&p, &value) ? value : 0;
}

bool version_above_baseline(const int32_t version[4]) {
    for (int i = 0; i < 4; i++) {
        if (version[i] != 0) {
            return version[i] > 0;
        }
    }
    return false;
}

int32_t download_percent(uint32_t received, int32_t size, bool complete) {
    uint32_t declared = static_cast<uint32_t>(size);
    if (declared == 0) {
        return complete && received == 0 ? 100 : 0;
    }
    uint64_t percent = static_cast<uint64_t>(received) * 100 / declared;
    return percent > 100 ? 100 : static_cast<int32_t>(percent);
}
