// The update manifest: ten known elements whose text is collected, piece by
// piece as the XML parser delivers it, into the field buffers of one
// UpdateJob.
#pragma once

#include <stdint.h>

struct StatusEntry;

constexpr uint32_t MANIFEST_FIELD_COUNT = 10;

// Rows of the field table; the order is part of the signature format.
enum ManifestFieldIndex : uint32_t {
    FIELD_VERSION = 0,
    FIELD_DISPLAYNAME = 1,
    FIELD_DISPLAYVERSION = 2,
    FIELD_URL = 3,
    FIELD_SIZE = 4,
    FIELD_SHA256 = 5,
    FIELD_SIGNATURE = 6,
    FIELD_CHANGELOG = 7,
    FIELD_FORUMLINK = 8,
    FIELD_VERIFY = 9,
};

struct ManifestField {
    const char* element;         // compared byte for byte, whole name
    uint32_t field;              // index into UpdateJob::fields
    uint8_t excluded_from_hash;  // 1: not part of the manifest digest
};

extern const ManifestField manifest_fields[MANIFEST_FIELD_COUNT];

// One heap block: the byte count, then count bytes of text, then a NUL that
// the count does not include. Read the text through field_text.
struct FieldBuffer {
    uint32_t count;
};

// All the collected text of one manifest together may not pass this; the
// fetch then fails as malformed XML does.
constexpr uint32_t MANIFEST_TEXT_LIMIT = 1024 * 1024;

// Bytes of one manifest document the parser is given at most: a body that
// goes on past it (an endless comment, one huge name) fails as malformed
// XML, before the parser's buffer can grow further.
constexpr uint32_t MANIFEST_BYTE_LIMIT = 2 * 1024 * 1024;

// The whole manifest fetch (connect, head, body) ends by this time; a server
// that is slower fails the fetch as malformed XML does.
constexpr uint32_t MANIFEST_FETCH_TIME_LIMIT_MS = 120000;

// The record of one update cycle, zero-filled at its start.
struct UpdateJob {
    int32_t version[4];
    StatusEntry* status;
    char* staged_path;  // owned; set once the download passed its checks
    int32_t size;
    FieldBuffer** current_field;  // slot in fields receiving text, or null
    FieldBuffer* fields[MANIFEST_FIELD_COUNT];
    uint32_t collected;      // bytes appended to all fields together
    uint8_t collect_failed;  // the limit was passed or memory ran out
};

// The text of a field (NUL-terminated; count bytes are significant).
const char* field_text(const FieldBuffer* field);

// Creates the ten empty buffers. False when memory runs out; buffers made
// so far stay in the job for job_free_fields.
bool job_create_fields(UpdateJob* job);
// Frees the buffers (null slots are skipped), clears the slots and the
// collection state.
void job_free_fields(UpdateJob* job);

// Appends n bytes to the field in slot. False, with the buffer unchanged and
// collect_failed set, when the total would pass MANIFEST_TEXT_LIMIT or the
// block cannot grow.
bool field_append(UpdateJob* job, FieldBuffer** slot, const char* text, uint32_t n);

// The parser callbacks; user_data is the UpdateJob.
void manifest_start_element(void* user_data, const char* name, const char** attributes);
void manifest_end_element(void* user_data, const char* name);
void manifest_text(void* user_data, const char* text, int length);

// A stream parser feeding one job. Null when it cannot be created.
struct ManifestParser;
ManifestParser* manifest_parser_create(UpdateJob* job);
// Parses the next piece (final on the last one). False on malformed XML,
// when collecting failed or when the document passes MANIFEST_BYTE_LIMIT;
// the job keeps what was collected so far.
bool manifest_parser_feed(ManifestParser* parser, const char* bytes, uint32_t n, bool final);
void manifest_parser_free(ManifestParser* parser);

// "https://" + host + "/update/release/v1/corvanechat.xml" for the built-in
// host (or the one set for tests), as a scratch string; null when it does
// not fit a request URL.
char* manifest_url(void);

// The built-in update host, or the one a test or the release tool set.
const char* update_host(void);
// Replaces the host for the rest of the process (tests, tools); null
// restores the built-in one. The text must outlive its use.
void update_set_host_for_tests(const char* host);

// Takes each piece of a body as it arrives; last is set with the body's
// final piece. False stops the reading and fails the fetch.
typedef bool (*UpdateBodySink)(void* context, const char* bytes, uint32_t n, bool last);

// The one GET-and-read loop of the manifest and the download: sends a GET
// for url (through the system's proxy for url, if one is set), reads the
// head and hands the body to sink through buffer (the client fills one byte
// less than size per read). time_limit_ms, when not 0, bounds the whole
// fetch. True when the body ended, by its end or by a broken read that is
// not the time limit running out (the bytes of that read are dropped and
// later checks judge what arrived); false when the request could not be
// made (a proxy setting that cannot be used included), the head did not
// arrive, the time ran out or sink refused a piece.
bool update_get_body(const char* url, uint32_t time_limit_ms, char* buffer, int32_t size,
                     UpdateBodySink sink, void* context);

// Fetches url and feeds its body through the parser. True when the request
// was sent, the response head arrived and no piece was malformed; a read
// error mid-body ends the loop and still counts as true, leaving the
// signature check to judge what arrived. Past MANIFEST_FETCH_TIME_LIMIT_MS
// the result is false.
bool manifest_fetch_fields(UpdateJob* job, const char* url);

// Tests only: replaces the fetch's time limit; 0 restores the built-in one.
void manifest_set_test_time_limit(uint32_t milliseconds);
