// The two signature checks of an update cycle and the pieces they share:
// strict DER signatures and the manifest digest. The signatures are base64
// text, decoded by http/base64.h, which comes with this header.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "http/base64.h"

struct UpdateJob;

constexpr size_t DIGEST_LENGTH = 32;

// True when der is exactly the minimal DER encoding of a SEQUENCE of two
// positive INTEGERs and nothing after it.
bool der_signature_is_strict(const uint8_t* der, uint32_t n);

// SHA-256 of the nine signed fields in table order, concatenated without
// separators. False when the digest context cannot be set up (digest is
// then untouched).
bool manifest_digest(const UpdateJob* job, uint8_t digest[DIGEST_LENGTH]);

// True when text decodes to a strict DER signature that the signing key
// accepts for digest. Reports nothing.
bool verify_digest(const char* text, uint32_t n, const uint8_t digest[DIGEST_LENGTH]);

// The "verify" signature over the nine signed fields. False for an empty
// "verify".
bool check_manifest_signature(const UpdateJob* job);

// The "signature" field over the program file's digest. False when empty.
bool check_file_signature(const UpdateJob* job, const uint8_t digest[DIGEST_LENGTH]);
