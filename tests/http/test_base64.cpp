// Base64 encoding: RFC 4648's vectors, the longest credential text the
// request fields can hold, and the refusal of a buffer too small.
#include <gtest/gtest.h>

#include <string>

#include "http/base64.h"

namespace {

std::string encode(const std::string& data) {
    std::string out(4 * ((data.size() + 2) / 3) + 1, '#');
    EXPECT_EQ(
        http_base64_encode(&out[0], static_cast<uint32_t>(out.size()), data.data(), data.size()),
        out.size() - 1);
    EXPECT_EQ(out.back(), '\0') << "terminator at the last byte of the sized buffer";
    return out.c_str();
}

TEST(HttpBase64, Rfc4648Vectors) {
    struct Row {
        const char* data;
        const char* coded;
    };
    const Row rows[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"Aladdin:open sesame", "QWxhZGRpbjpvcGVuIHNlc2FtZQ=="},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(encode(row.data), row.coded) << row.data;
    }
}

TEST(HttpBase64, AllByteValues) {
    // 0xFB 0xFF 0xBF exercise "+" and "/"; a NUL byte is data, not an end.
    EXPECT_EQ(encode(std::string("\xfb\xff\xbf", 3)), "+/+/");
    EXPECT_EQ(encode(std::string("\0\0\0", 3)), "AAAA");
    EXPECT_EQ(encode(std::string("\0", 1)), "AA==");
}

TEST(HttpBase64, LongestCredentials) {
    // Fifteen characters each side of the colon: 31 bytes, 44 characters.
    std::string text = std::string(15, 'u') + ":" + std::string(15, 'p');
    EXPECT_EQ(encode(text).size(), 44u);
}

TEST(HttpBase64, RefusesASmallBuffer) {
    char text[8] = "keep";
    EXPECT_EQ(http_base64_encode(text, 8, "ABCDEF", 6), 0u);
    EXPECT_STREQ(text, "keep");
    char exact[9];
    EXPECT_EQ(http_base64_encode(exact, 9, "ABCDEF", 6), 8u);
    EXPECT_STREQ(exact, "QUJDREVG");
}

}  // namespace
