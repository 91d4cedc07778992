// The operations a caller drives a request with: send, receive the head,
// read the body piece by piece. Each starts its own deadline.
#include <string.h>

#include "http/http_internal.h"

namespace {

const char HTTP_TOOL_USER_AGENT[] = "Mozilla/4.0 (compatible; Corvane Chat Bootstrap)";
const char HTTP_DEFAULT_USER_AGENT[] = "Mozilla/4.0 (compatible)";

HttpResult add_line(HttpRequest* request, const char* name, const char* value) {
    return http_add_header(request, name, static_cast<int32_t>(strlen(name)), value,
                           static_cast<int32_t>(strlen(value)));
}

// An interim head that another head follows; 101 ends the exchange.
bool is_interim(int32_t status) {
    return status >= 100 && status <= 199 && status != 101;
}

// Reads response heads until the final one has parsed. One deadline covers
// the interim heads and the final one, so a stream of them cannot hold the
// request open.
HttpResult receive_head(HttpRequest* request) {
    request->response_ready = 0;
    http_start_deadline(request, request->timeout);
    for (int32_t interim = 0;; ++interim) {
        if (interim > HTTP_MAX_INTERIM_HEADS) {
            return HTTP_ERR_BAD_RESPONSE;
        }
        http_reset_response(request);
        HttpResult result = http_read_response_headers(request);
        if (result != HTTP_OK) {
            return result;
        }
        result = http_parse_response(request);
        if (result != HTTP_OK) {
            return result;
        }
        if (!is_interim(request->status)) {
            return HTTP_OK;
        }
    }
}

}  // namespace

HttpResult http_set_user_agent(HttpRequest* request) {
    if (request == nullptr) {
        return HTTP_ERR_NULL_REQUEST;
    }
    request->user_agent_set = 1;
    return add_line(request, "User-Agent", HTTP_TOOL_USER_AGENT);
}

HttpResult http_send_request(HttpRequest* request, const char* url) {
    if (request == nullptr) {
        return HTTP_ERR_NULL_REQUEST;
    }
    http_start_deadline(request, request->request_timeout);
    HttpResult result = http_parse_url(request, url);
    if (result != HTTP_OK) {
        return result;
    }

    char host[HTTP_URL_CAPACITY];
    result = http_copy_host(request, host, sizeof host);
    if (result == HTTP_OK) {
        result = add_line(request, "Host", host);
    }
    if (result != HTTP_OK) {
        return result;
    }
    if (request->verb == HTTP_VERB_POST) {
        if (!(request->options & HTTP_OPTION_CHUNKED_UPLOAD)) {
            return HTTP_ERR_POST_NEEDS_CHUNKED;
        }
        result = add_line(request, "Transfer-Encoding", "chunked");
        if (result != HTTP_OK) {
            return result;
        }
    }
    if (!request->user_agent_set) {
        result = add_line(request, "User-Agent", HTTP_DEFAULT_USER_AGENT);
        if (result != HTTP_OK) {
            return result;
        }
    }
    if (request->options & HTTP_OPTION_KEEP_ALIVE) {
        // Through a tunnel the line reaches the origin, not the proxy.
        const bool to_proxy = (request->options & HTTP_OPTION_PROXY) && !http_needs_tunnel(request);
        const char* name = to_proxy ? "Proxy-Connection" : "Connection";
        result = add_line(request, name, "Keep-Alive");
        if (result != HTTP_OK) {
            return result;
        }
    }
    if (request->options & HTTP_OPTION_NO_CACHE) {
        result = add_line(request, "Cache-Control", "no-cache");
        if (result != HTTP_OK) {
            return result;
        }
    }
    if (http_deadline_passed(request)) {
        return HTTP_ERR_TIMEOUT;
    }

    if (!request->keep_alive) {
        http_close_connection(request);
    }
    request->tunnel_authenticated = 0;
    result = http_connect(request);
    if (result != HTTP_OK) {
        return result;
    }

    result = http_write_request(request, request->verb);
    if (result != HTTP_OK) {
        return result;
    }
    // One challenge per request: a tunnel that answered its proxy's 407 has
    // used the authentication, and the origin's answer is the caller's.
    if ((request->wanted_scheme == HTTP_AUTH_NONE && !request->force_basic) ||
        request->tunnel_authenticated) {
        return HTTP_OK;
    }

    // Authentication configured: the first answer must be a challenge.
    result = receive_head(request);
    if (result != HTTP_OK) {
        return result;
    }
    if (request->status != 401 && request->status != 407) {
        return HTTP_ERR_AUTH_MISMATCH;
    }
    return http_retry_with_auth(request);
}

HttpResult http_receive_headers(HttpRequest* request) {
    if (request == nullptr) {
        return HTTP_ERR_NULL_REQUEST;
    }
    request->timeout = request->headers_timeout;
    HttpResult result = receive_head(request);
    if (result == HTTP_OK) {
        request->response_ready = 1;
    }
    return result;
}

HttpResult http_read_body(HttpRequest* request, char* buffer, int32_t capacity, int32_t* count) {
    if (request == nullptr) {
        return HTTP_ERR_NULL_REQUEST;
    }
    http_start_deadline(request, request->request_timeout);
    if (count != nullptr) {
        *count = 0;
    }
    if (http_time_limit_passed(request)) {
        return HTTP_ERR_TIMEOUT;
    }
    // A piece needs at least one byte and its terminator.
    if (buffer == nullptr || count == nullptr || capacity < 2) {
        return HTTP_ERR_NO_ROOM;
    }
    buffer[0] = 0;
    if (!request->response_ready) {
        return HTTP_ERR_NO_RESPONSE;
    }

    uint32_t ask = static_cast<uint32_t>(capacity - 1);
    if (request->options & HTTP_OPTION_CHUNKED_BODY) {
        if (request->chunk_remaining == 0) {
            HttpResult result = http_read_chunk_size(request);
            if (result == HTTP_ERR_CHUNK_LINE_LONG) {
                return HTTP_ERR_CHUNK;
            }
            // Only the last chunk ends the body: a close before it cut it.
            if (result == HTTP_END) {
                return HTTP_ERR_RECV;
            }
            if (result != HTTP_OK) {
                return result;
            }
            if (request->chunk_size == 0) {
                return HTTP_END;
            }
        }
        if (ask > request->chunk_remaining) {
            ask = request->chunk_remaining;
        }
    }
    if (request->has_content_length) {
        uint32_t left = request->content_length - request->body_bytes_read;
        // Nothing left to ask for: waiting would only run into the deadline.
        if (request->body_bytes_read >= request->content_length) {
            return HTTP_END;
        }
        if (ask > left) {
            ask = left;
        }
    }

    int32_t size = static_cast<int32_t>(ask);
    HttpResult result = http_receive_bytes(request, buffer, &size);
    // A close (or close-notify) ends only a body that has neither a length
    // nor chunks; any other body it cut short.
    if (result == HTTP_END &&
        (request->has_content_length || (request->options & HTTP_OPTION_CHUNKED_BODY))) {
        result = HTTP_ERR_RECV;
    }
    if (result != HTTP_OK) {
        buffer[0] = 0;
        return result;
    }
    buffer[size] = 0;
    *count = size;
    request->body_bytes_read += static_cast<uint32_t>(size);
    if (request->options & HTTP_OPTION_CHUNKED_BODY) {
        request->chunk_remaining -= static_cast<uint32_t>(size);
    }
    if (request->has_content_length && request->body_bytes_read >= request->content_length) {
        return HTTP_END;
    }
    return HTTP_OK;
}
