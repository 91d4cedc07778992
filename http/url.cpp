// URL parsing into spans over the request's own copy, and IPv4 host
// resolution. Nothing is decoded: the URL is a byte string.
#include <string.h>

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

}  // namespace

HttpResult http_parse_url(HttpRequest* request, const char* url) {
    if (request == nullptr) {
        return HTTP_ERR_NULL_REQUEST;
    }
    if (url == nullptr) {
        return HTTP_ERR_BAD_URL;
    }
    size_t length = strlen(url);
    if (length + 1 > static_cast<size_t>(HTTP_URL_CAPACITY)) {
        return HTTP_ERR_URL_TOO_LONG;
    }
    memset(request->url, 0, sizeof request->url);
    memcpy(request->url, url, length);
    char* copy = request->url;
    request->scheme = HttpSpan{nullptr, 0};
    request->authority = HttpSpan{nullptr, 0};
    request->port_text = HttpSpan{nullptr, 0};
    request->path = HttpSpan{nullptr, 0};

    const char* colon = strchr(copy, ':');
    if (colon == nullptr) {
        return HTTP_ERR_BAD_URL;
    }
    int32_t scheme_length = static_cast<int32_t>(colon - copy);
    const SchemeRow* scheme = nullptr;
    for (const SchemeRow& row : URL_SCHEMES) {
        if (scheme_length > 0 && http_equal_nocase(copy, row.name, scheme_length)) {
            scheme = &row;
        }
    }
    if (scheme == nullptr) {
        return HTTP_ERR_BAD_URL;
    }
    request->scheme = HttpSpan{copy, scheme_length};
    request->options &= ~(HTTP_OPTION_HTTPS | HTTP_OPTION_TLS | HTTP_OPTION_EXPLICIT_PORT);
    request->options |= scheme->options;
    if ((scheme->options & HTTP_OPTION_TLS) && !request->tls.ready) {
        if (!http_tls_setup(&request->tls)) {
            return HTTP_ERR_NO_ROOM;
        }
    }
    if (strncmp(colon, "://", 3) != 0) {
        return HTTP_ERR_BAD_URL;
    }

    char* authority = const_cast<char*>(colon) + 3;
    char* slash = strchr(authority, '/');
    if (slash == nullptr) {
        // The path "/" is appended; a URL that already fills the copy has no
        // room for it and its terminator.
        if (length + 2 > static_cast<size_t>(HTTP_URL_CAPACITY)) {
            return HTTP_ERR_URL_TOO_LONG;
        }
        slash = copy + length;
        slash[0] = '/';
        slash[1] = 0;
    }
    request->authority = HttpSpan{authority, static_cast<int32_t>(slash - authority)};

    int32_t host_length = request->authority.length;
    const char* port_colon = static_cast<const char*>(
        memchr(authority, ':', static_cast<size_t>(request->authority.length)));
    uint16_t port = scheme->default_port;
    if (port_colon != nullptr) {
        int32_t part = static_cast<int32_t>(slash - port_colon);
        if (part >= HTTP_PORT_PART_LIMIT) {
            return HTTP_ERR_BAD_URL;
        }
        uint32_t value = 0;
        for (const char* p = port_colon + 1; p < slash && *p >= '0' && *p <= '9'; ++p) {
            value = value * 10 + static_cast<uint32_t>(*p - '0');
        }
        // A number that a port cannot hold would connect somewhere else.
        if (value > 0xFFFF) {
            return HTTP_ERR_BAD_URL;
        }
        port = static_cast<uint16_t>(value);
        request->options |= HTTP_OPTION_EXPLICIT_PORT;
        request->port_text = HttpSpan{port_colon + 1, part - 1};
        host_length = static_cast<int32_t>(port_colon - authority);
    }
    if (scheme->options & HTTP_OPTION_TLS) {
        HttpResult result = http_tls_set_host(&request->tls, authority, host_length);
        if (result != HTTP_OK) {
            return result;
        }
    }
    request->path = HttpSpan{slash, static_cast<int32_t>(strlen(slash))};
    request->port = port;
    return HTTP_OK;
}

HttpResult http_copy_host(const HttpRequest* request, char* out, int32_t capacity) {
    const HttpSpan& authority = request->authority;
    int32_t length = authority.length;
    if (authority.data == nullptr) {
        length = 0;
    }
    const char* port_colon =
        length > 0
            ? static_cast<const char*>(memchr(authority.data, ':', static_cast<size_t>(length)))
            : nullptr;
    if (port_colon != nullptr) {
        length = static_cast<int32_t>(port_colon - authority.data);
    }
    if (length + 1 > capacity) {
        return HTTP_ERR_NO_ROOM;
    }
    if (length > 0) {
        memcpy(out, authority.data, static_cast<size_t>(length));
    }
    out[length] = 0;
    return HTTP_OK;
}

int32_t http_resolve_host(const char* host, uint32_t* address) {
    if (host == nullptr || address == nullptr) {
        return 0;
    }
    int32_t dots = 0;
    int32_t digits = 0;
    uint32_t group = 0;
    bool name = false;
    for (const char* p = host; *p != 0 && !name; ++p) {
        char c = *p;
        if (c >= '0' && c <= '9') {
            if (++digits > 3) {
                name = true;
                break;
            }
            group = group * 10 + static_cast<uint32_t>(c - '0');
        } else if (c == '.') {
            if (group > 255) {
                return 0;
            }
            if (++dots > 3) {
                return 0;
            }
            digits = 0;
            group = 0;
        } else {
            name = true;
        }
    }
    if (!name && dots == 3) {
        if (group > 255) {
            return 0;
        }
        return platform_net_parse_ipv4(host, address) ? 1 : 0;
    }
    return platform_net_lookup_ipv4(host, address) ? 1 : 0;
}
