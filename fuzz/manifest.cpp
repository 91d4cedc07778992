// libFuzzer harness: bytes through the manifest path in pieces, into the
// field buffers, the number readers and both signature checks.
//
// The first byte picks the piece size (1 to 256, or 1023 as the fetch
// reads), the rest is the document.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include "update/checks.h"
#include "update/manifest.h"
#include "update/signing_key.h"
#include "update/version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool key_loaded = false;
    if (!key_loaded) {
        load_signing_key();  // the development key signed the seeds
        key_loaded = true;
    }
    if (size == 0) {
        return 0;
    }
    uint32_t piece = data[0] == 0xFF ? 1023 : static_cast<uint32_t>(data[0]) + 1;
    const char* text = reinterpret_cast<const char*>(data + 1);
    uint32_t n = static_cast<uint32_t>(size - 1);

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
    if (total > MANIFEST_TEXT_LIMIT) {
        abort();
    }
    if (parsed) {
        parse_version(field_text(job.fields[FIELD_VERSION]), job.version);
        job.size = parse_size(field_text(job.fields[FIELD_SIZE]));
        (void)version_above_baseline(job.version);
        (void)download_percent(static_cast<uint32_t>(total), job.size, true);
        bool manifest_ok = check_manifest_signature(&job);
        uint8_t digest[DIGEST_LENGTH] = {0};
        bool file_ok = check_file_signature(&job, digest);
        (void)manifest_ok;
        (void)file_ok;
    }
    job_free_fields(&job);
    return 0;
}
