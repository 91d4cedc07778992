// Digest computation against RFC 2617's worked example, and the header the
// client writes for a challenge (checked over an in-memory peer).
#include <gtest/gtest.h>

#include <string>

#include "http/base64.h"
#include "tests/http/memory_transport.h"

namespace {

HttpSpan span_of(const char* text) {
    return HttpSpan{text, static_cast<int32_t>(strlen(text))};
}

TEST(HttpDigest, Rfc2617Example) {
    char ha1[33], response[33];
    http_digest_ha1(false, "Mufasa", span_of("testrealm@host.com"), "Circle Of Life",
                    span_of("dcd98b7102dd2f0e8b11d0f600bfb0c093"), "0a4f113b", ha1);
    EXPECT_STREQ(ha1, "939e7578ed9e3c518a452acee763bce9");
    http_digest_response(ha1, span_of("dcd98b7102dd2f0e8b11d0f600bfb0c093"), "0a4f113b",
                         span_of("auth"), "GET", span_of("/dir/index.html"), response);
    EXPECT_STREQ(response, "6629fae49393a05397450978507c4ef1");
}

TEST(HttpDigest, Md5SessHashesTheFirstHa1Again) {
    char plain[33], sess[33];
    http_digest_ha1(false, "u", span_of("r"), "p", span_of("n"), "c", plain);
    http_digest_ha1(true, "u", span_of("r"), "p", span_of("n"), "c", sess);
    // MD5("<plain>:n:c") computed independently.
    HttpMd5 md5;
    http_md5_init(&md5);
    std::string text = std::string(plain) + ":n:c";
    http_md5_update(&md5, text.data(), text.size());
    uint8_t digest[16];
    http_md5_final(&md5, digest);
    char expected[33];
    http_md5_hex(digest, expected);
    EXPECT_STREQ(sess, expected);
    EXPECT_STRNE(sess, plain);
}

TEST(HttpDigest, CnonceIsHexAndStableWithinASecond) {
    char first[33], second[33];
    http_make_cnonce(first);
    http_make_cnonce(second);
    EXPECT_EQ(strlen(first), 32u);
    EXPECT_EQ(strspn(first, "0123456789abcdef"), 32u) << first;
    // Both were seeded from the same second (retry once across a boundary).
    if (strcmp(first, second) != 0) {
        http_make_cnonce(first);
        http_make_cnonce(second);
    }
    EXPECT_STREQ(first, second);
}

TEST(HttpDigest, ChallengeParameters) {
    const char* line =
        "\r\nWWW-Authenticate: Digest realm=\"a b\", qop=auth,nonce=  \"xyz\", "
        "opaque=\"\"\r\n\r\n";
    HttpSpan challenge{line, static_cast<int32_t>(strstr(line + 2, "\r\n") - line)};
    struct Row {
        const char* name;
        HttpResult result;
        const char* value;
    };
    const Row rows[] = {
        {"realm", HTTP_OK, "a b"}, {"REALM", HTTP_OK, "a b"},
        {"qop", HTTP_OK, "auth"},  {"nonce", HTTP_OK, "xyz"},
        {"opaque", HTTP_OK, ""},   {"algorithm", HTTP_ERR_DIGEST_PARAM, nullptr},
    };
    for (const Row& row : rows) {
        HttpSpan value{nullptr, 0};
        EXPECT_EQ(http_challenge_param(row.name, challenge, &value), row.result) << row.name;
        if (row.value != nullptr) {
            EXPECT_EQ(std::string(value.data, value.length), row.value);
        }
    }
}

// Names are whole tokens: never the tail of a longer name, never text
// inside a quoted value, never a line behind the challenge's own.
TEST(HttpDigest, ParameterNamesAreWholeTokens) {
    struct Row {
        const char* line;
        const char* name;
        HttpResult result;
        const char* value;
    };
    const Row rows[] = {
        {"Digest cnonce=\"X\", nonce=\"N\"", "nonce", HTTP_OK, "N"},
        {"Digest realm=\"nonce=X\", nonce=\"N\"", "nonce", HTTP_OK, "N"},
        {"Digest realm=\"a \\\" nonce=X\", nonce=N", "nonce", HTTP_OK, "N"},
        {"Digest xqop=\"auth-int\", qop = \"auth\"", "qop", HTTP_OK, "auth"},
        {"Digest cnonce=\"X\"", "nonce", HTTP_ERR_DIGEST_PARAM, nullptr},
        {"Digest realm=\"r\"\r\nX-Nonce: nonce=\"N\"", "nonce", HTTP_ERR_DIGEST_PARAM, nullptr},
    };
    for (const Row& row : rows) {
        std::string text = std::string("\r\nWWW-Authenticate: ") + row.line + "\r\n\r\n";
        // The span ends at the first CR behind the header's own line.
        HttpSpan challenge{text.c_str(), static_cast<int32_t>(text.find("\r\n", 2))};
        HttpSpan value{nullptr, 0};
        EXPECT_EQ(http_challenge_param(row.name, challenge, &value), row.result) << row.line;
        if (row.value != nullptr) {
            EXPECT_EQ(std::string(value.data, value.length), row.value) << row.line;
        }
    }
}

// The header the client sends after a 401 with the given challenge value.
struct Answer {
    HttpResult result;
    std::string sent;
};

Answer answer(const std::string& challenge, bool force_basic = false) {
    MemoryPeer peer("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: " + challenge +
                    "\r\nContent-Length: 0\r\n\r\n");
    HttpRequest* request = memory_request(&peer);
    http_set_credentials(request, "Mufasa", "Circle Of Life");
    http_set_wanted_scheme(request, force_basic ? HTTP_AUTH_BASIC : HTTP_AUTH_DIGEST, "");
    http_set_force_basic(request, force_basic);
    http_set_user_agent(request);
    Answer out;
    out.result = http_send_request(request, "http://host.example/dir/index.html");
    size_t second = peer.sent.find("GET ", 4);
    out.sent = second == std::string::npos ? std::string() : peer.sent.substr(second);
    http_destroy(&request);
    return out;
}

std::string header_line(const std::string& sent, const char* name) {
    size_t at = sent.find(std::string("\r\n") + name);
    if (at == std::string::npos) {
        return "";
    }
    return sent.substr(at + 2, sent.find("\r\n", at + 2) - at - 2);
}

TEST(HttpDigest, HeaderShape) {
    Answer got = answer(
        "Digest realm=\"testrealm@host.com\", qop=\"auth,auth-int\", "
        "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", opaque=\"5ccc\"");
    ASSERT_EQ(got.result, HTTP_OK);
    std::string line = header_line(got.sent, "Authorization:");
    // Every part in order; cnonce and response checked by recomputation.
    const char* prefix =
        "Authorization: Digest username=\"Mufasa\", realm=\"testrealm@host.com\", "
        "qop=\"auth,auth-int\", algorithm=\"MD5\", uri=\"/dir/index.html\", "
        "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", nc=00000001, cnonce=\"";
    ASSERT_EQ(line.compare(0, strlen(prefix), prefix), 0) << line;
    std::string cnonce = line.substr(strlen(prefix), 32);
    std::string rest = line.substr(strlen(prefix) + 32);
    const char* middle = "\", opaque=\"5ccc\", response=\"";
    ASSERT_EQ(rest.compare(0, strlen(middle), middle), 0) << rest;
    char ha1[33], response[33];
    http_digest_ha1(false, "Mufasa", span_of("testrealm@host.com"), "Circle Of Life",
                    span_of("dcd98b7102dd2f0e8b11d0f600bfb0c093"), cnonce.c_str(), ha1);
    // The qop in the digest is the challenge's whole value.
    http_digest_response(ha1, span_of("dcd98b7102dd2f0e8b11d0f600bfb0c093"), cnonce.c_str(),
                         span_of("auth,auth-int"), "GET", span_of("/dir/index.html"), response);
    EXPECT_EQ(rest.substr(strlen(middle)), std::string(response) + "\"");
    // The header stands before the closing blank line.
    EXPECT_EQ(got.sent.substr(got.sent.size() - 5), "\"\r\n\r\n");
}

TEST(HttpDigest, Variants) {
    struct Row {
        const char* challenge;
        HttpResult result;
        const char* must_contain;      // in the Authorization line, or null
        const char* must_not_contain;  // in the Authorization line, or null
    };
    const Row rows[] = {
        {"Digest realm=\"r\", qop=\"auth\", nonce=\"n\"", HTTP_OK, "algorithm=\"MD5\"", "opaque"},
        {"Digest realm=\"r\", qop=\"auth\", nonce=\"n\", algorithm=MD5-sess", HTTP_OK,
         "algorithm=\"MD5-sess\"", nullptr},
        {"Digest realm=\"r\", qop=\"auth\", nonce=\"n\", algorithm=SHA-256",
         HTTP_ERR_DIGEST_ALGORITHM, nullptr, nullptr},
        {"Digest realm=\"r\", nonce=\"n\"", HTTP_ERR_DIGEST_PARAM, nullptr, nullptr},
        {"Digest qop=\"auth\", nonce=\"n\"", HTTP_ERR_DIGEST_PARAM, nullptr, nullptr},
        {"Digest realm=\"r\", qop=\"auth\"", HTTP_ERR_DIGEST_PARAM, nullptr, nullptr},
        {"Negotiate", HTTP_ERR_AUTH_MISMATCH, nullptr, nullptr},  // wanted Digest
        {"Bearer x", HTTP_ERR_AUTH_SCHEME, nullptr, nullptr},
        // Scheme words count only as whole bare words of the line.
        {"Digest realm=\"Basic area\", qop=\"auth\", nonce=\"n\"", HTTP_OK, "realm=\"Basic area\"",
         nullptr},
        {"Digestive realm=\"r\", qop=\"auth\", nonce=\"n\"", HTTP_ERR_AUTH_SCHEME, nullptr,
         nullptr},
        {"Digest realm=\"r\", qop=\"auth\", cnonce=\"X\", nonce=\"N\"", HTTP_OK, "nonce=\"N\"",
         "nonce=\"X\""},
    };
    for (const Row& row : rows) {
        Answer got = answer(row.challenge);
        EXPECT_EQ(got.result, row.result) << row.challenge;
        std::string line = header_line(got.sent, "Authorization:");
        if (row.must_contain != nullptr) {
            EXPECT_NE(line.find(row.must_contain), std::string::npos) << line;
        }
        if (row.must_not_contain != nullptr) {
            EXPECT_EQ(line.find(row.must_not_contain), std::string::npos) << line;
        }
    }
    // A missing qop fails after the first pieces were already sent.
    Answer partial = answer("Digest realm=\"r\", nonce=\"n\"");
    EXPECT_NE(partial.sent.find("Authorization: Digest username=\"Mufasa\", realm=\"r"),
              std::string::npos);
}

TEST(HttpDigest, ForceBasicAnswersDigestWithBasic) {
    Answer got = answer("Digest realm=\"r\", qop=\"auth\", nonce=\"n\"", true);
    ASSERT_EQ(got.result, HTTP_OK);
    char coded[64];
    http_base64_encode(coded, sizeof(coded), "Mufasa:Circle Of Life", 21);
    EXPECT_EQ(header_line(got.sent, "Authorization:"),
              std::string("Authorization: Basic ") + coded);
}

}  // namespace
