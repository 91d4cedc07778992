// libFuzzer harness: bytes through the manifest path in pieces, into the
// field buffers, the number readers and both signature checks.
//
// The first byte picks the piece size (1 to 256, or 1023 as the fetch
// reads), the rest is the document. A first byte of 0xFE makes the document
// long: there a NUL (never valid in XML) followed by bytes k and c stands
// for c repeated k * 8192 times, so a short input can carry a field past
// the text limit and a document past the byte cap.
//
// Each piece of text grows its field by one realloc, which under ASan
// copies the whole field. A long document therefore goes in 512 KiB
// pieces, uses only the first 256 bytes of the input, and repeats only
// letters and digits (the parser hands line ends, '>' and others to the
// field one at a time, so any other character stays single). All of this
// is cheap in the product and quadratic here.
#include <ctype.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "update/checks.h"
#include "update/manifest.h"
#include "update/signing_key.h"
#include "update/version.h"

namespace {

constexpr uint32_t kRepeatUnit = 8192;
constexpr uint32_t kLongInput = 256;
constexpr uint32_t kDocumentLimit = 2 * 1024 * 1024 + 64 * 1024;
constexpr uint32_t kLongPiece = 512 * 1024;
constexpr size_t kInputLimit = 64 * 1024;

// The digest of the nine signed fields of the signed seeds.
const uint8_t kSeedDigest[DIGEST_LENGTH] = {
    0xba, 0x8e, 0xdf, 0x8a, 0xb9, 0xdf, 0xf9, 0xa9, 0x6b, 0x87, 0xb8, 0x57, 0xb7, 0x45, 0xc7, 0x8f,
    0x14, 0xe5, 0xc8, 0x77, 0x96, 0x58, 0xc1, 0xbb, 0xa8, 0xff, 0x24, 0x1b, 0xda, 0xf8, 0x56, 0x83,
};

// The file digest the "sha256" field names, as the download would have it;
// zero where the text is not hexadecimal.
void hex_digest(const char* text, uint8_t digest[DIGEST_LENGTH]) {
    for (size_t i = 0; i < 2 * DIGEST_LENGTH && text[i] != 0; ++i) {
        char c = text[i];
        int value = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (value < 0) {
            return;
        }
        digest[i / 2] = static_cast<uint8_t>(digest[i / 2] << 4 | value);
    }
}

// Writes the expanded document into out; returns its length.
uint32_t expand(const uint8_t* data, uint32_t n, char* out) {
    uint32_t length = 0;
    for (uint32_t i = 0; i < n && length < kDocumentLimit; ++i) {
        if (data[i] != 0 || i + 2 >= n) {
            out[length++] = static_cast<char>(data[i]);
            continue;
        }
        uint32_t count = data[i + 1] * kRepeatUnit;
        if (!isalnum(data[i + 2])) {
            count = 1;
        }
        if (count > kDocumentLimit - length) {
            count = kDocumentLimit - length;
        }
        memset(out + length, data[i + 2], count);
        length += count;
        i += 2;
    }
    return length;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool key_loaded = false;
    if (!key_loaded) {
        load_signing_key();  // the development key signed the seeds
        key_loaded = true;
    }
    if (size == 0) {
        return 0;
    }
    if (size > kInputLimit) {
        return 0;
    }
    uint32_t piece = data[0] == 0xFF ? 1023 : static_cast<uint32_t>(data[0]) + 1;
    const char* text = reinterpret_cast<const char*>(data + 1);
    uint32_t n = static_cast<uint32_t>(size - 1);
    if (data[0] == 0xFE) {
        static char* expanded = static_cast<char*>(malloc(kDocumentLimit));
        if (expanded == nullptr) {
            abort();
        }
        n = expand(data + 1, n < kLongInput ? n : kLongInput, expanded);
        text = expanded;
        piece = kLongPiece;
    }

    UpdateJob job = {};
    if (!job_create_fields(&job)) {
        abort();
    }
    ManifestParser* parser = manifest_parser_create(&job);
    if (parser == nullptr) {
        abort();
    }
    bool parsed = true;
    uint32_t at = 0;
    for (;;) {
        uint32_t take = n - at < piece ? n - at : piece;
        bool final = at + take == n;
        parsed = manifest_parser_feed(parser, text + at, take, final);
        at += take;
        if (!parsed || final) {
            break;
        }
    }
    manifest_parser_free(parser);

    // Every field stays a counted, terminated text within the bound.
    uint64_t total = 0;
    for (uint32_t i = 0; i < MANIFEST_FIELD_COUNT; i++) {
        const FieldBuffer* field = job.fields[i];
        if (field_text(field)[field->count] != '\0') {
            abort();
        }
        total += field->count;
    }
    if (total > MANIFEST_TEXT_LIMIT || total != job.collected) {
        abort();
    }
    // A piece that passed the text limit or the byte cap fails the feed.
    if (parsed && (job.collect_failed || n > MANIFEST_BYTE_LIMIT)) {
        abort();
    }
    if (parsed) {
        parse_version(field_text(job.fields[FIELD_VERSION]), job.version);
        job.size = parse_size(field_text(job.fields[FIELD_SIZE]));
        (void)version_above_baseline(job.version);
        (void)download_percent(static_cast<uint32_t>(total), job.size, true);
        uint8_t digest[DIGEST_LENGTH];
        if (!manifest_digest(&job, digest)) {
            abort();
        }
        // A check through the key costs milliseconds, a parse microseconds:
        // only the seeds' digest (whose signatures are good, when their
        // texts differ from the last ones checked) and one digest in 256 of
        // the rest go the whole way; the others stop at the signature
        // texts, which the checks would decode first.
        static std::string checked;
        std::string texts = std::string(field_text(job.fields[FIELD_VERIFY])) + "\n" +
                            field_text(job.fields[FIELD_SIGNATURE]) + "\n" +
                            field_text(job.fields[FIELD_SHA256]);
        bool seed = memcmp(digest, kSeedDigest, DIGEST_LENGTH) == 0 && texts != checked;
        if (digest[0] == 0 || seed) {
            if (seed) {
                checked = texts;
            }
            (void)check_manifest_signature(&job);
            uint8_t file_digest[DIGEST_LENGTH] = {0};
            hex_digest(field_text(job.fields[FIELD_SHA256]), file_digest);
            (void)check_file_signature(&job, file_digest);
        } else {
            const uint32_t signatures[] = {FIELD_VERIFY, FIELD_SIGNATURE};
            for (uint32_t field : signatures) {
                const char* base64 = field_text(job.fields[field]);
                uint32_t count = job.fields[field]->count;
                uint8_t* der = base64_decode(base64, count);
                if (der != nullptr) {
                    (void)der_signature_is_strict(der, base64_decoded_size(base64, count));
                }
            }
        }
    }
    job_free_fields(&job);
    return 0;
}
