// Base64 decoding, its size rule and its padding rules, and the round trip
// through the HTTP client's encoder.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "http/base64.h"
#include "update/checks.h"

namespace {

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
