// Random single-byte changes to what the signatures cover: none accepted.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include <mbedtls/md.h>

#include "tests/support/release.h"
#include "update/checks.h"

namespace {

const int CHANGES = 1000;

TEST(Tamper, SingleByteChangesToSignedManifestFields) {
    use_test_signing_key();
    TestRelease release = make_test_release(test_program_bytes(4096, 7),
                                            "https://127.0.0.1:47443/files/CorvaneChat.exe");
    UpdateJob job = {};
    ASSERT_TRUE(parse_test_manifest(test_release_xml(release), &job));
    ASSERT_TRUE(check_manifest_signature(&job));

    std::mt19937 random(20240601);
    int accepted = 0;
    for (int i = 0; i < CHANGES; i++) {
        // A non-empty signed field (rows 0 to 8), a position, a new value.
        uint32_t field = 0;
        do {
            field = random() % FIELD_VERIFY;
        } while (job.fields[field]->count == 0);
        char* text = const_cast<char*>(field_text(job.fields[field]));
        uint32_t at = random() % job.fields[field]->count;
        char old = text[at];
        char changed = static_cast<char>(old ^ (1 + random() % 255));
        text[at] = changed;
        if (check_manifest_signature(&job)) {
            accepted++;
            ADD_FAILURE() << "accepted a change in " << manifest_fields[field].element << " at "
                          << at;
        }
        text[at] = old;
    }
    EXPECT_EQ(accepted, 0);
    EXPECT_TRUE(check_manifest_signature(&job)) << "every change was undone";
    job_free_fields(&job);
}

TEST(Tamper, SingleByteChangesToTheProgramFile) {
    use_test_signing_key();
    std::string program = test_program_bytes(64 * 1024, 9);
    TestRelease release = make_test_release(program, "https://127.0.0.1/f.exe");
    UpdateJob job = {};
    ASSERT_TRUE(parse_test_manifest(test_release_xml(release), &job));

    uint8_t digest[DIGEST_LENGTH];
    const mbedtls_md_info_t* sha256 = mbedtls_md_info_from_type(MBEDTLS_MD_SHA256);
    mbedtls_md(sha256, reinterpret_cast<const uint8_t*>(program.data()), program.size(), digest);
    ASSERT_TRUE(check_file_signature(&job, digest));

    std::mt19937 random(20240602);
    int accepted = 0;
    for (int i = 0; i < CHANGES; i++) {
        size_t at = random() % program.size();
        char old = program[at];
        program[at] = static_cast<char>(old ^ (1 + random() % 255));
        mbedtls_md(sha256, reinterpret_cast<const uint8_t*>(program.data()), program.size(),
                   digest);
        if (check_file_signature(&job, digest)) {
            accepted++;
            ADD_FAILURE() << "accepted a change at " << at;
        }
        program[at] = old;
    }
    EXPECT_EQ(accepted, 0);
    job_free_fields(&job);
}

}  // namespace
