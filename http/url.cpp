// The client's one URL parser: spans over the caller's text (the proxy
// choice reads the same split), moved onto the request's own copy; and IPv4
// host resolution. Nothing is decoded: the URL is a byte string.
#include <string.h>

#include "core/text.h"
#include "http/http_internal.h"

namespace {

struct SchemeRow {
    const char* name;
    HttpOptions options;
    uint16_t default_port;
};

const SchemeRow URL_SCHEMES[] = {
    {"http", 0, 80},
    {"https", HTTP_OPTION_HTTPS | HTTP_OPTION_TLS, 443},
};

// The span moved from one copy of the URL onto another.
HttpSpan moved(HttpSpan span, const char* from, char* to) {
    return span.data == nullptr ? span : HttpSpan{to + (span.data - from), span.length};
}

}  // namespace

HttpResult http_split_url(const char* url, HttpUrlParts* out) {
    memset(out, 0, sizeof *out);
    if (url == nullptr) {
        return HTTP_ERR_BAD_URL;
    }
    size_t length = strlen(url);
    if (length + 1 > static_cast<size_t>(HTTP_URL_CAPACITY)) {
        return HTTP_ERR_URL_TOO_LONG;
    }
    TextSpan text{url, length};
    size_t colon = text_find(text, ':');
    const SchemeRow* scheme = nullptr;
    for (const SchemeRow& row : URL_SCHEMES) {
        if (text_span_equal_nocase(TextSpan{url, colon}, text_span(row.name), TEXT_FOLD_FROM_AT)) {
            scheme = &row;
        }
    }
    if (scheme == nullptr || strncmp(url + colon, "://", 3) != 0) {
        return HTTP_ERR_BAD_URL;
    }
    TextSpan rest{url + colon + 3, length - colon - 3};
    TextSpan authority{rest.data, text_find(rest, '/')};
    // The path "/" is appended to the copy of a URL without one; a URL that
    // already fills the copy has no room for it and its terminator.
    if (authority.length == rest.length && length + 2 > static_cast<size_t>(HTTP_URL_CAPACITY)) {
        return HTTP_ERR_URL_TOO_LONG;
    }
    // There is no user part: text in front of an "@" is read as the host
    // and a port, and then fails the port's length or the connection.
    TextSpan host{authority.data, text_find(authority, ':')};
    uint32_t port = scheme->default_port;
    HttpOptions options = scheme->options;
    TextSpan port_text{nullptr, 0};
    if (host.length < authority.length) {
        port_text = TextSpan{host.data + host.length + 1, authority.length - host.length - 1};
        // Its leading digits; a number that a port cannot hold would connect
        // somewhere else.
        text_read_decimal(port_text, &port);
        if (port_text.length + 1 >= static_cast<size_t>(HTTP_PORT_PART_LIMIT) || port > 0xFFFF) {
            return HTTP_ERR_BAD_URL;
        }
        options |= HTTP_OPTION_EXPLICIT_PORT;
    }
    out->options = options;
    out->port = static_cast<uint16_t>(port);
    out->scheme = HttpSpan{url, static_cast<int32_t>(colon)};
    out->authority = HttpSpan{authority.data, static_cast<int32_t>(authority.length)};
    out->host = HttpSpan{host.data, static_cast<int32_t>(host.length)};
    out->port_text = HttpSpan{port_text.data, static_cast<int32_t>(port_text.length)};
    out->path = HttpSpan{authority.data + authority.length,
                         static_cast<int32_t>(rest.length - authority.length)};
    return HTTP_OK;
}

HttpResult http_parse_url(HttpRequest* request, const char* url) {
    if (request == nullptr) {
        return HTTP_ERR_NULL_REQUEST;
    }
    HttpUrlParts parts;
    HttpResult result = http_split_url(url, &parts);
    if (result != HTTP_OK) {
        return result;
    }
    // The spans point into the request's own copy, which gets the "/" a URL
    // without a path stands for.
    size_t length = strlen(url);
    memset(request->url, 0, sizeof request->url);
    memcpy(request->url, url, length);
    if (parts.path.length == 0) {
        request->url[length] = '/';
        parts.path.length = 1;
    }
    if ((parts.options & HTTP_OPTION_TLS) && !request->tls.ready &&
        !http_tls_setup(&request->tls)) {
        return HTTP_ERR_NO_ROOM;
    }
    if (parts.options & HTTP_OPTION_TLS) {
        result = http_tls_set_host(&request->tls, parts.host.data, parts.host.length);
        if (result != HTTP_OK) {
            return result;
        }
    }
    request->scheme = moved(parts.scheme, url, request->url);
    request->authority = moved(parts.authority, url, request->url);
    request->port_text = moved(parts.port_text, url, request->url);
    request->path = moved(parts.path, url, request->url);
    request->port = parts.port;
    request->options &= ~(HTTP_OPTION_HTTPS | HTTP_OPTION_TLS | HTTP_OPTION_EXPLICIT_PORT);
    request->options |= parts.options;
    return HTTP_OK;
}

HttpResult http_copy_host(const HttpRequest* request, char* out, int32_t capacity) {
    const HttpSpan& authority = request->authority;
    TextSpan text{authority.data,
                  authority.data != nullptr ? static_cast<size_t>(authority.length) : 0};
    TextSpan host{text.data, text_find(text, ':')};
    return capacity > 0 && text_copy(out, static_cast<size_t>(capacity), host) ? HTTP_OK
                                                                               : HTTP_ERR_NO_ROOM;
}

int32_t http_resolve_host(const char* host, uint32_t* address) {
    if (host == nullptr || address == nullptr) {
        return 0;
    }
    if (platform_net_parse_ipv4(host, address)) {
        return 1;
    }
    // Digits and dots that are no strict address are no name either; a
    // resolver would read them as octal or short forms: refused.
    if (host[strspn(host, "0123456789.")] == 0) {
        return 0;
    }
    return platform_net_lookup_ipv4(host, address) ? 1 : 0;
}
