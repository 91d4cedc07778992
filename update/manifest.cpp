// Collecting the manifest's text and fetching it over HTTP.
#include "update/manifest.h"

#include <expat.h>
#include <stdlib.h>
#include <string.h>

#include "core/scratch.h"
#include "http/http.h"
#include "http/proxy_choice.h"
#include "update/build_config.h"

const ManifestField manifest_fields[MANIFEST_FIELD_COUNT] = {
    {"version", FIELD_VERSION, 0},
    {"displayname", FIELD_DISPLAYNAME, 0},
    {"displayversion", FIELD_DISPLAYVERSION, 0},
    {"url", FIELD_URL, 0},
    {"size", FIELD_SIZE, 0},
    {"sha256", FIELD_SHA256, 0},
    {"signature", FIELD_SIGNATURE, 0},
    {"changelog", FIELD_CHANGELOG, 0},
    {"forumlink", FIELD_FORUMLINK, 0},
    {"verify", FIELD_VERIFY, 1},
};

static const char MANIFEST_PATH[] = "/update/release/v1/corvanechat.xml";
// Reads are one byte short of the buffer: the client terminates each piece.
static const int32_t MANIFEST_READ_BUFFER = 1024;

static const char* host_override = nullptr;
static uint32_t fetch_time_limit_ms = MANIFEST_FETCH_TIME_LIMIT_MS;

void manifest_set_test_time_limit(uint32_t milliseconds) {
    fetch_time_limit_ms = milliseconds != 0 ? milliseconds : MANIFEST_FETCH_TIME_LIMIT_MS;
}

const char* field_text(const FieldBuffer* field) {
    return reinterpret_cast<const char*>(field) + sizeof(FieldBuffer);
}

bool job_create_fields(UpdateJob* job) {
    for (uint32_t i = 0; i < MANIFEST_FIELD_COUNT; i++) {
        if (job->fields[i] != nullptr) {
            continue;
        }
        FieldBuffer* field = static_cast<FieldBuffer*>(malloc(sizeof(FieldBuffer) + 1));
        if (field == nullptr) {
            return false;
        }
        field->count = 0;
        reinterpret_cast<char*>(field)[sizeof(FieldBuffer)] = '\0';
        job->fields[i] = field;
    }
    return true;
}

void job_free_fields(UpdateJob* job) {
    for (uint32_t i = 0; i < MANIFEST_FIELD_COUNT; i++) {
        free(job->fields[i]);
        job->fields[i] = nullptr;
    }
    // The text bound belongs to the buffers: a job may collect afresh.
    job->current_field = nullptr;
    job->collected = 0;
    job->collect_failed = 0;
}

bool field_append(UpdateJob* job, FieldBuffer** slot, const char* text, uint32_t n) {
    if (job->collect_failed) {
        return false;
    }
    if (n > MANIFEST_TEXT_LIMIT - job->collected) {
        job->collect_failed = 1;
        return false;
    }
    FieldBuffer* old = *slot;
    uint32_t count = old->count;
    // Exactly the bytes appended: one reallocation per delivered piece.
    FieldBuffer* grown =
        static_cast<FieldBuffer*>(realloc(old, sizeof(FieldBuffer) + count + n + 1));
    if (grown == nullptr) {
        job->collect_failed = 1;
        return false;
    }
    char* bytes = reinterpret_cast<char*>(grown) + sizeof(FieldBuffer);
    memcpy(bytes + count, text, n);
    bytes[count + n] = '\0';
    grown->count = count + n;
    *slot = grown;
    job->collected += n;
    return true;
}

void manifest_start_element(void* user_data, const char* name, const char** attributes) {
    UpdateJob* job = static_cast<UpdateJob*>(user_data);
    for (uint32_t i = 0; i < MANIFEST_FIELD_COUNT; i++) {
        if (strcmp(name, manifest_fields[i].element) == 0) {
            job->current_field = &job->fields[manifest_fields[i].field];
            return;
        }
    }
    // An unknown element leaves an enclosing known field collecting.
}

void manifest_end_element(void* user_data, const char* name) {
    static_cast<UpdateJob*>(user_data)->current_field = nullptr;
}

void manifest_text(void* user_data, const char* text, int length) {
    UpdateJob* job = static_cast<UpdateJob*>(user_data);
    if (job->current_field == nullptr || *job->current_field == nullptr || length <= 0) {
        return;
    }
    // A failure is kept in collect_failed and ends the parse after this piece.
    field_append(job, job->current_field, text, static_cast<uint32_t>(length));
}

struct ManifestParser {
    XML_Parser xml;
    UpdateJob* job;
    uint32_t fed;  // bytes of the document given to the parser so far
};

ManifestParser* manifest_parser_create(UpdateJob* job) {
    ManifestParser* parser = static_cast<ManifestParser*>(malloc(sizeof(ManifestParser)));
    if (parser == nullptr) {
        return nullptr;
    }
    parser->xml = XML_ParserCreate(nullptr);
    if (parser->xml == nullptr) {
        free(parser);
        return nullptr;
    }
    parser->job = job;
    parser->fed = 0;
    XML_SetUserData(parser->xml, job);
    XML_SetElementHandler(parser->xml, manifest_start_element, manifest_end_element);
    XML_SetCharacterDataHandler(parser->xml, manifest_text);
    return parser;
}

bool manifest_parser_feed(ManifestParser* parser, const char* bytes, uint32_t n, bool final) {
    if (parser->job->collect_failed) {
        return false;
    }
    // Checked before parsing: expat keeps an unfinished token whole, so the
    // bytes it holds can only be bounded by the bytes it is given.
    if (n > MANIFEST_BYTE_LIMIT - parser->fed) {
        parser->fed = MANIFEST_BYTE_LIMIT;
        return false;
    }
    parser->fed += n;
    if (XML_Parse(parser->xml, bytes, static_cast<int>(n), final ? 1 : 0) == XML_STATUS_ERROR) {
        return false;
    }
    return parser->job->collect_failed == 0;
}

void manifest_parser_free(ManifestParser* parser) {
    if (parser == nullptr) {
        return;
    }
    XML_ParserFree(parser->xml);
    free(parser);
}

const char* update_host(void) {
    return host_override != nullptr ? host_override : corvane_update_default_host;
}

void update_set_host_for_tests(const char* host) {
    host_override = host;
}

char* manifest_url(void) {
    const char* host = update_host();
    size_t length = strlen("https://") + strlen(host) + strlen(MANIFEST_PATH);
    if (length + 1 > static_cast<size_t>(HTTP_URL_CAPACITY)) {
        return nullptr;
    }
    char* url = scratch_alloc(length + 1);
    if (url == nullptr) {
        return nullptr;
    }
    strcpy(url, "https://");
    strcat(url, host);
    strcat(url, MANIFEST_PATH);
    return url;
}

// A GET for url on the request, then the response head; the request is the
// caller's to destroy either way.
static bool update_http_get(HttpRequest* request, const char* url) {
    // The user agent is a courtesy; a line that does not fit fails later.
    http_set_user_agent(request);
    return http_set_verb(request, HTTP_VERB_GET) == HTTP_OK &&
           http_send_request(request, url) == HTTP_OK && http_receive_headers(request) == HTTP_OK;
}

bool update_get_body(const char* url, uint32_t time_limit_ms, char* buffer, int32_t size,
                     UpdateBodySink sink, void* context) {
    bool result = false;
    HttpRequest* request = url != nullptr ? http_create() : nullptr;

    // The system's proxy, chosen once for this request before it connects;
    // a setting that cannot be used fails the fetch rather than going direct.
    if (request == nullptr || proxy_apply_system(request, url, nullptr) != PROXY_OK) {
        goto cleanup;
    }
    // One bound over every wait of the fetch, from the connection on.
    if (time_limit_ms != 0) {
        http_set_time_limit(request, time_limit_ms);
    }
    if (!update_http_get(request, url)) {
        goto cleanup;
    }
    // The status code is not looked at: whatever body arrives is used.
    for (;;) {
        int32_t count = 0;
        HttpResult read = http_read_body(request, buffer, size, &count);
        if (read != HTTP_OK && read != HTTP_END) {
            // Bytes of a broken read are not used: the later checks decide.
            // A fetch that ran out of time is refused outright.
            result = time_limit_ms == 0 || !http_time_limit_passed(request);
            break;
        }
        if (!sink(context, buffer, static_cast<uint32_t>(count), read == HTTP_END)) {
            break;
        }
        if (read == HTTP_END) {
            result = true;
            break;
        }
    }

cleanup:
    if (request != nullptr) {
        http_destroy(&request);
    }
    return result;
}

static bool manifest_take_piece(void* context, const char* bytes, uint32_t n, bool last) {
    return manifest_parser_feed(static_cast<ManifestParser*>(context), bytes, n, last);
}

bool manifest_fetch_fields(UpdateJob* job, const char* url) {
    char buffer[MANIFEST_READ_BUFFER];
    ManifestParser* parser = manifest_parser_create(job);
    bool result =
        parser != nullptr && update_get_body(url, fetch_time_limit_ms, buffer, MANIFEST_READ_BUFFER,
                                             manifest_take_piece, parser);
    manifest_parser_free(parser);
    return result;
}
