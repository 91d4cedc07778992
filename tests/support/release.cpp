// Signed releases for tests.
#include "tests/support/release.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "update/signing_key.h"

#ifndef CORVANE_TEST_DATA_DIR
#error "CORVANE_TEST_DATA_DIR must name tests/update/data"
#endif

std::string test_data_path(const char* name) {
    return std::string(CORVANE_TEST_DATA_DIR) + "/" + name;
}

static mbedtls_pk_context private_key;
static uint8_t public_key[SIGNING_KEY_LENGTH];
static bool keys_loaded = false;

static void load_test_keys(void) {
    if (keys_loaded) {
        return;
    }
    mbedtls_pk_init(&private_key);
    ReleaseProblem problem;
    if (!release_load_private_key(test_data_path("test-signing-private.pem").c_str(), &private_key,
                                  &problem) ||
        !release_public_der(&private_key, public_key)) {
        fprintf(stderr, "test key: %s\n", problem.c_str());
        abort();
    }
    keys_loaded = true;
}

mbedtls_pk_context* test_private_key(void) {
    load_test_keys();
    return &private_key;
}

const uint8_t* test_public_key(void) {
    load_test_keys();
    return public_key;
}

void use_test_signing_key(void) {
    update_set_signing_key_for_tests(test_public_key(), SIGNING_KEY_LENGTH);
    load_signing_key();
}

std::string test_program_bytes(size_t length, uint32_t seed) {
    std::string bytes(length, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < length; i++) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = static_cast<char>(x);
    }
    return bytes;
}

TestRelease make_test_release(const std::string& program, const std::string& url,
                              const char* version) {
    TestRelease release;
    release.program = program;
    for (uint32_t i = 0; i < MANIFEST_FIELD_COUNT; i++) {
        release.fields.present[i] = true;
    }
    uint8_t digest[DIGEST_LENGTH];
    mbedtls_md(mbedtls_md_info_from_type(MBEDTLS_MD_SHA256),
               reinterpret_cast<const uint8_t*>(program.data()), program.size(), digest);
    ReleaseFields& f = release.fields;
    f.text[FIELD_VERSION] = version;
    f.text[FIELD_DISPLAYNAME] = "Corvane Chat";
    f.text[FIELD_DISPLAYVERSION] = "2.1 beta 7";
    f.text[FIELD_URL] = url;
    f.text[FIELD_SIZE] = std::to_string(program.size());
    f.text[FIELD_SHA256] = release_hex(digest, DIGEST_LENGTH);
    f.text[FIELD_CHANGELOG] = "Fixes & improvements <b>";
    f.text[FIELD_FORUMLINK] = "https://forum.corvane.example/t/1";
    if (!release_sign_digest(test_private_key(), digest, &f.text[FIELD_SIGNATURE])) {
        abort();
    }
    resign_test_release(&release);
    return release;
}

void resign_test_release(TestRelease* release) {
    ReleaseProblem problem;
    if (!release_sign_manifest(test_private_key(), &release->fields, &problem)) {
        fprintf(stderr, "resign: %s\n", problem.c_str());
        abort();
    }
}

std::string test_release_xml(const TestRelease& release) {
    std::string xml;
    ReleaseProblem problem;
    if (!release_manifest_xml(release.fields, &xml, &problem)) {
        fprintf(stderr, "manifest: %s\n", problem.c_str());
        abort();
    }
    return xml;
}

bool parse_test_manifest(const std::string& xml, UpdateJob* job) {
    return release_parse_manifest(xml, job);
}
