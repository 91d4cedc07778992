// Case-blind comparison and search, and the lenient hexadecimal of
// chunk-size lines.
#include <gtest/gtest.h>

#include "http/http_internal.h"

namespace {

TEST(HttpText, EqualNocase) {
    struct Row {
        const char* text;
        const char* word;
        int32_t length;
        bool equal;
    };
    const Row rows[] = {
        {"HTTPS", "https", 0, true},
        {"https", "https", 5, true},
        {"Https://x", "https", 5, true},
        {"http", "https", 0, false},
        {"https", "http", 0, false},
        {"httpsx", "https", 0, false},
        {"http", "https", 4, false},  // the word must be exactly that long
        {"keep-alive", "KEEP-ALIVE", 0, true},
        {"@", "`", 0, true},   // 0x40 folds onto 0x60 by the narrow rule
        {"[", "{", 0, false},  // 0x5B is outside the folded range
    };
    for (const Row& row : rows) {
        EXPECT_EQ(http_equal_nocase(row.text, row.word, row.length), row.equal)
            << row.text << " / " << row.word << " / " << row.length;
    }
}

TEST(HttpText, FindNocase) {
    struct Row {
        const char* text;
        int32_t limit;
        const char* word;
        int32_t at;  // offset of the match, -1 for none
    };
    const Row rows[] = {
        {"xx Digest realm", 8, "digest", 3},
        {"xx DIGEST", 8, "digest", 3},
        {"dd dx digest", 2, "digest", -1},
        {"dd dx digest", 3, "digest", -1},  // the match is the fourth "d"
        {"dd dx digest", 4, "digest", 6},
        {"Basic", 8, "negotiate", -1},
        {"\r\nHost: a\r\nhost: b", 10, "\r\nhost:", 0},
        {"a\r\nCONTENT-LENGTH: 5", 10, "\r\ncontent-length:", 1},
        {"content-lengt", 10, "content-length", -1},  // the text ends first
    };
    for (const Row& row : rows) {
        const char* match = http_find_nocase(row.text, row.limit, row.word);
        int32_t at = match == nullptr ? -1 : static_cast<int32_t>(match - row.text);
        EXPECT_EQ(at, row.at) << row.text << " / " << row.word;
    }
}

TEST(HttpText, LenientHex) {
    struct Row {
        const char* line;
        uint32_t value;
    };
    const Row rows[] = {
        {"1a\r\n", 26},
        {"1A\r\n", 26},
        {"0x1a\r\n", 26},
        {"0X1A\r\n", 26},
        {"  1a  \r\n", 26},
        {"0\r\n", 0},
        {"\r\n", 0},
        {"ffffffff\r\n", 0xffffffffu},
        {"123456789\r\n", 0x12345678u},     // eight counted digits end the number
        {"000000000001\r\n", 1},            // leading zeros are not counted
        {"1g\r\n", 0x1f},                   // letters past F count as 15
        {"5;ext=1\r\n", 0xf1},              // the "x" of "ext" restarts the number
        {"4;x\r\n", 0},                     // an X restarts the number
        {"10;name=value\r\n", 0x10fafefa},  // the extension joins the number
    };
    for (const Row& row : rows) {
        EXPECT_EQ(http_parse_hex(row.line), row.value) << row.line;
    }
}

}  // namespace
