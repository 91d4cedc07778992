// The one header buffer: request lines first, the response block directly
// behind them, zero after both. The last byte always stays 0, so both blocks
// read as terminated text; a line that does not fit is refused, never cut.
#include <string.h>

#include "core/text.h"
#include "http/http_internal.h"

namespace {

inline bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

// Moves the response block (and spans into it) by delta bytes.
void shift_response(HttpRequest* request, int32_t delta) {
    if (request->response_headers == nullptr) {
        return;
    }
    char* block = request->response_headers;
    char* end = block + request->response_headers_length;
    if (request->challenge.data >= block && request->challenge.data < end) {
        request->challenge.data += delta;
    }
    request->response_headers += delta;
}

}  // namespace

HttpResult http_add_header(HttpRequest* request, const char* name, int32_t name_length,
                           const char* value, int32_t value_length) {
    if (request == nullptr) {
        return HTTP_ERR_NULL_REQUEST;
    }
    if (name_length < 0 || value_length < 0) {
        return HTTP_ERR_NO_ROOM;
    }
    int64_t line = static_cast<int64_t>(name_length) + value_length + 4;
    if (request->request_headers_length + request->response_headers_length + line >
        HTTP_HEADERS_USABLE) {
        return HTTP_ERR_NO_ROOM;
    }
    int32_t length = static_cast<int32_t>(line);
    char* at = request->headers + request->request_headers_length;
    if (request->response_headers != nullptr) {
        memmove(at + length, at, static_cast<size_t>(request->response_headers_length));
        shift_response(request, length);
    }
    memcpy(at, name, static_cast<size_t>(name_length));
    at += name_length;
    memcpy(at, ": ", 2);
    at += 2;
    memcpy(at, value, static_cast<size_t>(value_length));
    at += value_length;
    memcpy(at, "\r\n", 2);
    request->request_headers_length += length;
    return HTTP_OK;
}

HttpResult http_find_header(const HttpRequest* request, const char* name, HttpSpan* span,
                            int32_t block, int32_t start_offset) {
    size_t name_length = strlen(name);
    if (name_length > static_cast<size_t>(HTTP_HEADER_NAME_MAX)) {
        return HTTP_ERR_NAME_TOO_LONG;
    }
    char pattern[HTTP_HEADERS_CAPACITY];
    pattern[0] = '\r';
    pattern[1] = '\n';
    memcpy(pattern + 2, name, name_length);
    pattern[name_length + 2] = ':';
    pattern[name_length + 3] = 0;

    const char* start;
    int32_t length;
    if (block == HTTP_BLOCK_REQUEST) {
        start = request->headers;
        length = request->request_headers_length;
    } else {
        start = request->response_headers;
        length = request->response_headers_length;
    }
    if (start == nullptr || start_offset < 0 || start_offset >= length) {
        return HTTP_ERR_NO_HEADER;
    }
    const char* match = text_find_nocase(start + start_offset, length, pattern, TEXT_FOLD_FROM_AT);
    // The buffer runs on into the next block; a line there is not this
    // block's line.
    if (match == nullptr || match >= start + length) {
        return HTTP_ERR_NO_HEADER;
    }
    const char* end = strstr(match + 2, "\r\n");
    if (end == nullptr || end > start + length) {
        return HTTP_ERR_NO_HEADER;
    }
    span->data = match;
    span->length = static_cast<int32_t>(end - match);
    return HTTP_OK;
}

HttpResult http_remove_header(HttpRequest* request, const char* name) {
    if (request == nullptr) {
        return HTTP_ERR_NULL_REQUEST;
    }
    HttpSpan span;
    HttpResult result = http_find_header(request, name, &span, HTTP_BLOCK_REQUEST, 0);
    if (result != HTTP_OK) {
        return result;
    }
    char* cut = const_cast<char*>(span.data);
    char* used_end =
        request->headers + request->request_headers_length + request->response_headers_length;
    // Everything behind the line moves up, the response block included, so
    // that it still starts right behind the request lines.
    memmove(cut, cut + span.length, static_cast<size_t>(used_end - (cut + span.length)));
    memset(used_end - span.length, 0, static_cast<size_t>(span.length));
    request->request_headers_length -= span.length;
    shift_response(request, -span.length);
    return HTTP_OK;
}

const char* http_header_value(HttpSpan span, char* value, int32_t* capacity) {
    const char* colon =
        static_cast<const char*>(memchr(span.data, ':', static_cast<size_t>(span.length)));
    int32_t count = 0;
    if (colon != nullptr) {
        for (const char* p = colon + 1; *p != 0 && *p != '\r' && *p != '\n'; ++p) {
            if (!is_blank(*p)) {
                ++count;
            }
        }
    }
    if (count + 1 > *capacity) {
        *capacity = count;
        return nullptr;
    }
    int32_t n = 0;
    if (colon != nullptr) {
        for (const char* p = colon + 1; *p != 0 && *p != '\r' && *p != '\n'; ++p) {
            if (!is_blank(*p)) {
                value[n++] = *p;
            }
        }
    }
    value[n] = 0;
    return value;
}
