// Keys, signatures and manifest documents for the release tool.
#include "tools/release.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <mbedtls/ctr_drbg.h>
#include <mbedtls/ecp.h>
#include <mbedtls/entropy.h>
#include <mbedtls/md.h>

#include "core/path.h"
#include "http/base64.h"
#include "platform/platform.h"
#include "update/signing_key.h"

static const char RNG_PERSONALISATION[] = "corvane-release";

// Entropy and a seeded generator; both contexts are initialised before any
// can fail, so release_rng_free is always safe.
struct ReleaseRng {
    mbedtls_entropy_context entropy;
    mbedtls_ctr_drbg_context drbg;
};

static bool release_rng_init(ReleaseRng* rng) {
    mbedtls_entropy_init(&rng->entropy);
    mbedtls_ctr_drbg_init(&rng->drbg);
    return mbedtls_ctr_drbg_seed(&rng->drbg, mbedtls_entropy_func, &rng->entropy,
                                 reinterpret_cast<const uint8_t*>(RNG_PERSONALISATION),
                                 sizeof(RNG_PERSONALISATION) - 1) == 0;
}

static void release_rng_free(ReleaseRng* rng) {
    mbedtls_ctr_drbg_free(&rng->drbg);
    mbedtls_entropy_free(&rng->entropy);
}

static bool fail(ReleaseProblem* problem, const char* path, const std::string& what) {
    if (problem != nullptr) {
        *problem = std::string(path[0] != '\0' ? path : "\"\"") + ": " + what;
    }
    return false;
}

// The message for a path release_long_path cannot convert.
static bool fail_unusable(ReleaseProblem* problem, const char* path) {
    return fail(problem, path, path[0] == '\0' ? "the path is empty" : "not a usable path");
}

// The layer's long form (a scratch string) of a path as the command line
// gave it, relative ones against the current folder; null when it cannot
// be converted or is empty (which would name the current folder).
static wchar_t* release_long_path(const char* path) {
    int n = path[0] != '\0' ? platform_utf8_to_wide(path, nullptr, 0) : 0;
    if (n <= 0) {
        return nullptr;
    }
    wchar_t* wide = static_cast<wchar_t*>(malloc((size_t)n * sizeof(wchar_t)));
    if (wide == nullptr) {
        return nullptr;
    }
    wchar_t* long_path = nullptr;
    if (platform_utf8_to_wide(path, wide, n) == n) {
        const char* internal = path_from_wide(wide);
        long_path = internal != nullptr ? path_to_long_wide(internal) : nullptr;
    }
    free(wide);
    return long_path;
}

// Creates one half of a new key pair in a single step that fails when the
// path is taken, so an existing key is never overwritten, even by a file
// that appears meanwhile.
static PlatformFile* create_key_file(const char* path, const wchar_t* long_path, bool secret,
                                     ReleaseProblem* problem) {
    if (long_path == nullptr) {
        fail_unusable(problem, path);
        return nullptr;
    }
    PlatformFile* file = platform_file_create_new(long_path, secret);
    if (file == nullptr) {
        // Only the message depends on this look; the refusal does not.
        fail(problem, path,
             platform_path_kind(long_path) != PLATFORM_PATH_NONE
                 ? "already exists; refusing to overwrite a key"
                 : "cannot be created");
    }
    return file;
}

static bool write_key_file(PlatformFile* file, const char* path, const void* data, uint32_t n,
                           ReleaseProblem* problem) {
    if (platform_file_write(file, data, n)) {
        return true;
    }
    return fail(problem, path, "write error");
}

bool release_read_file(const char* path, std::string* content, ReleaseProblem* problem) {
    FILE* f = fopen(path, "rb");
    if (f == nullptr) {
        return fail(problem, path, "cannot be opened (missing or unreadable)");
    }
    std::string data;
    char buffer[65536];
    size_t n = 0;
    // Stops one piece past the limit, so an endless stream ends too.
    while (data.size() <= RELEASE_READ_LIMIT && (n = fread(buffer, 1, sizeof(buffer), f)) > 0) {
        data.append(buffer, n);
    }
    bool ok = ferror(f) == 0;
    fclose(f);
    if (!ok) {
        return fail(problem, path, "read error");
    }
    if (data.size() > RELEASE_READ_LIMIT) {
        return fail(
            problem, path,
            "more than " + std::to_string(RELEASE_READ_LIMIT) + " bytes; not a key or manifest");
    }
    *content = std::move(data);
    return true;
}

// The long path of an output into *target. False, with *problem set, when
// the name cannot be used or something other than a regular file is there;
// else *exists tells whether a file is there and *facts holds its identity.
static bool usable_output(const char* out, std::wstring* target, PlatformFileFacts* facts,
                          bool* exists, ReleaseProblem* problem) {
    const wchar_t* long_path = release_long_path(out);
    if (long_path == nullptr) {
        return fail_unusable(problem, out);
    }
    *target = long_path;
    *exists = platform_file_facts(long_path, facts);
    if (*exists ? !facts->regular : platform_path_kind(long_path) != PLATFORM_PATH_NONE) {
        return fail(problem, out, "exists and is not a regular file; refusing to replace it");
    }
    return true;
}

bool release_check_output(const char* out, const char* const* inputs, uint32_t count,
                          ReleaseProblem* problem) {
    std::wstring target;
    PlatformFileFacts facts;
    bool exists = false;
    if (!usable_output(out, &target, &facts, &exists, problem)) {
        return false;
    }
    // By identity, not name: a link or another spelling names the file too.
    for (uint32_t i = 0; exists && i < count; i++) {
        const wchar_t* input_long = release_long_path(inputs[i]);
        PlatformFileFacts input;
        if (input_long != nullptr && platform_file_facts(input_long, &input) &&
            input.volume == facts.volume && input.index == facts.index) {
            return fail(problem, out,
                        std::string("is the same file as ") + inputs[i] +
                            "; refusing to overwrite an input");
        }
    }
    return true;
}

bool release_write_file(const char* path, const std::string& content, ReleaseProblem* problem) {
    std::wstring target;
    PlatformFileFacts facts;
    bool exists = false;
    if (!usable_output(path, &target, &facts, &exists, problem)) {
        return false;
    }
    // The first free name beside the target; one left by a crashed run is
    // skipped, not reused.
    std::wstring temporary;
    PlatformFile* file = nullptr;
    for (uint32_t n = 0; file == nullptr && n < 100; n++) {
        temporary = target + L"." + std::to_wstring(n) + L".tmp";
        file = platform_file_create_new(temporary.c_str(), false);
        if (file == nullptr && platform_path_kind(temporary.c_str()) == PLATFORM_PATH_NONE) {
            break;
        }
    }
    if (file == nullptr) {
        return fail(problem, path, "cannot be created");
    }
    bool result = true;
    const size_t piece = 1 << 20;
    for (size_t at = 0; result && at < content.size(); at += piece) {
        size_t n = content.size() - at < piece ? content.size() - at : piece;
        result = platform_file_write(file, content.data() + at, static_cast<uint32_t>(n));
    }
    // On the disk before the rename, so a power cut cannot leave the name
    // on a partial file.
    result = result && platform_file_persist(file);
    platform_file_close(file);
    result = result && platform_replace_file(temporary.c_str(), target.c_str());
    if (!result) {
        platform_delete_file(temporary.c_str());
        fail(problem, path, "write error; left as it was");
    }
    return result;
}

bool release_public_der(mbedtls_pk_context* key, uint8_t out[88]) {
    uint8_t buffer[200];
    // Mbed TLS writes DER backwards, at the end of the buffer.
    int n = mbedtls_pk_write_pubkey_der(key, buffer, sizeof(buffer));
    if (n != static_cast<int>(SIGNING_KEY_LENGTH)) {
        return false;
    }
    memcpy(out, buffer + sizeof(buffer) - SIGNING_KEY_LENGTH, SIGNING_KEY_LENGTH);
    return true;
}

bool release_keygen(const char* private_pem, const char* public_der, ReleaseProblem* problem) {
    const wchar_t* private_long = release_long_path(private_pem);
    const wchar_t* public_long = release_long_path(public_der);
    // Both files exist, empty, before any key material does; the private one
    // is readable by its owner alone from the moment it is made.
    PlatformFile* private_file = create_key_file(private_pem, private_long, true, problem);
    PlatformFile* public_file = private_file != nullptr
                                    ? create_key_file(public_der, public_long, false, problem)
                                    : nullptr;
    bool result = false;
    ReleaseRng rng;
    mbedtls_pk_context key;
    uint8_t pem[1024];
    uint8_t der[SIGNING_KEY_LENGTH];
    bool seeded = release_rng_init(&rng);
    mbedtls_pk_init(&key);
    memset(pem, 0, sizeof(pem));

    if (public_file == nullptr) {
        goto cleanup;
    }
    if (!seeded) {
        fail(problem, private_pem, "no random source for the key");
        goto cleanup;
    }
    if (mbedtls_pk_setup(&key, mbedtls_pk_info_from_type(MBEDTLS_PK_ECKEY)) != 0 ||
        mbedtls_ecp_gen_key(MBEDTLS_ECP_DP_SECP256K1, mbedtls_pk_ec(key), mbedtls_ctr_drbg_random,
                            &rng.drbg) != 0) {
        fail(problem, private_pem, "key generation failed");
        goto cleanup;
    }
    if (mbedtls_pk_write_key_pem(&key, pem, sizeof(pem)) != 0 || !release_public_der(&key, der)) {
        fail(problem, private_pem, "key encoding failed");
        goto cleanup;
    }
    result = write_key_file(private_file, private_pem, pem,
                            (uint32_t)strlen(reinterpret_cast<const char*>(pem)), problem) &&
             write_key_file(public_file, public_der, der, sizeof(der), problem);

cleanup:
    mbedtls_platform_zeroize(pem, sizeof(pem));
    mbedtls_pk_free(&key);
    release_rng_free(&rng);
    if (public_file != nullptr) {
        platform_file_close(public_file);
    }
    if (private_file != nullptr) {
        platform_file_close(private_file);
    }
    // Half a key pair is no key pair: what this call made goes again.
    if (!result && public_file != nullptr) {
        platform_delete_file(public_long);
    }
    if (!result && private_file != nullptr) {
        platform_delete_file(private_long);
    }
    return result;
}

bool release_load_private_key(const char* path, mbedtls_pk_context* key, ReleaseProblem* problem) {
    std::string data;
    if (!release_read_file(path, &data, problem)) {
        return false;
    }
    // The parser blinds its checks of a private key with random numbers.
    ReleaseRng rng;
    int parsed = -1;
    if (release_rng_init(&rng)) {
        // PEM is parsed only with its terminating NUL counted.
        size_t length = data.size() + 1;
        parsed = mbedtls_pk_parse_key(key, reinterpret_cast<const uint8_t*>(data.c_str()), length,
                                      nullptr, 0, mbedtls_ctr_drbg_random, &rng.drbg);
        if (parsed != 0) {
            parsed =
                mbedtls_pk_parse_key(key, reinterpret_cast<const uint8_t*>(data.data()),
                                     data.size(), nullptr, 0, mbedtls_ctr_drbg_random, &rng.drbg);
        }
    }
    release_rng_free(&rng);
    mbedtls_platform_zeroize(&data[0], data.size());
    if (parsed != 0) {
        mbedtls_pk_free(key);
        mbedtls_pk_init(key);
        return fail(problem, path, "not a private key (PEM or DER)");
    }
    const char* wrong = signing_key_kind_problem(key);
    if (wrong != nullptr) {
        mbedtls_pk_free(key);
        mbedtls_pk_init(key);
        return fail(problem, path, wrong);
    }
    return true;
}

bool release_hash_file(const char* path, uint8_t digest[DIGEST_LENGTH], uint64_t* size,
                       ReleaseProblem* problem) {
    return release_hash_file_within(path, RELEASE_FILE_LIMIT, digest, size, problem);
}

bool release_hash_file_within(const char* path, uint64_t limit, uint8_t digest[DIGEST_LENGTH],
                              uint64_t* size, ReleaseProblem* problem) {
    FILE* f = fopen(path, "rb");
    if (f == nullptr) {
        return fail(problem, path, "cannot be opened (missing or unreadable)");
    }
    bool result = false;
    uint64_t total = 0;
    char buffer[1 << 16];
    mbedtls_md_context_t md;
    mbedtls_md_init(&md);
    if (mbedtls_md_setup(&md, mbedtls_md_info_from_type(MBEDTLS_MD_SHA256), 0) == 0 &&
        mbedtls_md_starts(&md) == 0) {
        size_t n = 0;
        bool ok = true;
        // Stops at the first piece past the limit: an endless stream ends.
        while (ok && total <= limit && (n = fread(buffer, 1, sizeof(buffer), f)) > 0) {
            ok = mbedtls_md_update(&md, reinterpret_cast<uint8_t*>(buffer), n) == 0;
            total += n;
        }
        uint8_t out[DIGEST_LENGTH];
        result = ok && total <= limit && ferror(f) == 0 && mbedtls_md_finish(&md, out) == 0;
        if (result) {
            memcpy(digest, out, DIGEST_LENGTH);
        }
    }
    mbedtls_md_free(&md);
    fclose(f);
    if (!result) {
        return fail(problem, path,
                    total > limit ? "more than " + std::to_string(limit) +
                                        " bytes, which the manifest's size field cannot hold"
                                  : std::string("read error"));
    }
    *size = total;
    return true;
}

bool release_sign_digest(mbedtls_pk_context* key, const uint8_t digest[DIGEST_LENGTH],
                         std::string* base64) {
    bool result = false;
    ReleaseRng rng;
    uint8_t signature[MBEDTLS_PK_SIGNATURE_MAX_SIZE];
    size_t length = 0;
    char text[2 * MBEDTLS_PK_SIGNATURE_MAX_SIZE];
    if (release_rng_init(&rng) &&
        mbedtls_pk_sign(key, MBEDTLS_MD_SHA256, digest, DIGEST_LENGTH, signature, sizeof(signature),
                        &length, mbedtls_ctr_drbg_random, &rng.drbg) == 0 &&
        http_base64_encode(text, sizeof(text), signature, length) > 0) {
        *base64 = text;
        result = true;
    }
    release_rng_free(&rng);
    return result;
}

std::string release_hex(const uint8_t* bytes, uint32_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint32_t i = 0; i < n; i++) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

// Appends text escaped for element content. False for bytes XML 1.0 cannot
// carry at all (control characters other than tab, line feed and carriage
// return); invalid UTF-8 is left to the parser to refuse.
static bool append_escaped(std::string* out, const std::string& text) {
    for (unsigned char c : text) {
        switch (c) {
            case '&':
                *out += "&amp;";
                break;
            case '<':
                *out += "&lt;";
                break;
            case '>':
                *out += "&gt;";
                break;
            case '\r':
                *out += "&#13;";
                break;
            default:
                if (c < 0x20 && c != '\t' && c != '\n') {
                    return false;
                }
                *out += static_cast<char>(c);
        }
    }
    return true;
}

bool release_manifest_xml(const ReleaseFields& fields, std::string* xml, ReleaseProblem* problem) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<corvanechat>\n";
    for (uint32_t i = 0; i < MANIFEST_FIELD_COUNT; i++) {
        const ManifestField& row = manifest_fields[i];
        if (!fields.present[row.field]) {
            continue;
        }
        out += "  <";
        out += row.element;
        out += ">";
        if (!append_escaped(&out, fields.text[row.field])) {
            return fail(problem, row.element, "holds a control character XML cannot carry");
        }
        out += "</";
        out += row.element;
        out += ">\n";
    }
    out += "</corvanechat>\n";
    *xml = std::move(out);
    return true;
}

bool release_parse_manifest(const std::string& xml, UpdateJob* job) {
    if (!job_create_fields(job)) {
        return false;
    }
    ManifestParser* parser = manifest_parser_create(job);
    if (parser == nullptr) {
        return false;
    }
    bool ok = true;
    const uint32_t piece = 1023;
    size_t at = 0;
    do {
        uint32_t n = static_cast<uint32_t>(xml.size() - at < piece ? xml.size() - at : piece);
        bool final = at + n == xml.size();
        ok = manifest_parser_feed(parser, xml.data() + at, n, final);
        at += n;
        if (final) {
            break;
        }
    } while (ok);
    manifest_parser_free(parser);
    return ok;
}

bool release_sign_manifest(mbedtls_pk_context* key, ReleaseFields* fields,
                           ReleaseProblem* problem) {
    ReleaseFields unsigned_fields = *fields;
    unsigned_fields.present[FIELD_VERIFY] = false;
    unsigned_fields.text[FIELD_VERIFY].clear();
    std::string xml;
    if (!release_manifest_xml(unsigned_fields, &xml, problem)) {
        return false;
    }
    UpdateJob job = {};
    uint8_t digest[DIGEST_LENGTH];
    bool ok = release_parse_manifest(xml, &job) && manifest_digest(&job, digest);
    job_free_fields(&job);
    if (!ok) {
        return fail(problem, "manifest", "the texts do not parse as XML (invalid UTF-8?)");
    }
    std::string verify;
    if (!release_sign_digest(key, digest, &verify)) {
        return fail(problem, "manifest", "signing failed");
    }
    fields->present[FIELD_VERIFY] = true;
    fields->text[FIELD_VERIFY] = verify;
    return true;
}
