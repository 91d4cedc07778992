// Base64 with the standard alphabet and "=" padding (RFC 4648): the Basic
// credentials, and the signature texts the release tool and tests make.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The length bytes at data as base64, NUL-terminated, into out of capacity
// bytes (4 * ((length + 2) / 3) + 1 are needed). Returns the text length, or
// 0 when out is too small; out is then left untouched.
uint32_t http_base64_encode(char* out, uint32_t capacity, const void* data, size_t length);
