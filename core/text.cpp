// The text toolkit (core/text.h): one reader per kind of text, shared by the
// command line, the HTTP client, the proxy choice and the update engine.
#include "core/text.h"

#include <string.h>

namespace {

// A dotted IPv4 group: at most three digits.
constexpr size_t IPV4_GROUP_DIGITS = 3;

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

int hex_value(char c) {
    if (is_digit(c)) {
        return c - '0';
    }
    uint32_t f = text_fold(static_cast<unsigned char>(c), TEXT_FOLD_LETTERS);
    return f >= 'a' && f <= 'f' ? static_cast<int>(f - 'a') + 10 : -1;
}

}  // namespace

TextSpan text_span(const char* text) {
    return TextSpan{text, text != nullptr ? strlen(text) : 0};
}

bool text_span_equal_nocase(TextSpan a, TextSpan b, uint32_t first) {
    return a.length == b.length && text_equal_nocase(a.data, b.data, a.length, first);
}

const char* text_find_nocase(const char* text, int32_t candidate_limit, const char* word,
                             uint32_t first) {
    if (text == nullptr || word == nullptr || word[0] == 0) {
        return nullptr;
    }
    uint32_t start = static_cast<unsigned char>(word[0]);
    uint32_t lower = text_fold(start, first);
    uint32_t upper = lower >= 'a' && lower <= 'z' ? lower - 0x20 : start;
    size_t length = strlen(word);
    int32_t tried = 0;
    for (const char* p = text; *p != 0 && tried < candidate_limit; ++p) {
        uint32_t c = static_cast<unsigned char>(*p);
        if (c != lower && c != upper && c != start) {
            continue;
        }
        ++tried;
        // The text may end before the word does: that is a difference.
        if (text_equal_nocase(p, word, length, first)) {
            return p;
        }
    }
    return nullptr;
}

size_t text_read_decimal(TextSpan text, uint32_t* value) {
    uint32_t sum = 0;
    size_t count = 0;
    for (; count < text.length && is_digit(text.data[count]); count++) {
        uint32_t digit = static_cast<uint32_t>(text.data[count] - '0');
        sum = sum > (UINT32_MAX - digit) / 10 ? UINT32_MAX : sum * 10 + digit;
    }
    *value = sum;
    return count;
}

bool text_parse_port(TextSpan text, uint16_t* port) {
    uint32_t value = 0;
    if (text.length == 0 || text_read_decimal(text, &value) != text.length || value == 0 ||
        value > UINT16_MAX) {
        return false;
    }
    *port = static_cast<uint16_t>(value);
    return true;
}

bool text_parse_ipv4(TextSpan text, uint32_t* address) {
    uint32_t result = 0;
    size_t at = 0;
    for (int group = 0; group < 4; group++) {
        if (group > 0) {
            if (at >= text.length || text.data[at] != '.') {
                return false;
            }
            at++;
        }
        uint32_t number = 0;
        size_t digits = text_read_decimal(TextSpan{text.data + at, text.length - at}, &number);
        if (digits == 0 || digits > IPV4_GROUP_DIGITS || number > 255 ||
            (digits > 1 && text.data[at] == '0')) {
            return false;
        }
        at += digits;
        result = result << 8 | number;
    }
    if (at != text.length) {
        return false;
    }
    *address = result;
    return true;
}

bool text_copy(char* out, size_t capacity, TextSpan text) {
    if (text.length >= capacity) {
        return false;
    }
    if (text.length > 0) {
        memcpy(out, text.data, text.length);
    }
    out[text.length] = 0;
    return true;
}

TextResult text_percent_decode(TextSpan text, char* out, size_t capacity) {
    size_t n = 0;
    for (size_t i = 0; i < text.length; i++) {
        char c = text.data[i];
        if (c == '%' && i + 2 < text.length && hex_value(text.data[i + 1]) >= 0 &&
            hex_value(text.data[i + 2]) >= 0) {
            c = static_cast<char>(hex_value(text.data[i + 1]) * 16 + hex_value(text.data[i + 2]));
            i += 2;
            if (c == 0) {
                return TEXT_NUL;
            }
        }
        if (n + 1 >= capacity) {
            return TEXT_TOO_LONG;
        }
        out[n++] = c;
    }
    out[n] = 0;
    return TEXT_OK;
}

TextSpan text_trim(TextSpan text) {
    while (text.length > 0 && is_blank(text.data[0])) {
        text.data++;
        text.length--;
    }
    while (text.length > 0 && is_blank(text.data[text.length - 1])) {
        text.length--;
    }
    return text;
}

size_t text_find(TextSpan text, char c) {
    const void* at = text.length > 0 ? memchr(text.data, c, text.length) : nullptr;
    return at == nullptr ? text.length
                         : static_cast<size_t>(static_cast<const char*>(at) - text.data);
}

size_t text_find_last(TextSpan text, char c) {
    for (size_t i = text.length; i > 0; i--) {
        if (text.data[i - 1] == c) {
            return i - 1;
        }
    }
    return text.length;
}

bool text_next_item(TextSpan* rest, const char* separators, TextSpan* item) {
    while (rest->length > 0) {
        size_t end = 0;
        while (end < rest->length && strchr(separators, rest->data[end]) == nullptr) {
            end++;
        }
        *item = TextSpan{rest->data, end};
        size_t skip = end < rest->length ? end + 1 : end;
        *rest = TextSpan{rest->data + skip, rest->length - skip};
        if (item->length > 0) {
            return true;
        }
    }
    return false;
}

bool text_split_host_port(TextSpan text, TextSpan* host, TextSpan* port) {
    *port = TextSpan{text.data + text.length, 0};
    if (text.length > 0 && text.data[0] == '[') {
        size_t close = text_find(text, ']');
        if (close == text.length) {
            return false;
        }
        *host = TextSpan{text.data + 1, close - 1};
        TextSpan rest{text.data + close + 1, text.length - close - 1};
        if (rest.length > 0) {
            if (rest.data[0] != ':') {
                return false;
            }
            *port = TextSpan{rest.data + 1, rest.length - 1};
        }
        return true;
    }
    size_t colon = text_find(text, ':');
    *host = TextSpan{text.data, colon};
    if (colon < text.length) {
        *port = TextSpan{text.data + colon + 1, text.length - colon - 1};
    }
    return true;
}
