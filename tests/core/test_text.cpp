// The text toolkit's case-blind comparison and search, by either fold rule.
// Its numbers are read through their callers' tables: ports (test_url,
// test_proxy_choice), addresses (test_url), lengths (test_response) and
// versions (test_version).
#include <gtest/gtest.h>

#include <string.h>

#include "core/text.h"

namespace {

TEST(Text, EqualNocase) {
    struct Row {
        const char* text;
        size_t length;  // 0: the whole text
        const char* word;
        uint32_t first;
        bool equal;
    };
    const uint32_t AT = TEXT_FOLD_FROM_AT;
    const Row rows[] = {
        {"HTTPS", 0, "https", AT, true},
        {"Https://x", 5, "https", AT, true},
        {"http", 0, "https", AT, false},
        {"httpsx", 0, "https", AT, false},
        {"http", 5, "https", AT, false},  // the text ends before the word
        {"keep-alive", 0, "KEEP-ALIVE", AT, true},
        {"@", 0, "`", AT, true},  // the wider rule folds 0x40 onto 0x60
        {"@", 0, "`", TEXT_FOLD_LETTERS, false},
        {"[", 0, "{", AT, false},  // 0x5B is outside the folded range
    };
    for (const Row& row : rows) {
        TextSpan text{row.text, row.length > 0 ? row.length : strlen(row.text)};
        EXPECT_EQ(text_span_equal_nocase(text, text_span(row.word), row.first), row.equal)
            << row.text << " / " << row.word << " / " << row.length;
    }
}

TEST(Text, FindNocase) {
    struct Row {
        const char* text;
        int32_t limit;
        const char* word;
        int32_t at;  // offset of the match, -1 for none
    };
    const Row rows[] = {
        {"xx Digest realm", 8, "digest", 3},
        {"xx DIGEST", 8, "digest", 3},
        {"dd dx digest", 3, "digest", -1},  // the match is the fourth "d"
        {"dd dx digest", 4, "digest", 6},
        {"Basic", 8, "negotiate", -1},
        {"a\r\nCONTENT-LENGTH: 5", 10, "\r\ncontent-length:", 1},
        {"content-lengt", 10, "content-length", -1},  // the text ends first
    };
    for (const Row& row : rows) {
        const char* match = text_find_nocase(row.text, row.limit, row.word, TEXT_FOLD_FROM_AT);
        int32_t at = match == nullptr ? -1 : static_cast<int32_t>(match - row.text);
        EXPECT_EQ(at, row.at) << row.text << " / " << row.word;
    }
}

}  // namespace
