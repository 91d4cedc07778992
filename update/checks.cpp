// Strict DER and the ECDSA checks against the signing key.
#include "update/checks.h"

#include <mbedtls/md.h>
#include <mbedtls/pk.h>

#include "http/base64.h"
#include "update/manifest.h"
#include "update/signing_key.h"

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
