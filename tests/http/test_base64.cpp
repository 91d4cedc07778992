// Base64 both ways: RFC 4648's vectors, the longest credential text the
// request fields can hold, the refusal of a buffer too small; the strict
// decoder's size rule and padding rules, and the round trip.
#include <gtest/gtest.h>

#include <string.h>

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

TEST(Base64, Rfc4648Vectors) {
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

TEST(Base64, AllByteValues) {
    // 0xFB 0xFF 0xBF exercise "+" and "/"; a NUL byte is data, not an end.
    EXPECT_EQ(encode(std::string("\xfb\xff\xbf", 3)), "+/+/");
    EXPECT_EQ(encode(std::string("\0\0\0", 3)), "AAAA");
    EXPECT_EQ(encode(std::string("\0", 1)), "AA==");
}

TEST(Base64, LongestCredentials) {
    // Fifteen characters each side of the colon: 31 bytes, 44 characters.
    std::string text = std::string(15, 'u') + ":" + std::string(15, 'p');
    EXPECT_EQ(encode(text).size(), 44u);
}

TEST(Base64, RefusesASmallBuffer) {
    char text[8] = "keep";
    EXPECT_EQ(http_base64_encode(text, 8, "ABCDEF", 6), 0u);
    EXPECT_STREQ(text, "keep");
    char exact[9];
    EXPECT_EQ(http_base64_encode(exact, 9, "ABCDEF", 6), 8u);
    EXPECT_STREQ(exact, "QUJDREVG");
}

struct DecodeCase {
    const char* text;
    uint32_t size;        // base64_decoded_size
    const char* decoded;  // null: base64_decode fails
};

const DecodeCase decode_cases[] = {
    {"QUJD", 3, "ABC"},
    {"QUI=", 2, "AB"},
    {"QQ==", 1, "A"},
    {"Zg==", 1, "f"},
    {"Zm8=", 2, "fo"},
    {"Zm9v", 3, "foo"},
    {"Zm9vYg==", 4, "foob"},
    {"Zm9vYmE=", 5, "fooba"},
    {"Zm9vYmFy", 6, "foobar"},
    {"+/+/", 3, "\xfb\xff\xbf"},
    // Bits of the last data character beyond the output are ignored.
    {"QR==", 1, "A"},
    {"QUM=", 2, "AC"},
    {"QUN=", 2, "AC"},
    // Length not a multiple of four.
    {"QUJ", 0, nullptr},
    {"QUJDQ", 3, nullptr},
    // Three padding characters, or padding before the last group.
    {"Q===", 0, nullptr},
    {"====", 0, nullptr},
    {"QQ==QUJD", 6, nullptr},
    {"QQ=A", 3, nullptr},
    {"Q=QQ", 3, nullptr},
    // Characters outside the alphabet anywhere, whitespace and line breaks.
    {"QU D", 3, nullptr},
    {" QUJ", 3, nullptr},
    {"QUJ\n", 0, nullptr},
    {"QUJD\n", 0, nullptr},
    {"QU-D", 3, nullptr},
    {"QU\x80"
     "D",
     3, nullptr},
    {"QUJ\x80", 0, nullptr},
    {"Q\xff==", 0, nullptr},
};

TEST(Base64, SizeAndDecodeTable) {
    for (const DecodeCase& c : decode_cases) {
        SCOPED_TRACE(c.text);
        uint32_t n = static_cast<uint32_t>(strlen(c.text));
        EXPECT_EQ(base64_decoded_size(c.text, n), c.size);
        uint8_t* out = base64_decode(c.text, n);
        if (c.decoded == nullptr) {
            EXPECT_EQ(out, nullptr);
            continue;
        }
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), c.size), c.decoded);
        EXPECT_EQ(out[c.size], 0) << "decoded bytes are followed by a NUL";
    }
}

TEST(Base64, SizeLooksOnlyAtTheEndOfTheText) {
    // Short texts count missing positions as invalid.
    EXPECT_EQ(base64_decoded_size("=", 1), 0u);
    EXPECT_EQ(base64_decoded_size("==", 2), 0u);
    EXPECT_EQ(base64_decoded_size("A=", 2), 0u);  // (2/4)*3 - 1 would wrap
    EXPECT_EQ(base64_decoded_size("A==", 3), 0u);
    EXPECT_EQ(base64_decoded_size("", 0), 0u);
}

TEST(Base64, EncodeRoundTripsEveryLengthAndByte) {
    uint8_t bytes[300];
    for (uint32_t i = 0; i < sizeof(bytes); i++) {
        bytes[i] = static_cast<uint8_t>(i * 37 + 11);
    }
    char text[512];
    for (uint32_t n = 1; n <= sizeof(bytes); n++) {
        uint32_t length = http_base64_encode(text, sizeof(text), bytes, n);
        ASSERT_EQ(length, (n + 2) / 3 * 4);
        ASSERT_EQ(base64_decoded_size(text, length), n);
        uint8_t* out = base64_decode(text, length);
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(memcmp(out, bytes, n), 0) << n;
    }
}

}  // namespace
