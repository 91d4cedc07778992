// The CONNECT tunnel that carries "https" through a proxy: the proxy is
// asked in the clear for a byte pipe to the origin, answers with a response
// head (read and bounded like any other), and TLS to the origin then runs
// inside the pipe. All of it happens within the request's current deadline.
#include <stdio.h>
#include <string.h>

#include "http/http_internal.h"

namespace {

constexpr int32_t HTTP_TUNNEL_DRAIN_PIECE = 64;

// What a successful tunnel puts back: the response state of the connection
// it replaces (a challenge being answered by a retry, for instance).
struct SavedResponse {
    char block[HTTP_HEADERS_CAPACITY];
    char* start;
    int32_t length;
    int32_t status;
    uint32_t content_length;
    int32_t has_content_length;
    int32_t keep_alive;
    int32_t challenge_offset;  // -1: no challenge
    int32_t challenge_length;
    int32_t auth_scheme;
    HttpOptions chunked;
    uint32_t body_bytes_read;
    uint32_t chunk_size;
    uint32_t chunk_remaining;
};

void save_response(const HttpRequest* request, SavedResponse* saved) {
    saved->start = request->response_headers;
    saved->length = request->response_headers_length;
    if (saved->start != nullptr && saved->length > 0) {
        memcpy(saved->block, saved->start, static_cast<size_t>(saved->length));
    }
    saved->status = request->status;
    saved->content_length = request->content_length;
    saved->has_content_length = request->has_content_length;
    saved->keep_alive = request->keep_alive;
    saved->challenge_offset = -1;
    saved->challenge_length = 0;
    if (request->challenge.data != nullptr && saved->start != nullptr) {
        saved->challenge_offset = static_cast<int32_t>(request->challenge.data - saved->start);
        saved->challenge_length = request->challenge.length;
    }
    saved->auth_scheme = request->auth_scheme;
    saved->chunked = request->options & HTTP_OPTION_CHUNKED_BODY;
    saved->body_bytes_read = request->body_bytes_read;
    saved->chunk_size = request->chunk_size;
    saved->chunk_remaining = request->chunk_remaining;
}

// The request lines have not changed since the save, so the block goes back
// to where it stood.
void restore_response(HttpRequest* request, const SavedResponse* saved) {
    http_reset_response(request);
    request->response_headers = saved->start;
    request->response_headers_length = saved->length;
    if (saved->start != nullptr && saved->length > 0) {
        memcpy(saved->start, saved->block, static_cast<size_t>(saved->length));
    }
    request->status = saved->status;
    request->content_length = saved->content_length;
    request->has_content_length = saved->has_content_length;
    request->keep_alive = saved->keep_alive;
    request->challenge = HttpSpan{nullptr, 0};
    if (saved->challenge_offset >= 0) {
        request->challenge =
            HttpSpan{saved->start + saved->challenge_offset, saved->challenge_length};
    }
    request->auth_scheme = saved->auth_scheme;
    request->options = (request->options & ~HTTP_OPTION_CHUNKED_BODY) | saved->chunked;
    request->body_bytes_read = saved->body_bytes_read;
    request->chunk_size = saved->chunk_size;
    request->chunk_remaining = saved->chunk_remaining;
}

bool authentication_configured(const HttpRequest* request) {
    return request->wanted_scheme != HTTP_AUTH_NONE || request->force_basic;
}

// "CONNECT target HTTP/1.1", the Host line with the same target, the
// authorization after a 407, the blank line. Returns the first send error.
HttpResult write_connect(HttpRequest* request, const char* target, bool answer) {
    const int32_t length = static_cast<int32_t>(strlen(target));
    HttpResult result = http_send_all(request, "CONNECT ", 8);
    if (result == HTTP_OK) {
        result = http_send_all(request, target, length);
    }
    if (result == HTTP_OK) {
        result = http_send_all(request, " HTTP/1.1\r\nHost: ", 17);
    }
    if (result == HTTP_OK) {
        result = http_send_all(request, target, length);
    }
    if (result == HTTP_OK) {
        result = http_send_all(request, "\r\n", 2);
    }
    if (result == HTTP_OK && answer) {
        result = http_write_auth_header(request);
    } else if (result == HTTP_OK && request->proxy_basic_first) {
        result = http_write_proxy_basic_auth(request);
    }
    if (result == HTTP_OK) {
        result = http_send_all(request, "\r\n", 2);
    }
    return result;
}

// Reads and parses the proxy's answer head into the response block; the
// bounds of a response head apply (3 when it does not fit, 11 on a failed
// read or the deadline, 23 when it does not parse).
HttpResult read_answer(HttpRequest* request) {
    http_reset_response(request);
    HttpResult result = http_read_response_headers(request);
    if (result != HTTP_OK) {
        return result;
    }
    return http_parse_response(request);
}

// Drops the body of a 407 the proxy keeps the connection open behind; false
// when it cannot be measured or does not arrive whole.
bool drain_answer(HttpRequest* request) {
    if (!request->keep_alive || !request->has_content_length ||
        (request->options & HTTP_OPTION_CHUNKED_BODY)) {
        return false;
    }
    char sink[HTTP_TUNNEL_DRAIN_PIECE];
    uint32_t left = request->content_length;
    while (left > 0) {
        int32_t size = left < sizeof sink ? static_cast<int32_t>(left) : HTTP_TUNNEL_DRAIN_PIECE;
        if (http_receive_bytes(request, sink, &size) != HTTP_OK) {
            return false;
        }
        if (size == 0 && http_deadline_passed(request)) {
            return false;
        }
        left -= static_cast<uint32_t>(size);
    }
    return true;
}

bool is_success(int32_t status) {
    return status >= 200 && status <= 299;
}

// The CONNECT exchange: one request, and one answered 407 at most.
HttpResult exchange(HttpRequest* request, const char* target) {
    HttpResult result = write_connect(request, target, false);
    if (result == HTTP_OK) {
        result = read_answer(request);
    }
    if (result != HTTP_OK) {
        return result;
    }
    if (is_success(request->status)) {
        return HTTP_OK;
    }
    if (request->status != 407 || !authentication_configured(request)) {
        return HTTP_ERR_PROXY_REFUSED;
    }
    result = http_pick_auth_scheme(request);
    if (result != HTTP_OK) {
        return result;
    }
    // The answer goes on the same connection when the proxy keeps it and
    // its body can be dropped; otherwise on a new one.
    if (!drain_answer(request)) {
        http_close_connection(request);
        result = http_open_socket(request);
        if (result != HTTP_OK) {
            return result;
        }
    }
    result = write_connect(request, target, true);
    if (result == HTTP_OK) {
        result = read_answer(request);
    }
    if (result != HTTP_OK) {
        return result;
    }
    if (!is_success(request->status)) {
        return HTTP_ERR_PROXY_REFUSED;
    }
    request->tunnel_authenticated = 1;
    return HTTP_OK;
}

}  // namespace

bool http_needs_tunnel(const HttpRequest* request) {
    return (request->options & HTTP_OPTION_PROXY) && (request->options & HTTP_OPTION_HTTPS);
}

HttpResult http_tunnel_open(HttpRequest* request) {
    char host[HTTP_URL_CAPACITY];
    HttpResult result = http_copy_host(request, host, sizeof host);
    if (result != HTTP_OK) {
        return result;
    }
    char target[HTTP_TUNNEL_TARGET_CAPACITY];
    snprintf(target, sizeof target, "%s:%u", host, static_cast<unsigned>(request->port));

    SavedResponse saved;
    save_response(request, &saved);
    request->tunnel_target = target;
    result = exchange(request, target);
    request->tunnel_target = nullptr;
    if (result != HTTP_OK) {
        return result;
    }
    restore_response(request, &saved);
    request->tunnel_ready = 1;
    return HTTP_OK;
}
