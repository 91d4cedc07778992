// Reads a response head one byte at a time into the header buffer (no body
// byte is taken early) and parses status, length, connection, transfer
// coding, challenges and redirects from it.
#include <string.h>

#include "core/text.h"
#include "http/http_internal.h"

namespace {

bool ends_with_blank_line(const char* block, int32_t length) {
    return length >= 4 && memcmp(block + length - 4, "\r\n\r\n", 4) == 0;
}

// The value of a response header line, blanks removed, into value
// (HTTP_HEADER_VALUE_CAPACITY bytes). False when the line is absent or its
// value does not fit: both count as "no such line".
bool response_value(const HttpRequest* request, const char* name, char* value) {
    HttpSpan span;
    if (http_find_header(request, name, &span, HTTP_BLOCK_RESPONSE, 0) != HTTP_OK) {
        return false;
    }
    int32_t capacity = HTTP_HEADER_VALUE_CAPACITY;
    return http_header_value(span, value, &capacity) != nullptr;
}

// An empty wanted name matches every challenge line.
bool challenge_matches(HttpSpan span, const char* word) {
    return word[0] == 0 || http_challenge_names_scheme(span, word);
}

HttpResult find_server_challenge(HttpRequest* request) {
    HttpSpan span;
    int32_t offset = 0;
    if (http_find_header(request, "www-authenticate", &span, HTTP_BLOCK_RESPONSE, 0) != HTTP_OK) {
        return HTTP_ERR_BAD_RESPONSE;
    }
    for (;;) {
        if (challenge_matches(span, request->wanted_scheme_name)) {
            request->challenge = span;
            return HTTP_OK;
        }
        offset = static_cast<int32_t>(span.data - request->response_headers) + 3;
        if (http_find_header(request, "www-authenticate", &span, HTTP_BLOCK_RESPONSE, offset) !=
            HTTP_OK) {
            return HTTP_ERR_AUTH_MISMATCH;
        }
    }
}

}  // namespace

HttpResult http_read_response_headers(HttpRequest* request) {
    if (request->response_headers == nullptr) {
        request->response_headers = request->headers + request->request_headers_length;
    }
    for (;;) {
        if (request->request_headers_length + request->response_headers_length + 1 >
            HTTP_HEADERS_USABLE) {
            return HTTP_ERR_NO_ROOM;
        }
        int32_t size = 1;
        HttpResult result = http_receive_bytes(
            request, request->response_headers + request->response_headers_length, &size);
        if (result != HTTP_OK) {
            return HTTP_ERR_HEADERS;
        }
        if (size == 0) {
            // A failed wait gave nothing; the deadline still bounds the head.
            if (http_deadline_passed(request)) {
                return HTTP_ERR_HEADERS;
            }
            continue;
        }
        request->response_headers_length += 1;
        if (ends_with_blank_line(request->response_headers, request->response_headers_length)) {
            return HTTP_OK;
        }
    }
}

HttpResult http_reset_response(HttpRequest* request) {
    if (request->response_headers != nullptr) {
        memset(request->response_headers, 0, static_cast<size_t>(request->response_headers_length));
    }
    request->response_headers_length = 0;
    request->challenge = HttpSpan{nullptr, 0};
    request->body_bytes_read = 0;
    request->chunk_size = 0;
    request->chunk_remaining = 0;
    return HTTP_OK;
}

HttpResult http_parse_response(HttpRequest* request) {
    const char* block = request->response_headers;
    if (block == nullptr ||
        !text_span_equal_nocase(TextSpan{block, 4}, text_span("HTTP"), TEXT_FOLD_FROM_AT)) {
        return HTTP_ERR_BAD_RESPONSE;
    }

    const char* blank = strchr(block, ' ');
    uint32_t status = 0;
    if (blank != nullptr && blank < block + request->response_headers_length) {
        text_read_decimal(text_span(blank + 1), &status);
    }
    request->status = status > 999 ? 999 : static_cast<int32_t>(status);

    char value[HTTP_HEADER_VALUE_CAPACITY];
    request->content_length = 0;
    request->has_content_length = 0;
    // Leading digits, held at the 32-bit maximum.
    if (response_value(request, "content-length", value) &&
        text_read_decimal(text_span(value), &request->content_length) > 0) {
        request->has_content_length = 1;
    }

    request->keep_alive = 1;
    if (response_value(request, "connection", value) ||
        response_value(request, "proxy-connection", value)) {
        request->keep_alive =
            text_span_equal_nocase(text_span(value), text_span("keep-alive"), TEXT_FOLD_FROM_AT);
    }

    request->options &= ~HTTP_OPTION_CHUNKED_BODY;
    if (response_value(request, "transfer-encoding", value) &&
        text_span_equal_nocase(text_span(value), text_span("chunked"), TEXT_FOLD_FROM_AT)) {
        request->options |= HTTP_OPTION_CHUNKED_BODY;
    }

    HttpSpan span;
    switch (request->status) {
        case 401:
            return find_server_challenge(request);
        case 407:
            if (http_find_header(request, "proxy-authenticate", &span, HTTP_BLOCK_RESPONSE, 0) !=
                HTTP_OK) {
                return HTTP_ERR_BAD_RESPONSE;
            }
            request->challenge = span;
            return HTTP_OK;
        case 301:
        case 302:
            if (http_find_header(request, "location", &span, HTTP_BLOCK_RESPONSE, 0) != HTTP_OK) {
                return HTTP_ERR_BAD_RESPONSE;
            }
            return HTTP_OK;
        default:
            return HTTP_OK;
    }
}
