// The two signature checks of an update cycle and the pieces they share:
// base64 text, strict DER signatures, the manifest digest. The encoder is
// the HTTP client's (http/base64.h).
#pragma once

#include <stddef.h>
#include <stdint.h>

struct UpdateJob;

constexpr size_t DIGEST_LENGTH = 32;

// Bytes the base64 text decodes to, judged from its last three characters
// only; 0 when its end is not valid base64 (or n is 0).
uint32_t base64_decoded_size(const char* text, uint32_t n);

// The decoded bytes and one NUL in a scratch buffer of
// base64_decoded_size + 1 bytes; null when the text is not whole groups of
// four alphabet characters with padding only at the very end (or memory
// ran out). Nothing is written anywhere on failure.
uint8_t* base64_decode(const char* text, uint32_t n);

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
