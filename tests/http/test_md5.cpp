// The client's own MD5 against the RFC 1321 test suite, fed whole and in
// uneven pieces so that block boundaries are crossed.
#include <gtest/gtest.h>

#include <string>

#include "http/http_internal.h"

namespace {

std::string repeat(const char* text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

std::string md5_of(const std::string& text, size_t piece) {
    HttpMd5 md5;
    http_md5_init(&md5);
    for (size_t at = 0; at < text.size(); at += piece) {
        http_md5_update(&md5, text.data() + at, std::min(piece, text.size() - at));
    }
    uint8_t digest[16];
    http_md5_final(&md5, digest);
    char hex[33];
    http_md5_hex(digest, hex);
    return hex;
}

TEST(HttpMd5, Rfc1321Suite) {
    struct Row {
        std::string text;
        const char* digest;
    };
    const Row rows[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {repeat("1234567890", 8), "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const Row& row : rows) {
        for (size_t piece : {size_t{1}, size_t{7}, size_t{63}, size_t{64}, size_t{1000}}) {
            EXPECT_EQ(md5_of(row.text, piece), row.digest) << row.text << " in " << piece;
        }
    }
}

TEST(HttpMd5, PaddingBoundaries) {
    // 55, 56 and 64 bytes put the length into the same or the next block.
    struct Row {
        size_t length;
        const char* digest;
    };
    const Row rows[] = {
        {55, "ef1772b6dff9a122358552954ad0df65"},
        {56, "3b0c8ac703f828b04c6c197006d17218"},
        {64, "014842d480b571495a4a0363793f7367"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(md5_of(std::string(row.length, 'a'), 5), row.digest) << row.length;
    }
}

}  // namespace
