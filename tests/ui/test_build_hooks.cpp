// Linked only into the tool's test build: the update host and signing key
// come from the environment, so the tests can point the tool at their own
// server and sign with the test key. The product build has neither.
#include <stdio.h>
#include <stdlib.h>

#include "update/manifest.h"
#include "update/signing_key.h"

namespace {

uint8_t test_key[SIGNING_KEY_LENGTH];

struct TestBuildHooks {
    TestBuildHooks() {
        const char* host = getenv("CORVANE_TEST_UPDATE_HOST");
        if (host != nullptr && *host != 0) {
            update_set_host_for_tests(host);
        }
        const char* key_path = getenv("CORVANE_TEST_SIGNING_KEY");
        if (key_path == nullptr || *key_path == 0) {
            return;
        }
        FILE* in = fopen(key_path, "rb");
        if (in == nullptr) {
            return;
        }
        size_t n = fread(test_key, 1, sizeof test_key, in);
        fclose(in);
        if (n == sizeof test_key) {
            update_set_signing_key_for_tests(test_key, n);
        }
    }
};

// Runs before main, so before start-up loads the key.
TestBuildHooks hooks;

}  // namespace
