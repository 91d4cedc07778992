// One whole fetch through the client's public calls, in the tool's order,
// as the peer tests use it.
#pragma once

#include <string>

#include "http/http.h"

struct PeerFetch {
    HttpResult send = -1;
    HttpResult headers = -1;
    HttpResult body_result = -1;
    int32_t status = 0;
    int32_t keep_alive = 0;
    bool chunked = false;
    std::string body;
};

struct PeerSettings {
    const char* user = nullptr;
    const char* password = nullptr;
    int32_t wanted_scheme = HTTP_AUTH_NONE;
    bool force_basic = false;
    bool proxy_basic_first = false;
    const char* proxy_host = nullptr;
    uint16_t proxy_port = 0;
    const char* proxy_user = nullptr;
    const char* proxy_password = nullptr;
    uint32_t timeout_seconds = 0;  // 0: the built-in deadlines
    int32_t capacity = 20000;
};

inline PeerFetch peer_fetch(const std::string& url, const PeerSettings& settings = PeerSettings()) {
    PeerFetch out;
    HttpRequest* request = http_create();
    if (request == nullptr) {
        return out;
    }
    http_set_user_agent(request);
    http_set_verb(request, HTTP_VERB_GET);
    if (settings.user != nullptr) {
        http_set_credentials(request, settings.user, settings.password);
    }
    http_set_wanted_scheme(request, settings.wanted_scheme, "");
    http_set_force_basic(request, settings.force_basic);
    http_set_proxy_basic_first(request, settings.proxy_basic_first);
    if (settings.proxy_host != nullptr) {
        http_set_proxy(request, settings.proxy_host, settings.proxy_port);
    }
    if (settings.proxy_user != nullptr) {
        http_set_proxy_credentials(request, settings.proxy_user, settings.proxy_password);
    }
    if (settings.timeout_seconds != 0) {
        http_set_test_timeouts(request, settings.timeout_seconds, settings.timeout_seconds);
    }
    out.send = http_send_request(request, url.c_str());
    if (out.send == HTTP_OK) {
        out.headers = http_receive_headers(request);
    }
    if (out.send == HTTP_OK && out.headers == HTTP_OK) {
        out.status = request->status;
        out.keep_alive = request->keep_alive;
        out.chunked = (request->options & HTTP_OPTION_CHUNKED_BODY) != 0;
        std::string buffer(static_cast<size_t>(settings.capacity), '\0');
        for (;;) {
            int32_t count = 0;
            out.body_result = http_read_body(request, &buffer[0], settings.capacity, &count);
            if (out.body_result != HTTP_OK && out.body_result != HTTP_END) {
                break;
            }
            out.body.append(buffer.data(), static_cast<size_t>(count));
            if (out.body_result == HTTP_END) {
                break;
            }
        }
    }
    http_destroy(&request);
    return out;
}
