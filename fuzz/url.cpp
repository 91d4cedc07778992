// libFuzzer harness: URL parsing into the request's spans. One request is
// reused for every input, as a redirect reuses it, so each parse must also
// clear whatever the one before left.
#include <stdlib.h>
#include <string.h>

#include "http/http_internal.h"

namespace {

bool span_inside(const HttpRequest* request, HttpSpan span) {
    const char* begin = request->url;
    const char* end = request->url + HTTP_URL_CAPACITY;
    return span.data != nullptr && span.length >= 0 && span.data >= begin &&
           span.data + span.length < end;
}

bool span_is(HttpSpan span, const char* text, size_t length) {
    return static_cast<size_t>(span.length) == length && memcmp(span.data, text, length) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static HttpRequest* request = http_create();
    if (request == nullptr) {
        abort();
    }
    // The URL is a C string: it ends at the first NUL.
    static char url[2 * HTTP_URL_CAPACITY];
    size_t length = size < sizeof url - 1 ? size : sizeof url - 1;
    memcpy(url, data, length);
    url[length] = 0;
    length = strlen(url);

    HttpResult result = http_parse_url(request, url);
    if (length + 1 > static_cast<size_t>(HTTP_URL_CAPACITY)) {
        if (result != HTTP_ERR_URL_TOO_LONG) {
            abort();
        }
        return 0;
    }
    if (result != HTTP_OK) {
        return 0;
    }

    // The spans cover the URL without a gap: scheme "://" authority path,
    // where a URL without a path gets "/".
    if (!span_inside(request, request->scheme) || !span_inside(request, request->authority) ||
        !span_inside(request, request->path)) {
        abort();
    }
    size_t scheme = static_cast<size_t>(request->scheme.length);
    size_t authority = static_cast<size_t>(request->authority.length);
    size_t path = static_cast<size_t>(request->path.length);
    if (!span_is(request->scheme, url, scheme) || memcmp(url + scheme, "://", 3) != 0 ||
        !span_is(request->authority, url + scheme + 3, authority)) {
        abort();
    }
    size_t rest = length - scheme - 3 - authority;
    if (rest == 0 ? !span_is(request->path, "/", 1)
                  : !span_is(request->path, url + length - rest, rest)) {
        abort();
    }
    if (path == 0 || request->path.data[0] != '/' ||
        memchr(request->authority.data, '/', authority) != nullptr) {
        abort();
    }

    // The port: the default without a colon, else the leading digits of
    // the text behind it.
    bool secure = (request->options & HTTP_OPTION_TLS) != 0;
    const char* colon = static_cast<const char*>(memchr(request->authority.data, ':', authority));
    bool explicit_port = (request->options & HTTP_OPTION_EXPLICIT_PORT) != 0;
    if ((colon != nullptr) != explicit_port) {
        abort();
    }
    uint32_t expected = secure ? 443 : 80;
    size_t host = authority;
    if (colon != nullptr) {
        host = static_cast<size_t>(colon - request->authority.data);
        if (!span_inside(request, request->port_text) || request->port_text.data != colon + 1 ||
            host + 1 + static_cast<size_t>(request->port_text.length) != authority) {
            abort();
        }
        expected = 0;
        for (int32_t i = 0; i < request->port_text.length; ++i) {
            char c = request->port_text.data[i];
            if (c < '0' || c > '9') {
                break;
            }
            expected = expected * 10 + static_cast<uint32_t>(c - '0');
        }
    }
    if (request->port != expected) {
        abort();
    }

    // The host as copied for the Host line and as named in the handshake.
    char copy[HTTP_URL_CAPACITY];
    if (http_copy_host(request, copy, sizeof copy) != HTTP_OK || strlen(copy) != host ||
        memcmp(copy, request->authority.data, host) != 0) {
        abort();
    }
    if (secure &&
        (request->tls.host_name == nullptr || strcmp(request->tls.host_name, copy) != 0)) {
        abort();
    }
    return 0;
}
