// Every Wycheproof ECDSA secp256k1/SHA-256 case through the tool's own key
// load and verify_digest: valid ones accepted, invalid ones rejected.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <mbedtls/md.h>

#include "http/base64.h"
#include "tests/support/release.h"
#include "update/checks.h"
#include "update/signing_key.h"

namespace {

struct WycheproofCase {
    int id;
    std::string key;  // DER bytes of the group's public key
    std::string msg;
    std::string sig;  // DER (or deliberately broken) signature bytes
    std::string result;
};

std::string unhex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return out;
}

// Reads the string token at text[*at] (just after its opening quote).
// Escapes are kept as they stand: none of the fields used here holds one.
std::string read_string(const std::string& text, size_t* at) {
    std::string out;
    while (*at < text.size() && text[*at] != '"') {
        if (text[*at] == '\\') {
            out += text[(*at)++];
        }
        out += text[(*at)++];
    }
    (*at)++;
    return out;
}

size_t skip_space(const std::string& text, size_t at) {
    while (at < text.size() && isspace(static_cast<unsigned char>(text[at]))) {
        at++;
    }
    return at;
}

// A minimal reader for the file's shape: every "key": value pair in
// document order. A group's publicKeyDer precedes its tests; within a test
// tcId, msg and sig precede result.
std::vector<WycheproofCase> read_cases(const std::string& json, int* declared) {
    std::vector<WycheproofCase> cases;
    WycheproofCase current;
    std::string group_key;
    size_t at = 0;
    while ((at = json.find('"', at)) != std::string::npos) {
        at++;
        std::string name = read_string(json, &at);
        size_t colon = skip_space(json, at);
        if (colon >= json.size() || json[colon] != ':') {
            continue;  // a string value inside an array
        }
        size_t value = skip_space(json, colon + 1);
        if (json[value] == '"') {
            at = value + 1;
            std::string text = read_string(json, &at);
            if (name == "publicKeyDer") {
                group_key = unhex(text);
            } else if (name == "msg") {
                current.msg = unhex(text);
            } else if (name == "sig") {
                current.sig = unhex(text);
            } else if (name == "result") {
                current.result = text;
                current.key = group_key;
                cases.push_back(current);
                current = WycheproofCase();
            }
        } else if (name == "tcId") {
            current.id = std::stoi(json.substr(value, 12));
            at = value;
        } else if (name == "numberOfTests") {
            *declared = std::stoi(json.substr(value, 12));
            at = value;
        } else {
            at = value;
        }
    }
    return cases;
}

TEST(Wycheproof, EverySecp256k1Sha256Case) {
    std::string json;
    ReleaseProblem problem;
    ASSERT_TRUE(release_read_file(
        test_data_path("wycheproof/ecdsa_secp256k1_sha256_test.json").c_str(), &json, &problem))
        << problem;
    int declared = 0;
    std::vector<WycheproofCase> cases = read_cases(json, &declared);
    ASSERT_EQ(declared, 476);
    ASSERT_EQ(cases.size(), 476u);

    int valid = 0, invalid = 0;
    std::string loaded;
    for (const WycheproofCase& c : cases) {
        SCOPED_TRACE("tcId " + std::to_string(c.id));
        ASSERT_EQ(c.key.size(), SIGNING_KEY_LENGTH);
        if (c.key != loaded) {
            const char* why = nullptr;
            ASSERT_TRUE(load_signing_key_from(reinterpret_cast<const uint8_t*>(c.key.data()),
                                              c.key.size(), &why))
                << why;
            loaded = c.key;
        }
        uint8_t digest[DIGEST_LENGTH];
        mbedtls_md(mbedtls_md_info_from_type(MBEDTLS_MD_SHA256),
                   reinterpret_cast<const uint8_t*>(c.msg.data()), c.msg.size(), digest);
        std::vector<char> text(c.sig.size() * 2 + 8);
        uint32_t n = http_base64_encode(text.data(), static_cast<uint32_t>(text.size()),
                                        c.sig.data(), c.sig.size());
        ASSERT_TRUE(n > 0 || c.sig.empty());
        bool accepted = n > 0 && verify_digest(text.data(), n, digest);
        ASSERT_TRUE(c.result == "valid" || c.result == "invalid") << c.result;
        if (c.result == "valid") {
            EXPECT_TRUE(accepted);
            valid++;
        } else {
            EXPECT_FALSE(accepted);
            invalid++;
        }
    }
    EXPECT_EQ(valid, 168);
    EXPECT_EQ(invalid, 308);
}

}  // namespace
