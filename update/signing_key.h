// The one public key everything installed is trusted through.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <mbedtls/pk.h>

// Length of the built-in key: a DER SubjectPublicKeyInfo for an uncompressed
// secp256k1 point.
constexpr size_t SIGNING_KEY_LENGTH = 88;

// The process-wide key context: filled once at start-up, only read after.
mbedtls_pk_context* signing_key_context(void);

// Empties the context and parses the built-in key into it. The result is
// not examined: a key that does not parse leaves the context empty and
// every later check fails.
void load_signing_key(void);

// Empties the context and parses key (DER, or PEM text ending in a NUL)
// into it. True only for a secp256k1 EC key; otherwise the context is left
// empty and *problem (when given) names what was wrong. For the release
// tool's --key and for tests, which bring their own keys.
bool load_signing_key_from(const uint8_t* key, size_t length, const char** problem);

// Null when key holds a secp256k1 EC key, else what is wrong with it; the
// one test of a key's kind, for the public key here and the release tool's
// private key.
const char* signing_key_kind_problem(const mbedtls_pk_context* key);

// Tests only: the built-in key used by load_signing_key is replaced by key
// (which must outlive its use); null restores the built-in one.
void update_set_signing_key_for_tests(const uint8_t* key, size_t length);
