// Strict DER, the manifest signature over the concatenated fields and the
// file signature, against the test key.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "http/base64.h"
#include "tests/support/release.h"
#include "update/checks.h"
#include "update/signing_key.h"

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes digest_of(const std::string& text) {
    Bytes d(DIGEST_LENGTH);
    mbedtls_md(mbedtls_md_info_from_type(MBEDTLS_MD_SHA256),
               reinterpret_cast<const uint8_t*>(text.data()), text.size(), d.data());
    return d;
}

std::string to_base64(const Bytes& bytes) {
    std::vector<char> text(bytes.size() * 2 + 8);
    http_base64_encode(text.data(), static_cast<uint32_t>(text.size()), bytes.data(), bytes.size());
    return text.data();
}

Bytes from_base64(const std::string& text) {
    uint32_t n = base64_decoded_size(text.data(), static_cast<uint32_t>(text.size()));
    uint8_t* out = base64_decode(text.data(), static_cast<uint32_t>(text.size()));
    return out ? Bytes(out, out + n) : Bytes();
}

// The two INTEGER contents (minimal, sign byte included) of a DER signature.
void split_signature(const Bytes& der, Bytes* r, Bytes* s) {
    size_t at = 2;
    size_t rn = der[at + 1];
    r->assign(der.begin() + at + 2, der.begin() + at + 2 + rn);
    at += 2 + rn;
    size_t sn = der[at + 1];
    s->assign(der.begin() + at + 2, der.begin() + at + 2 + sn);
}

Bytes tlv(uint8_t tag, const Bytes& content, bool long_form = false) {
    Bytes out = {tag};
    if (long_form || content.size() >= 128) {
        out.push_back(0x81);
    }
    out.push_back(static_cast<uint8_t>(content.size()));
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class Checks : public ::testing::Test {
  protected:
    void SetUp() override { use_test_signing_key(); }
};

TEST_F(Checks, StrictDerTable) {
    Bytes digest = digest_of("message");
    std::string good;
    ASSERT_TRUE(release_sign_digest(test_private_key(), digest.data(), &good));
    Bytes der = from_base64(good);
    Bytes r, s;
    split_signature(der, &r, &s);
    ASSERT_EQ(der, tlv(0x30, cat(tlv(0x02, r), tlv(0x02, s))));
    Bytes padded_r = cat({0x00}, r);

    struct {
        const char* name;
        Bytes der;
        bool strict;
    } cases[] = {
        {"the signature as Mbed TLS wrote it", der, true},
        {"long-form SEQUENCE length", tlv(0x30, cat(tlv(0x02, r), tlv(0x02, s)), true), false},
        {"long-form INTEGER length", tlv(0x30, cat(tlv(0x02, r, true), tlv(0x02, s))), false},
        {"zero-padded r", tlv(0x30, cat(tlv(0x02, padded_r), tlv(0x02, s))), false},
        {"negative r", tlv(0x30, cat(tlv(0x02, {0x80, 0x01}), tlv(0x02, s))), false},
        {"r of zero", tlv(0x30, cat(tlv(0x02, {0x00}), tlv(0x02, s))), false},
        {"empty INTEGER", tlv(0x30, cat(tlv(0x02, {}), tlv(0x02, s))), false},
        {"minimal INTEGER with a needed zero byte",
         tlv(0x30, cat(tlv(0x02, {0x00, 0x80}), tlv(0x02, {0x01}))), true},
        {"trailing byte after the SEQUENCE", cat(der, {0x00}), false},
        {"trailing INTEGER inside the SEQUENCE",
         tlv(0x30, cat(cat(tlv(0x02, r), tlv(0x02, s)), tlv(0x02, {0x01}))), false},
        {"only one INTEGER", tlv(0x30, tlv(0x02, r)), false},
        {"SET instead of SEQUENCE", tlv(0x31, cat(tlv(0x02, r), tlv(0x02, s))), false},
        {"OCTET STRING instead of INTEGER", tlv(0x30, cat(tlv(0x04, r), tlv(0x02, s))), false},
        {"length past the end", Bytes(der.begin(), der.end() - 1), false},
        {"indefinite length", cat(cat({0x30, 0x80}, cat(tlv(0x02, r), tlv(0x02, s))), {0, 0}),
         false},
        {"empty", {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(der_signature_is_strict(c.der.data(), static_cast<uint32_t>(c.der.size())),
                  c.strict);
        if (!c.strict) {
            EXPECT_FALSE(verify_digest(to_base64(c.der).c_str(),
                                       static_cast<uint32_t>(to_base64(c.der).size()),
                                       digest.data()));
        }
    }
    EXPECT_TRUE(verify_digest(good.c_str(), static_cast<uint32_t>(good.size()), digest.data()));
}

TEST_F(Checks, BerFormsMbedTlsWouldAcceptAreRefused) {
    // Without the strict check these pass Mbed TLS's own verification.
    Bytes digest = digest_of("ber");
    std::string good;
    ASSERT_TRUE(release_sign_digest(test_private_key(), digest.data(), &good));
    Bytes r, s;
    split_signature(from_base64(good), &r, &s);
    Bytes forms[] = {
        tlv(0x30, cat(tlv(0x02, r), tlv(0x02, s)), true),
        tlv(0x30, cat(tlv(0x02, cat({0x00}, r)), tlv(0x02, s))),
    };
    for (const Bytes& ber : forms) {
        int raw = mbedtls_pk_verify(signing_key_context(), MBEDTLS_MD_SHA256, digest.data(),
                                    DIGEST_LENGTH, ber.data(), ber.size());
        EXPECT_EQ(raw, 0) << "Mbed TLS accepts this form on its own";
        std::string text = to_base64(ber);
        EXPECT_FALSE(
            verify_digest(text.c_str(), static_cast<uint32_t>(text.size()), digest.data()));
    }
}

struct Signed {
    TestRelease release;
    UpdateJob job = {};
    Signed() : release(make_test_release("program bytes", "https://127.0.0.1/f.exe")) {}
    ~Signed() { job_free_fields(&job); }
    bool check() {
        job_free_fields(&job);
        job = UpdateJob{};
        return parse_test_manifest(test_release_xml(release), &job) &&
               check_manifest_signature(&job);
    }
};

TEST_F(Checks, ManifestSignatureCoversTheConcatenatedFields) {
    Signed m;
    EXPECT_TRUE(m.check());

    struct {
        const char* name;
        void (*change)(ReleaseFields*);
        bool holds;
    } cases[] = {
        {"moving the end of displayname to the start of displayversion",
         [](ReleaseFields* f) {
             std::string& a = f->text[FIELD_DISPLAYNAME];
             f->text[FIELD_DISPLAYVERSION].insert(0, 1, a.back());
             a.pop_back();
         },
         true},
        {"moving all of changelog into forumlink",
         [](ReleaseFields* f) {
             f->text[FIELD_FORUMLINK] = f->text[FIELD_CHANGELOG] + f->text[FIELD_FORUMLINK];
             f->text[FIELD_CHANGELOG].clear();
         },
         true},
        {"leaving an empty field out",
         [](ReleaseFields* f) {
             f->text[FIELD_CHANGELOG] += f->text[FIELD_FORUMLINK];
             f->text[FIELD_FORUMLINK].clear();
             f->present[FIELD_FORUMLINK] = false;
         },
         true},
        {"a space at the start of verify",
         [](ReleaseFields* f) { f->text[FIELD_VERIFY].insert(0, " "); }, false},
        {"a space in the middle of verify",
         [](ReleaseFields* f) { f->text[FIELD_VERIFY].insert(8, " "); }, false},
        {"a line break at the end of verify",
         [](ReleaseFields* f) { f->text[FIELD_VERIFY] += "\n"; }, false},
        {"a changed sha256 (signed, never compared with the file)",
         [](ReleaseFields* f) { f->text[FIELD_SHA256][0] ^= 1; }, false},
        {"swapping two fields' order of texts",
         [](ReleaseFields* f) { std::swap(f->text[FIELD_DISPLAYNAME], f->text[FIELD_CHANGELOG]); },
         false},
        {"verify left out", [](ReleaseFields* f) { f->present[FIELD_VERIFY] = false; }, false},
        {"verify empty", [](ReleaseFields* f) { f->text[FIELD_VERIFY].clear(); }, false},
        {"verify replaced by the file signature",
         [](ReleaseFields* f) { f->text[FIELD_VERIFY] = f->text[FIELD_SIGNATURE]; }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Signed changed;
        c.change(&changed.release.fields);
        EXPECT_EQ(changed.check(), c.holds);
    }
}

TEST_F(Checks, FileSignature) {
    std::string program = test_program_bytes(5000, 1);
    Signed m;
    m.release = make_test_release(program, "https://127.0.0.1/f.exe");
    ASSERT_TRUE(m.check());
    Bytes good = digest_of(program);
    Bytes other = digest_of(program + "x");
    EXPECT_TRUE(check_file_signature(&m.job, good.data()));
    EXPECT_FALSE(check_file_signature(&m.job, other.data()));

    // An empty "signature" fails without asking the key.
    m.release.fields.text[FIELD_SIGNATURE].clear();
    resign_test_release(&m.release);
    ASSERT_TRUE(m.check());
    EXPECT_FALSE(check_file_signature(&m.job, good.data()));
}

TEST_F(Checks, ValidSignatureWithExtraBytesBeforeThePaddingFails) {
    Bytes digest = digest_of("extra");
    std::string good;
    ASSERT_TRUE(release_sign_digest(test_private_key(), digest.data(), &good));
    for (Bytes tail : {Bytes{0x00}, Bytes{0x05, 0x00}, Bytes{0x30, 0x00}}) {
        std::string text = to_base64(cat(from_base64(good), tail));
        EXPECT_FALSE(
            verify_digest(text.c_str(), static_cast<uint32_t>(text.size()), digest.data()));
    }
}

TEST_F(Checks, WithoutAKeyOrWithAnotherKeyBothChecksFail) {
    Signed m;
    ASSERT_TRUE(m.check());
    Bytes digest = digest_of(m.release.program);
    ASSERT_TRUE(check_file_signature(&m.job, digest.data()));

    EXPECT_FALSE(load_signing_key_from(nullptr, 0, nullptr));
    EXPECT_FALSE(check_manifest_signature(&m.job));
    EXPECT_FALSE(check_file_signature(&m.job, digest.data()));

    // The built-in development key did not sign the test release.
    update_set_signing_key_for_tests(nullptr, 0);
    load_signing_key();
    EXPECT_FALSE(check_manifest_signature(&m.job));
    EXPECT_FALSE(check_file_signature(&m.job, digest.data()));
}

TEST_F(Checks, KeyLoadNamesTheProblem) {
    std::string p256, test_key;
    ReleaseProblem problem;
    ASSERT_TRUE(release_read_file(test_data_path("p256-public.der").c_str(), &p256, &problem));
    struct {
        const char* name;
        std::string key;
        bool loads;
        const char* problem;
    } cases[] = {
        {"the test key", std::string(reinterpret_cast<const char*>(test_public_key()), 88), true,
         nullptr},
        {"a P-256 key", p256, false, "not a secp256k1 key"},
        {"88 zero bytes", std::string(88, '\0'), false, "not a DER or PEM public key"},
        {"a cut key", std::string(reinterpret_cast<const char*>(test_public_key()), 87), false,
         "not a DER or PEM public key"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const char* why = nullptr;
        EXPECT_EQ(load_signing_key_from(reinterpret_cast<const uint8_t*>(c.key.data()),
                                        c.key.size(), &why),
                  c.loads);
        if (c.problem != nullptr) {
            EXPECT_STREQ(why, c.problem);
        }
    }
}

}  // namespace
