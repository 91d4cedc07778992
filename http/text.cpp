// Case-blind comparison and search, and the lenient hexadecimal of
// chunk-size lines. Folding is the tool's one rule (core/text.h) from 0x40
// on: header names and scheme words are ASCII, and nothing else may alias.
#include <string.h>

#include "core/text.h"
#include "http/http_internal.h"

namespace {

inline unsigned char fold(unsigned char c) {
    return static_cast<unsigned char>(text_fold(c, TEXT_FOLD_FROM_AT));
}

inline bool is_digit(unsigned char c) {
    return c >= '0' && c <= '9';
}
inline bool is_upper(unsigned char c) {
    return c >= 'A' && c <= 'Z';
}
inline bool is_lower(unsigned char c) {
    return c >= 'a' && c <= 'z';
}

}  // namespace

bool http_equal_nocase(const char* text, const char* word, int32_t length) {
    if (text == nullptr || word == nullptr) {
        return false;
    }
    size_t n = length > 0 ? static_cast<size_t>(length) : strlen(text);
    // The word has no terminator among its n characters, so a text that
    // ends early differs from it there.
    return strlen(word) == n && text_equal_nocase(text, word, n, TEXT_FOLD_FROM_AT);
}

const char* http_find_nocase(const char* text, int32_t candidate_limit, const char* word) {
    if (text == nullptr || word == nullptr || word[0] == 0) {
        return nullptr;
    }
    unsigned char first = static_cast<unsigned char>(word[0]);
    unsigned char lower = fold(first);
    unsigned char upper = is_lower(lower) ? static_cast<unsigned char>(lower - 0x20) : first;
    int32_t tried = 0;
    for (const char* p = text; *p != 0 && tried < candidate_limit; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c != lower && c != upper && c != first) {
            continue;
        }
        ++tried;
        // The text may end before the word does: that is a difference.
        if (text_equal_nocase(p, word, strlen(word), TEXT_FOLD_FROM_AT)) {
            return p;
        }
    }
    return nullptr;
}

uint32_t http_parse_hex(const char* line) {
    uint32_t value = 0;
    int counted = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(line); *p != 0; ++p) {
        unsigned char c = *p;
        if (is_lower(c)) {
            c = static_cast<unsigned char>(c - 0x20);
        }
        uint32_t digit;
        if (is_digit(c)) {
            digit = static_cast<uint32_t>(c - '0');
        } else if (is_upper(c)) {
            if (c == 'X') {  // takes a "0x" prefix: start the number again
                value = 0;
                counted = 0;
                continue;
            }
            digit = static_cast<uint32_t>(c - 'A') + 10;
            if (digit > 15) {
                digit = 15;
            }
        } else {
            continue;  // blanks, ';', '=', CR, LF
        }
        value = value * 16 + digit;
        if (value != 0) {
            ++counted;
        }
        // Eight counted digits fill 32 bits: no more can be taken.
        if (counted == 8) {
            return value;
        }
    }
    return value;
}
