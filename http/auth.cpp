// Answering one 401 or 407 challenge: choosing the scheme, draining the
// challenge body, and the Basic header. Digest is in digest.cpp.
#include <stddef.h>
#include <string.h>

#include "core/text.h"
#include "http/base64.h"
#include "http/http_internal.h"

namespace {

constexpr int32_t HTTP_DRAIN_PIECE = 32;

struct SchemeWord {
    const char* word;
    int32_t scheme;
};

// Searched in this order; the first found decides.
const SchemeWord AUTH_SCHEME_WORDS[] = {
    {"basic", HTTP_AUTH_BASIC},
    {"digest", HTTP_AUTH_DIGEST},
    {"negotiate", HTTP_AUTH_NEGOTIATE},
};

struct BasicRow {
    int32_t status;
    const char* prefix;
    size_t user_offset;
    size_t password_offset;
};

const BasicRow AUTH_BASIC_ROWS[] = {
    {401, "Authorization: Basic ", offsetof(HttpRequest, user), offsetof(HttpRequest, password)},
    {407, "Proxy-Authorization: Basic ", offsetof(HttpRequest, proxy_user),
     offsetof(HttpRequest, proxy_password)},
};

// Reads and drops the challenge response's body so that the kept
// connection is positioned at the next response.
void drain_body(HttpRequest* request) {
    char sink[HTTP_DRAIN_PIECE];
    int32_t ask = HTTP_DRAIN_PIECE;
    uint32_t drained = 0;
    while (drained < request->content_length) {
        uint32_t left = request->content_length - drained;
        if (static_cast<uint32_t>(ask) > left) {
            ask = static_cast<int32_t>(left);
        }
        int32_t size = ask;
        if (http_receive_bytes(request, sink, &size) != HTTP_OK || size == 0) {
            return;
        }
        drained += static_cast<uint32_t>(size);
        ask = size;
    }
}

// One element of a challenge line: a bare word (a scheme name) or a
// parameter with its value (quotes removed, escapes left as they are).
struct ChallengeItem {
    HttpSpan name;
    bool has_value;
    HttpSpan value;
};

bool is_separator(char c) {
    return c == ' ' || c == '\t' || c == ',';
}

bool ends_token(char c) {
    return is_separator(c) || c == '=' || c == '"' || c == '\r' || c == '\n' || c == 0;
}

// Where the challenge's value starts: behind the header name's colon.
const char* challenge_start(HttpSpan challenge) {
    const char* end = challenge.data + challenge.length;
    const char* colon = static_cast<const char*>(
        memchr(challenge.data, ':', static_cast<size_t>(challenge.length)));
    return colon != nullptr ? colon + 1 : end;
}

// The next item at or after *at, inside the span only, so that names and
// words are matched as whole tokens and never inside a quoted value.
bool next_challenge_item(const char** at, const char* end, ChallengeItem* item) {
    const char* p = *at;
    for (;;) {
        while (p < end && is_separator(*p)) {
            ++p;
        }
        if (p >= end) {
            return false;
        }
        if (!ends_token(*p)) {
            break;
        }
        // A stray quoted text is passed over whole; a stray '=' or line
        // end carries no name.
        if (*p == '"') {
            ++p;
            while (p < end && *p != '"') {
                ++p;
            }
        }
        ++p;
    }
    const char* name = p;
    while (p < end && !ends_token(*p)) {
        ++p;
    }
    item->name = HttpSpan{name, static_cast<int32_t>(p - name)};
    item->has_value = false;
    item->value = HttpSpan{p, 0};
    const char* after = p;
    while (after < end && (*after == ' ' || *after == '\t')) {
        ++after;
    }
    if (after < end && *after == '=') {
        p = after + 1;
        while (p < end && (*p == ' ' || *p == '\t')) {
            ++p;
        }
        const char* start = p;
        if (p < end && *p == '"') {
            start = ++p;
            while (p < end && *p != '"' && *p != '\r' && *p != '\n') {
                if (*p == '\\' && p + 1 < end) {
                    ++p;
                }
                ++p;
            }
            item->value = HttpSpan{start, static_cast<int32_t>(p - start)};
            if (p < end && *p == '"') {
                ++p;
            }
        } else {
            while (p < end && !is_separator(*p) && *p != '\r' && *p != '\n') {
                ++p;
            }
            item->value = HttpSpan{start, static_cast<int32_t>(p - start)};
        }
        item->has_value = true;
    }
    *at = p;
    return true;
}

}  // namespace

bool http_challenge_names_scheme(HttpSpan challenge, const char* word) {
    if (challenge.data == nullptr || word == nullptr || word[0] == 0) {
        return false;
    }
    const char* end = challenge.data + challenge.length;
    ChallengeItem item;
    for (const char* at = challenge_start(challenge); next_challenge_item(&at, end, &item);) {
        if (!item.has_value &&
            text_span_equal_nocase(http_text(item.name), text_span(word), TEXT_FOLD_FROM_AT)) {
            return true;
        }
    }
    return false;
}

HttpResult http_pick_auth_scheme(HttpRequest* request) {
    if (request->force_basic) {
        return HTTP_OK;
    }
    const char* line = request->challenge.data;
    if (line == nullptr) {
        return HTTP_ERR_AUTH_SCHEME;
    }
    // The first row of the table that is a bare word of the line decides.
    request->auth_scheme = HTTP_AUTH_NONE;
    for (const SchemeWord& row : AUTH_SCHEME_WORDS) {
        if (http_challenge_names_scheme(request->challenge, row.word)) {
            request->auth_scheme = row.scheme;
            break;
        }
    }
    if (request->auth_scheme == HTTP_AUTH_NONE) {
        return HTTP_ERR_AUTH_SCHEME;
    }
    if (request->auth_scheme != request->wanted_scheme) {
        return HTTP_ERR_AUTH_MISMATCH;
    }
    return HTTP_OK;
}

HttpResult http_retry_with_auth(HttpRequest* request) {
    // A kept connection whose challenge body cannot be measured would leave
    // that body in front of the next response; such a connection is renewed.
    bool drainable = request->has_content_length && !(request->options & HTTP_OPTION_CHUNKED_BODY);
    bool kept = request->keep_alive && drainable;
    if (!kept) {
        http_close_connection(request);
        HttpResult result = http_connect(request);
        if (result != HTTP_OK) {
            return result;
        }
    }
    HttpResult result = http_pick_auth_scheme(request);
    if (result != HTTP_OK) {
        return result;
    }
    if (kept) {
        drain_body(request);
    }
    return http_write_request(request, request->verb);
}

HttpResult http_write_auth_header(HttpRequest* request) {
    if (request->force_basic) {
        return http_write_basic_auth(request);
    }
    switch (request->auth_scheme) {
        case HTTP_AUTH_BASIC:
            return http_write_basic_auth(request);
        case HTTP_AUTH_DIGEST:
            return http_write_digest_auth(request);
        case HTTP_AUTH_NEGOTIATE:
            return HTTP_ERR_NEGOTIATE;
        default:
            return HTTP_ERR_AUTH_SCHEME;
    }
}

// The Basic line of the row for status (401: server, 407: proxy
// credentials); 25 for any other status, nothing sent.
static HttpResult write_basic_for(HttpRequest* request, int32_t status) {
    const BasicRow* row = nullptr;
    for (const BasicRow& candidate : AUTH_BASIC_ROWS) {
        if (candidate.status == status) {
            row = &candidate;
        }
    }
    if (row == nullptr) {
        return HTTP_ERR_AUTH_SCHEME;
    }

    const char* base = reinterpret_cast<const char*>(request);
    const char* user = base + row->user_offset;
    const char* password = base + row->password_offset;
    // Both texts are terminated within their 16-byte fields, so this fits.
    char text[HTTP_BASIC_TEXT_CAPACITY];
    size_t user_length = strnlen(user, HTTP_CREDENTIAL_CAPACITY - 1);
    size_t password_length = strnlen(password, HTTP_CREDENTIAL_CAPACITY - 1);
    memcpy(text, user, user_length);
    text[user_length] = ':';
    memcpy(text + user_length + 1, password, password_length);
    size_t length = user_length + 1 + password_length;
    char coded[HTTP_BASIC_CODED_CAPACITY];
    if (http_base64_encode(coded, sizeof(coded), text, length) == 0) {
        return HTTP_ERR_NO_ROOM;
    }

    HttpResult result =
        http_send_all(request, row->prefix, static_cast<int32_t>(strlen(row->prefix)));
    if (result == HTTP_OK) {
        result = http_send_all(request, coded, static_cast<int32_t>(strlen(coded)));
    }
    if (result == HTTP_OK) {
        result = http_send_all(request, "\r\n", 2);
    }
    return result;
}

HttpResult http_write_basic_auth(HttpRequest* request) {
    return write_basic_for(request, request->status);
}

HttpResult http_write_proxy_basic_auth(HttpRequest* request) {
    return write_basic_for(request, 407);
}

HttpResult http_challenge_param(const char* name, HttpSpan challenge, HttpSpan* value) {
    if (challenge.data == nullptr || name == nullptr || name[0] == 0) {
        return HTTP_ERR_DIGEST_PARAM;
    }
    const char* end = challenge.data + challenge.length;
    ChallengeItem item;
    for (const char* at = challenge_start(challenge); next_challenge_item(&at, end, &item);) {
        if (item.has_value &&
            text_span_equal_nocase(http_text(item.name), text_span(name), TEXT_FOLD_FROM_AT)) {
            *value = item.value;
            return HTTP_OK;
        }
    }
    return HTTP_ERR_DIGEST_PARAM;
}
