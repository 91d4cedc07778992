// URL parsing into spans over the request's copy, and host resolution.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

#include "http/http_internal.h"

namespace {

std::string span_text(HttpSpan span) {
    return span.data == nullptr ? std::string() : std::string(span.data, span.length);
}

struct Parsed {
    HttpResult result;
    std::string authority, path, port_text, tls_host;
    uint16_t port;
    HttpOptions options;
};

Parsed parse(const std::string& url) {
    HttpRequest* request = http_create();
    Parsed out;
    out.result = http_parse_url(request, url.c_str());
    out.authority = span_text(request->authority);
    out.path = span_text(request->path);
    out.port_text = span_text(request->port_text);
    out.tls_host = request->tls.host_name != nullptr ? request->tls.host_name : "";
    out.port = request->port;
    out.options = request->options;
    http_destroy(&request);
    return out;
}

constexpr HttpOptions kSecure = HTTP_OPTION_HTTPS | HTTP_OPTION_TLS;

TEST(HttpUrl, Accepted) {
    struct Row {
        const char* url;
        const char* authority;
        const char* path;
        uint16_t port;
        HttpOptions options;
        const char* port_text;
    };
    const Row rows[] = {
        {"http://example.org/a/b?c=d", "example.org", "/a/b?c=d", 80, 0, ""},
        {"http://example.org", "example.org", "/", 80, 0, ""},
        {"HTTP://Example.org/", "Example.org", "/", 80, 0, ""},
        {"https://example.org/x", "example.org", "/x", 443, kSecure, ""},
        {"HTTPS://example.org", "example.org", "/", 443, kSecure, ""},
        {"http://127.0.0.1:8080/f", "127.0.0.1:8080", "/f", 8080, HTTP_OPTION_EXPLICIT_PORT,
         "8080"},
        {"https://h:8443/", "h:8443", "/", 8443, kSecure | HTTP_OPTION_EXPLICIT_PORT, "8443"},
        {"http://h:80x/", "h:80x", "/", 80, HTTP_OPTION_EXPLICIT_PORT, "80x"},  // leading digits
        {"http://h:/", "h:", "/", 0, HTTP_OPTION_EXPLICIT_PORT, ""},
    };
    for (const Row& row : rows) {
        Parsed parsed = parse(row.url);
        EXPECT_EQ(parsed.result, HTTP_OK) << row.url;
        EXPECT_EQ(parsed.authority, row.authority) << row.url;
        EXPECT_EQ(parsed.path, row.path) << row.url;
        EXPECT_EQ(parsed.port, row.port) << row.url;
        EXPECT_EQ(parsed.options, row.options) << row.url;
        EXPECT_EQ(parsed.port_text, row.port_text) << row.url;
    }
}

TEST(HttpUrl, TlsHostIsTheHostAlone) {
    EXPECT_EQ(parse("https://update.example:8443/p").tls_host, "update.example");
    EXPECT_EQ(parse("https://update.example").tls_host, "update.example");
}

TEST(HttpUrl, Rejected) {
    struct Row {
        const char* url;
        HttpResult result;
    };
    const Row rows[] = {
        {"example.org/path", HTTP_ERR_BAD_URL},      // no colon at all
        {"ftp://example.org/", HTTP_ERR_BAD_URL},    // another scheme
        {"httpx://example.org/", HTTP_ERR_BAD_URL},  // same prefix, longer scheme
        {"htt://example.org/", HTTP_ERR_BAD_URL},    // shorter scheme
        {"://example.org/", HTTP_ERR_BAD_URL},       // empty scheme
        {"http:/example.org/", HTTP_ERR_BAD_URL},    // a single "/"
        {"http:example.org", HTTP_ERR_BAD_URL},        {"https:/x", HTTP_ERR_BAD_URL},
        {"http://h:123456789/", HTTP_ERR_BAD_URL},      // port part of 10 characters
        {"http://user:password@h/", HTTP_ERR_BAD_URL},  // ":password@h" is 11
        {"http://h:65536/", HTTP_ERR_BAD_URL},          // no such port
        {"http://h:99999999/", HTTP_ERR_BAD_URL},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(parse(row.url).result, row.result) << row.url;
    }
    // Nine characters (colon included) are still a port part.
    EXPECT_EQ(parse("http://h:00000080/").result, HTTP_OK);
    EXPECT_EQ(parse("http://h:00000080/").port, 80);
}

// "http://" + host of the given length, with an optional path.
std::string url_of_length(size_t length, bool with_path) {
    std::string url = "http://";
    size_t host = length - url.size() - (with_path ? 2 : 0);
    url += std::string(host, 'h');
    if (with_path) {
        url += "/p";
    }
    return url;
}

TEST(HttpUrl, LengthBoundary) {
    struct Row {
        size_t length;
        bool with_path;
        HttpResult result;
    };
    const Row rows[] = {
        {511, true, HTTP_OK},
        {512, true, HTTP_ERR_URL_TOO_LONG},
        {600, true, HTTP_ERR_URL_TOO_LONG},
        {510, false, HTTP_OK},                // room for the "/" and the terminator
        {511, false, HTTP_ERR_URL_TOO_LONG},  // no room for the appended "/"
        {512, false, HTTP_ERR_URL_TOO_LONG},
    };
    for (const Row& row : rows) {
        std::string url = url_of_length(row.length, row.with_path);
        ASSERT_EQ(url.size(), row.length);
        HttpRequest* request = http_create();
        // The field behind the copy shows any write past its 512 bytes.
        uint16_t port_before = request->port;
        char* headers_before = request->headers;
        EXPECT_EQ(http_parse_url(request, url.c_str()), row.result) << row.length;
        EXPECT_EQ(request->url[HTTP_URL_CAPACITY - 1], 0) << row.length;
        EXPECT_EQ(request->headers, headers_before);
        if (row.result == HTTP_OK) {
            EXPECT_EQ(strlen(request->url), row.with_path ? row.length : row.length + 1);
            EXPECT_EQ(request->path.data[0], '/');
        } else {
            EXPECT_EQ(request->port, port_before);
        }
        http_destroy(&request);
    }
}

TEST(HttpUrl, ResolveHost) {
    struct Row {
        const char* host;
        int32_t resolved;
        const char* address;  // expected dotted form when resolved
    };
    const Row rows[] = {
        {"127.0.0.1", 1, "127.0.0.1"},
        {"255.255.255.255", 1, "255.255.255.255"},
        {"10.1.2.3", 1, "10.1.2.3"},
        {"1.2.3.300", 0, nullptr},  // a group above 255
        {"300.1.2.3", 0, nullptr},
        {"1.2.3.4.5", 0, nullptr},      // a fourth dot
        {"localhost", 1, "127.0.0.1"},  // a name: looked up
        {"no-such-host.invalid", 0, nullptr},
        {"1234.5.6.7", 0, nullptr},  // digits and dots are never looked up
        {"010.0.0.1", 0, nullptr},   // octal to inet_addr, decimal to no_proxy
        {"1.2.3", 0, nullptr},       // 1.2.0.3 to the resolver
        {"1.2.3.4.", 0, nullptr},
        {"1.2.3.0004", 0, nullptr},
        {"0.0.0.0", 1, "0.0.0.0"},
    };
    for (const Row& row : rows) {
        uint32_t address = 0;
        EXPECT_EQ(http_resolve_host(row.host, &address), row.resolved) << row.host;
        if (row.resolved && row.address != nullptr) {
            in_addr value;
            value.s_addr = address;
            EXPECT_STREQ(inet_ntoa(value), row.address) << row.host;
        }
    }
}

TEST(HttpUrl, DottedQuadWithBadGroupFailsToConnect) {
    HttpRequest* request = http_create();
    EXPECT_EQ(http_send_request(request, "http://1.2.3.300/"), HTTP_ERR_CONNECT);
    http_destroy(&request);
}

}  // namespace
