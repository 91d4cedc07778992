// Writes one request: request line, the header block, the authorization
// header after a challenge, the closing blank line. Each piece goes out
// whole (partial sends are completed), so a request is never cut short.
#include <string.h>

#include "http/http_internal.h"

namespace {

HttpResult send_text(HttpRequest* request, const char* text, int32_t length) {
    return http_send_all(request, text, length);
}

HttpResult write_pieces(HttpRequest* request) {
    HttpResult result =
        send_text(request, request->verb_text, static_cast<int32_t>(strlen(request->verb_text)));
    if (result == HTTP_OK) {
        result = send_text(request, " ", 1);
    }
    if (result != HTTP_OK) {
        return result;
    }

    // Origin form normally; through a proxy the absolute form, the whole URL,
    // unless the proxy carries a tunnel ("https"), which reaches the origin.
    const bool absolute = (request->options & HTTP_OPTION_PROXY) && !http_needs_tunnel(request);
    const char* target = absolute ? request->url : request->path.data;
    if (target == nullptr) {
        target = "/";
    }
    result = send_text(request, target, static_cast<int32_t>(strlen(target)));
    if (result != HTTP_OK) {
        return result;
    }

    result = send_text(request, " HTTP/1.1\r\n", 11);
    if (result != HTTP_OK) {
        return result;
    }

    result = send_text(request, request->headers, request->request_headers_length);
    if (result != HTTP_OK) {
        return result;
    }

    if (request->status == 401 || request->status == 407) {
        result = http_write_auth_header(request);
    } else if (absolute && request->proxy_basic_first) {
        result = http_write_proxy_basic_auth(request);
    }
    if (result != HTTP_OK) {
        return result;
    }
    return send_text(request, "\r\n", 2);
}

}  // namespace

HttpResult http_write_request(HttpRequest* request, HttpVerb verb) {
    HttpVerb saved = request->verb;
    if (verb != saved) {
        HttpResult result = http_set_verb(request, verb);
        if (result != HTTP_OK) {
            return result;
        }
    }
    HttpResult result = write_pieces(request);
    if (verb != saved) {
        HttpResult restored = http_set_verb(request, saved);
        if (result == HTTP_OK) {
            result = restored;
        }
    }
    return result;
}
