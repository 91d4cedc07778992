// The tool's one text toolkit: case-blind comparison and search, the one
// decimal reader (ports, dotted IPv4, versions, lengths), percent decoding,
// bounded copies and the splitting of lists and "host:port". Nothing here
// allocates or asks the system; every result is checked for overflow.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <type_traits>

// ---- Case-blind comparison ---------------------------------------------------
// Only ASCII upper-case letters fold, so no other character can ever alias a
// name; UTF-8 and UTF-16 text alike.

// The first character that folds, up to 'Z' and by adding 0x20. The HTTP
// client matches header names and scheme words by the wider rule that also
// folds '@' onto '`', as its callers have always been matched; '@' is not
// allowed in a name, so only a malformed head can tell the two apart.
constexpr uint32_t TEXT_FOLD_LETTERS = 'A';
constexpr uint32_t TEXT_FOLD_FROM_AT = 0x40;

// n for text_equal_nocase when the whole texts are compared.
constexpr size_t TEXT_WHOLE = SIZE_MAX;

// c with 0x20 added when it lies in first..'Z'; any other c unchanged.
constexpr uint32_t text_fold(uint32_t c, uint32_t first) {
    return c >= first && c <= 'Z' ? c + 0x20 : c;
}

// True when a and b hold the same units after text_fold, compared up to the
// terminator they share or their first n units, whichever comes first; a
// terminator in only one of them is a difference. Neither text is changed.
template <typename Unit>
bool text_equal_nocase(const Unit* a, const Unit* b, size_t n, uint32_t first) {
    using Code = std::make_unsigned_t<Unit>;
    for (size_t i = 0; i < n; i++) {
        uint32_t x = text_fold(static_cast<Code>(a[i]), first);
        uint32_t y = text_fold(static_cast<Code>(b[i]), first);
        if (x != y) {
            return false;
        }
        if (x == 0) {
            return true;
        }
    }
    return true;
}

// A piece of a caller's text; owns nothing. A span may claim more than its
// text holds when it is only compared: comparison stops at a terminator.
struct TextSpan {
    const char* data;
    size_t length;
};

// The whole of a terminated text; null gives the empty span.
TextSpan text_span(const char* text);

// The two spans are equally long and equal after text_fold.
bool text_span_equal_nocase(TextSpan a, TextSpan b, uint32_t first);

// First place at or after text where word occurs, case-blind by first.
// Candidates are positions of word's first letter in either case, earlier
// first; at most candidate_limit are tried. Null when not found.
const char* text_find_nocase(const char* text, int32_t candidate_limit, const char* word,
                             uint32_t first);

// ---- Numbers -----------------------------------------------------------------

// The decimal digits at the start of text: their count, 0 when there are
// none. *value gets their number, held at UINT32_MAX when it is larger (it
// never wraps), or 0 when there are no digits.
size_t text_read_decimal(TextSpan text, uint32_t* value);

// The whole text is a port: decimal digits only, 1 to 65535.
bool text_parse_port(TextSpan text, uint16_t* port);

// The whole text is a strict dotted IPv4 address: four groups of 0 to 255,
// decimal, without leading zeros (which other readers take as octal).
// *address gets it with the first group in the high byte.
bool text_parse_ipv4(TextSpan text, uint32_t* address);

// ---- Copies ------------------------------------------------------------------

// Copies text into out and terminates it. False, with out unchanged, when
// it does not fit capacity bytes with its terminator.
bool text_copy(char* out, size_t capacity, TextSpan text);

typedef int32_t TextResult;
constexpr TextResult TEXT_OK = 0;
constexpr TextResult TEXT_TOO_LONG = 1;
// The text decodes to a 0 byte, which would cut it short.
constexpr TextResult TEXT_NUL = 2;

// Copies text into out (capacity with the terminator) with each "%XX" of two
// hexadecimal digits decoded; any other '%' stays. On failure out holds
// unspecified bytes.
TextResult text_percent_decode(TextSpan text, char* out, size_t capacity);

// ---- Splitting -----------------------------------------------------------------

// Blanks (space, tab, CR, LF) removed from both ends.
TextSpan text_trim(TextSpan text);

// Position of c in text, or text.length when absent; the first or the last.
size_t text_find(TextSpan text, char c);
size_t text_find_last(TextSpan text, char c);

// Takes the next non-empty item of *rest up to one of separators, and moves
// *rest past it. False when no item is left.
bool text_next_item(TextSpan* rest, const char* separators, TextSpan* item);

// "host[:port]" or "[v6][:port]" into host and port (empty without one).
// False for a '[' without its ']' or text after the ']' other than ":port".
bool text_split_host_port(TextSpan text, TextSpan* host, TextSpan* port);
