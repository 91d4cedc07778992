// Signed releases for tests, made with the release tool's own code and the
// test key pair under tests/update/data.
#pragma once

#include <stdint.h>

#include <string>

#include "tools/release.h"

// The test key's private half (loaded once per process).
mbedtls_pk_context* test_private_key(void);
// The test key's 88-byte public half.
const uint8_t* test_public_key(void);
// Makes the test key the tool's built-in key and loads it.
void use_test_signing_key(void);

// A path under tests/update/data.
std::string test_data_path(const char* name);

struct TestRelease {
    ReleaseFields fields;
    std::string program;  // the program file's bytes
};

// A release of program to be served at url: all ten fields, size, sha256
// and signature from program, verify over the nine signed texts.
TestRelease make_test_release(const std::string& program, const std::string& url,
                              const char* version = "2.1.0.7");

// Signs the fields again after a test changed them.
void resign_test_release(TestRelease* release);

// The manifest document of the release as it stands.
std::string test_release_xml(const TestRelease& release);

// Program bytes of the given length, varied so that a moved or lost piece
// changes the digest.
std::string test_program_bytes(size_t length, uint32_t seed);

// Parses xml into job through the tool's parser (buffers created here;
// free with job_free_fields). False on malformed XML.
bool parse_test_manifest(const std::string& xml, UpdateJob* job);
