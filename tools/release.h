// The maintainers' side of the signature scheme: key pairs, file and
// manifest signatures. Manifests are read back through the tool's own
// parser, so what is signed is exactly what the tool will check.
#pragma once

#include <stdint.h>

#include <string>

#include <mbedtls/pk.h>

#include "update/checks.h"
#include "update/manifest.h"

// The texts of the ten elements, in table order; an absent one is left out
// of the document.
struct ReleaseFields {
    bool present[MANIFEST_FIELD_COUNT];
    std::string text[MANIFEST_FIELD_COUNT];
};

// Every failure gives a one-line message naming the file and the problem.
typedef std::string ReleaseProblem;

// Writes a new secp256k1 key pair: the private half as PEM, the public half
// as the 88-byte DER the build takes. Refuses to overwrite either file; on
// false neither file has been written (a half written first is removed).
bool release_keygen(const char* private_pem, const char* public_der, ReleaseProblem* problem);

// Loads a private secp256k1 key (PEM or DER) into key, which the caller has
// initialised and frees. On false key is left empty.
bool release_load_private_key(const char* path, mbedtls_pk_context* key, ReleaseProblem* problem);

// The 88-byte DER public half of a loaded key. False when it does not have
// that form (out untouched).
bool release_public_der(mbedtls_pk_context* key, uint8_t out[88]);

// The largest program file: the manifest's size field holds no more.
constexpr uint64_t RELEASE_FILE_LIMIT = 0x7fffffff;

// SHA-256 and byte count of a file; both untouched on false. A file, or an
// endless stream, is refused as soon as the read passes limit bytes.
bool release_hash_file_within(const char* path, uint64_t limit, uint8_t digest[DIGEST_LENGTH],
                              uint64_t* size, ReleaseProblem* problem);
// The same within RELEASE_FILE_LIMIT.
bool release_hash_file(const char* path, uint8_t digest[DIGEST_LENGTH], uint64_t* size,
                       ReleaseProblem* problem);

// Base64 of the DER signature over digest; *base64 untouched on false.
bool release_sign_digest(mbedtls_pk_context* key, const uint8_t digest[DIGEST_LENGTH],
                         std::string* base64);

// Lower-case hex of a digest.
std::string release_hex(const uint8_t* bytes, uint32_t n);

// The manifest document for fields: XML declaration, a root element, the
// present elements in table order with their text escaped (a carriage
// return as a character reference, so the parser keeps it). False when a
// text holds what XML cannot carry (control characters, invalid UTF-8);
// *problem names the element.
bool release_manifest_xml(const ReleaseFields& fields, std::string* xml, ReleaseProblem* problem);

// Parses a manifest document in 1023-byte pieces, as the fetch does, into
// job (whose buffers are created here; the caller frees them). False on
// malformed XML.
bool release_parse_manifest(const std::string& xml, UpdateJob* job);

// Sets "verify" to the signature over the nine signed texts as the parser
// delivers them from release_manifest_xml's document.
bool release_sign_manifest(mbedtls_pk_context* key, ReleaseFields* fields, ReleaseProblem* problem);

// Keys and manifest documents are refused past what the tool takes.
constexpr uint64_t RELEASE_READ_LIMIT = MANIFEST_BYTE_LIMIT;

// Whole files (at most RELEASE_READ_LIMIT bytes) through the C library (a
// maintainer's tool, not the product).
bool release_read_file(const char* path, std::string* content, ReleaseProblem* problem);

// False, with *problem naming out, when out may not be written: something
// other than a regular file is there (a folder, a device), or the same file
// as one of the inputs under any name. A new name is fine.
bool release_check_output(const char* out, const char* const* inputs, uint32_t count,
                          ReleaseProblem* problem);

// Writes content to a new file beside path and renames it over path once
// all of it is on the disk. On false path is as it was and the new file is
// gone; something other than a regular file at path is refused.
bool release_write_file(const char* path, const std::string& content, ReleaseProblem* problem);
