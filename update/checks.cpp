// Base64 decoding, strict DER and the ECDSA checks against the signing key.
#include "update/checks.h"

#include <mbedtls/md.h>
#include <mbedtls/pk.h>

#include "core/scratch.h"
#include "update/manifest.h"
#include "update/signing_key.h"

static const int8_t BASE64_INVALID = -1;
static const int8_t BASE64_PAD = -2;

// Value of one base64 character: 0..63, BASE64_PAD or BASE64_INVALID.
static int8_t base64_value(uint8_t c) {
    if (c >= 'A' && c <= 'Z') {
        return static_cast<int8_t>(c - 'A');
    }
    if (c >= 'a' && c <= 'z') {
        return static_cast<int8_t>(c - 'a' + 26);
    }
    if (c >= '0' && c <= '9') {
        return static_cast<int8_t>(c - '0' + 52);
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return c == '=' ? BASE64_PAD : BASE64_INVALID;
}

// The value at position n - back, or invalid when the text is shorter.
static int8_t value_from_end(const char* text, uint32_t n, uint32_t back) {
    return n >= back ? base64_value(static_cast<uint8_t>(text[n - back])) : BASE64_INVALID;
}

uint32_t base64_decoded_size(const char* text, uint32_t n) {
    if (n == 0) {
        return 0;
    }
    uint32_t whole = (n / 4) * 3;
    int8_t last = value_from_end(text, n, 1);
    if (last >= 0) {
        return whole;
    }
    if (last == BASE64_INVALID) {
        return 0;
    }
    // A text too short to hold its padding decodes to nothing (no wrap).
    int8_t second = value_from_end(text, n, 2);
    if (second >= 0) {
        return whole >= 1 ? whole - 1 : 0;
    }
    if (second == BASE64_INVALID) {
        return 0;
    }
    return value_from_end(text, n, 3) >= 0 && whole >= 2 ? whole - 2 : 0;
}

uint8_t* base64_decode(const char* text, uint32_t n) {
    if (n % 4 != 0) {
        return nullptr;
    }
    uint32_t size = base64_decoded_size(text, n);
    if (n > 0 && size == 0) {
        return nullptr;
    }
    // Validate everything before taking a scratch slot, so a failure
    // leaves the ring as it was.
    for (uint32_t i = 0; i < n; i++) {
        int8_t v = base64_value(static_cast<uint8_t>(text[i]));
        if (v == BASE64_INVALID) {
            return nullptr;
        }
        if (v == BASE64_PAD) {
            // Padding only as the last one or two characters of the text,
            // and "=" followed only by "=".
            bool last_two = i + 2 >= n;
            if (!last_two || (i == n - 2 && text[n - 1] != '=')) {
                return nullptr;
            }
        }
    }
    uint8_t* out = reinterpret_cast<uint8_t*>(scratch_alloc(size + 1));
    if (out == nullptr) {
        return nullptr;
    }
    uint32_t o = 0;
    for (uint32_t i = 0; i < n; i += 4) {
        uint32_t a = static_cast<uint32_t>(base64_value(static_cast<uint8_t>(text[i])));
        uint32_t b = static_cast<uint32_t>(base64_value(static_cast<uint8_t>(text[i + 1])));
        int8_t c = base64_value(static_cast<uint8_t>(text[i + 2]));
        int8_t d = base64_value(static_cast<uint8_t>(text[i + 3]));
        if (c == BASE64_PAD) {
            out[o++] = static_cast<uint8_t>(a * 4 + b / 16);
        } else if (d == BASE64_PAD) {
            uint32_t v = (a << 10) + (b << 4) + static_cast<uint32_t>(c) / 4;
            out[o++] = static_cast<uint8_t>(v >> 8);
            out[o++] = static_cast<uint8_t>(v);
        } else {
            uint32_t v =
                (a << 18) + (b << 12) + (static_cast<uint32_t>(c) << 6) + static_cast<uint32_t>(d);
            out[o++] = static_cast<uint8_t>(v >> 16);
            out[o++] = static_cast<uint8_t>(v >> 8);
            out[o++] = static_cast<uint8_t>(v);
        }
    }
    out[o] = 0;
    return out;
}

// Reads one DER length at der[*at]: short form below 128, else the fewest
// long-form bytes (at most two) with no leading zero. False for anything
// else or a length running past n.
static bool der_read_length(const uint8_t* der, uint32_t n, uint32_t* at, uint32_t* length) {
    if (*at >= n) {
        return false;
    }
    uint8_t first = der[(*at)++];
    uint32_t value = 0;
    if (first < 0x80) {
        value = first;
    } else if (first == 0x81) {
        if (*at >= n || der[*at] < 0x80) {
            return false;
        }
        value = der[(*at)++];
    } else if (first == 0x82) {
        if (*at + 1 >= n || der[*at] == 0) {
            return false;
        }
        value = (static_cast<uint32_t>(der[*at]) << 8) | der[*at + 1];
        *at += 2;
    } else {
        return false;
    }
    if (value > n - *at) {
        return false;
    }
    *length = value;
    return true;
}

// One positive INTEGER in minimal form: no needless leading zero, no sign
// bit set, not zero.
static bool der_read_positive_integer(const uint8_t* der, uint32_t n, uint32_t* at) {
    if (*at >= n || der[(*at)++] != 0x02) {
        return false;
    }
    uint32_t length = 0;
    if (!der_read_length(der, n, at, &length) || length == 0) {
        return false;
    }
    const uint8_t* value = der + *at;
    if ((value[0] & 0x80) != 0) {
        return false;
    }
    if (value[0] == 0 && (length == 1 || (value[1] & 0x80) == 0)) {
        return false;
    }
    *at += length;
    return true;
}

bool der_signature_is_strict(const uint8_t* der, uint32_t n) {
    uint32_t at = 0;
    uint32_t length = 0;
    if (n == 0 || der[at++] != 0x30 || !der_read_length(der, n, &at, &length)) {
        return false;
    }
    if (at + length != n) {
        return false;  // trailing bytes after the SEQUENCE
    }
    if (!der_read_positive_integer(der, n, &at) || !der_read_positive_integer(der, n, &at)) {
        return false;
    }
    return at == n;
}

bool manifest_digest(const UpdateJob* job, uint8_t digest[DIGEST_LENGTH]) {
    bool result = false;
    uint8_t out[DIGEST_LENGTH];
    mbedtls_md_context_t md;
    mbedtls_md_init(&md);

    const mbedtls_md_info_t* sha256 = mbedtls_md_info_from_type(MBEDTLS_MD_SHA256);
    if (sha256 == nullptr || mbedtls_md_setup(&md, sha256, 0) != 0 || mbedtls_md_starts(&md) != 0) {
        goto cleanup;
    }
    for (uint32_t i = 0; i < MANIFEST_FIELD_COUNT; i++) {
        const FieldBuffer* field = job->fields[manifest_fields[i].field];
        if (manifest_fields[i].excluded_from_hash || field == nullptr || field->count == 0) {
            continue;
        }
        if (mbedtls_md_update(&md, reinterpret_cast<const uint8_t*>(field_text(field)),
                              field->count) != 0) {
            goto cleanup;
        }
    }
    if (mbedtls_md_finish(&md, out) != 0) {
        goto cleanup;
    }
    for (size_t i = 0; i < DIGEST_LENGTH; i++) {
        digest[i] = out[i];
    }
    result = true;

cleanup:
    mbedtls_md_free(&md);
    return result;
}

bool verify_digest(const char* text, uint32_t n, const uint8_t digest[DIGEST_LENGTH]) {
    uint32_t size = base64_decoded_size(text, n);
    uint8_t* signature = base64_decode(text, n);
    if (signature == nullptr) {
        return false;
    }
    // Mbed TLS on its own accepts several BER forms; only DER is a signature.
    if (!der_signature_is_strict(signature, size)) {
        return false;
    }
    return mbedtls_pk_verify(signing_key_context(), MBEDTLS_MD_SHA256, digest, DIGEST_LENGTH,
                             signature, size) == 0;
}

bool check_manifest_signature(const UpdateJob* job) {
    const FieldBuffer* verify = job->fields[FIELD_VERIFY];
    if (verify == nullptr || verify->count == 0) {
        return false;
    }
    uint8_t digest[DIGEST_LENGTH];
    if (!manifest_digest(job, digest)) {
        return false;
    }
    return verify_digest(field_text(verify), verify->count, digest);
}

bool check_file_signature(const UpdateJob* job, const uint8_t digest[DIGEST_LENGTH]) {
    const FieldBuffer* signature = job->fields[FIELD_SIGNATURE];
    if (signature == nullptr || signature->count == 0) {
        return false;
    }
    return verify_digest(field_text(signature), signature->count, digest);
}
