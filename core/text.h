// The one case-blind comparison of the tool, for UTF-8 and UTF-16 text
// alike: only ASCII upper-case letters fold, so no other character can ever
// alias a name.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <type_traits>

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
