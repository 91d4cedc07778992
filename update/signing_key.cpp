// Loading the signing key into the process-wide context.
#include "update/signing_key.h"

#include <mbedtls/ecp.h>

#include "update/build_config.h"

static mbedtls_pk_context signing_key;
static bool signing_key_initialised = false;
static const uint8_t* key_override = nullptr;
static size_t key_override_length = 0;

mbedtls_pk_context* signing_key_context(void) {
    if (!signing_key_initialised) {
        mbedtls_pk_init(&signing_key);
        signing_key_initialised = true;
    }
    return &signing_key;
}

// Frees and re-initialises, so a context never holds a half-parsed key.
static void empty_signing_key(void) {
    mbedtls_pk_context* key = signing_key_context();
    mbedtls_pk_free(key);
    mbedtls_pk_init(key);
}

void load_signing_key(void) {
    empty_signing_key();
    if (key_override != nullptr) {
        mbedtls_pk_parse_public_key(signing_key_context(), key_override, key_override_length);
        return;
    }
    mbedtls_pk_parse_public_key(signing_key_context(), corvane_builtin_signing_key,
                                SIGNING_KEY_LENGTH);
}

const char* signing_key_kind_problem(const mbedtls_pk_context* key) {
    if (!mbedtls_pk_can_do(key, MBEDTLS_PK_ECDSA)) {
        return "not an elliptic-curve key";
    }
    if (mbedtls_ecp_keypair_get_group_id(mbedtls_pk_ec(*key)) != MBEDTLS_ECP_DP_SECP256K1) {
        return "not a secp256k1 key";
    }
    return nullptr;
}

bool load_signing_key_from(const uint8_t* key, size_t length, const char** problem) {
    const char* unused = nullptr;
    const char** why = problem != nullptr ? problem : &unused;
    empty_signing_key();
    mbedtls_pk_context* context = signing_key_context();
    if (key == nullptr || length == 0 || mbedtls_pk_parse_public_key(context, key, length) != 0) {
        *why = "not a DER or PEM public key";
        empty_signing_key();
        return false;
    }
    *why = signing_key_kind_problem(context);
    if (*why != nullptr) {
        empty_signing_key();
        return false;
    }
    return true;
}

void update_set_signing_key_for_tests(const uint8_t* key, size_t length) {
    key_override = key;
    key_override_length = key != nullptr ? length : 0;
}
