// Base64 with the standard alphabet and "=" padding (RFC 4648): the Basic
// credentials and the signature texts the release tool makes, and the
// signatures the update checks read.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The length bytes at data as base64, NUL-terminated, into out of capacity
// bytes (4 * ((length + 2) / 3) + 1 are needed). Returns the text length, or
// 0 when out is too small; out is then left untouched.
uint32_t http_base64_encode(char* out, uint32_t capacity, const void* data, size_t length);

// Bytes the base64 text decodes to, judged from its last three characters
// only; 0 when its end is not valid base64 (or n is 0).
uint32_t base64_decoded_size(const char* text, uint32_t n);

// The decoded bytes and one NUL in a scratch buffer of
// base64_decoded_size + 1 bytes; null when the text is not whole groups of
// four alphabet characters with padding only at the very end (or memory
// ran out). Nothing is written anywhere on failure.
uint8_t* base64_decode(const char* text, uint32_t n);
