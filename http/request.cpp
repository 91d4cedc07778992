// The request object: creation, settings and destruction. Every buffer is
// owned by the record; http_destroy is the one place that frees them.
#include <stdlib.h>
#include <string.h>

#include "http/http_internal.h"

namespace {

// Copies a terminated text into a fixed buffer, or refuses (3) when it
// would not fit with its terminator; the target is unchanged then.
HttpResult copy_text(char* target, int32_t capacity, const char* text) {
    size_t length = text == nullptr ? 0 : strlen(text);
    if (length + 1 > static_cast<size_t>(capacity)) {
        return HTTP_ERR_NO_ROOM;
    }
    memset(target, 0, static_cast<size_t>(capacity));
    if (length > 0) {
        memcpy(target, text, length);
    }
    return HTTP_OK;
}

bool fits(const char* text, int32_t capacity) {
    return text == nullptr || strlen(text) + 1 <= static_cast<size_t>(capacity);
}

HttpResult set_option(HttpRequest* request, HttpOptions bit, bool on) {
    if (request == nullptr) {
        return HTTP_ERR_NULL_REQUEST;
    }
    if (on) {
        request->options |= bit;
    } else {
        request->options &= ~bit;
    }
    return HTTP_OK;
}

}  // namespace

HttpRequest* http_create(void) {
    HttpRequest* request = static_cast<HttpRequest*>(calloc(1, sizeof(HttpRequest)));
    if (request == nullptr) {
        return nullptr;
    }
    request->headers = static_cast<char*>(calloc(1, HTTP_HEADERS_CAPACITY));
    if (request->headers == nullptr) {
        free(request);
        return nullptr;
    }
    request->headers_capacity = HTTP_HEADERS_CAPACITY;
    request->port = 80;
    request->socket = PLATFORM_SOCKET_NONE;
    request->request_timeout = HTTP_REQUEST_TIMEOUT_SECONDS;
    request->headers_timeout = HTTP_HEADERS_TIMEOUT_SECONDS;
    http_set_verb(request, HTTP_VERB_GET);
    return request;
}

HttpResult http_set_verb(HttpRequest* request, HttpVerb verb) {
    if (request == nullptr) {
        return HTTP_ERR_NULL_REQUEST;
    }
    const char* text;
    switch (verb) {
        case HTTP_VERB_GET:
            text = "GET";
            break;
        case HTTP_VERB_POST:
            text = "POST";
            break;
        default:
            return HTTP_ERR_VERB;
    }
    copy_text(request->verb_text, HTTP_VERB_TEXT_CAPACITY, text);
    request->verb = verb;
    return HTTP_OK;
}

HttpResult http_set_credentials(HttpRequest* request, const char* user, const char* password) {
    if (request == nullptr) {
        return HTTP_ERR_NULL_REQUEST;
    }
    if (!fits(user, HTTP_CREDENTIAL_CAPACITY) || !fits(password, HTTP_CREDENTIAL_CAPACITY)) {
        return HTTP_ERR_NO_ROOM;
    }
    copy_text(request->user, HTTP_CREDENTIAL_CAPACITY, user);
    copy_text(request->password, HTTP_CREDENTIAL_CAPACITY, password);
    return HTTP_OK;
}

HttpResult http_set_wanted_scheme(HttpRequest* request, int32_t scheme, const char* scheme_name) {
    if (request == nullptr) {
        return HTTP_ERR_NULL_REQUEST;
    }
    HttpResult result =
        copy_text(request->wanted_scheme_name, HTTP_CREDENTIAL_CAPACITY, scheme_name);
    if (result != HTTP_OK) {
        return result;
    }
    request->wanted_scheme = scheme;
    return HTTP_OK;
}

HttpResult http_set_force_basic(HttpRequest* request, bool on) {
    if (request == nullptr) {
        return HTTP_ERR_NULL_REQUEST;
    }
    request->force_basic = on ? 1 : 0;
    return HTTP_OK;
}

HttpResult http_set_proxy_basic_first(HttpRequest* request, bool on) {
    if (request == nullptr) {
        return HTTP_ERR_NULL_REQUEST;
    }
    request->proxy_basic_first = on ? 1 : 0;
    return HTTP_OK;
}

HttpResult http_set_proxy(HttpRequest* request, const char* host, uint16_t port) {
    if (request == nullptr) {
        return HTTP_ERR_NULL_REQUEST;
    }
    HttpResult result = copy_text(request->proxy_host, HTTP_PROXY_HOST_CAPACITY, host);
    if (result != HTTP_OK) {
        return result;
    }
    request->proxy_port = port;
    return set_option(request, HTTP_OPTION_PROXY, host != nullptr && host[0] != 0);
}

HttpResult http_set_proxy_credentials(HttpRequest* request, const char* user,
                                      const char* password) {
    if (request == nullptr) {
        return HTTP_ERR_NULL_REQUEST;
    }
    if (!fits(user, HTTP_CREDENTIAL_CAPACITY) || !fits(password, HTTP_CREDENTIAL_CAPACITY)) {
        return HTTP_ERR_NO_ROOM;
    }
    copy_text(request->proxy_user, HTTP_CREDENTIAL_CAPACITY, user);
    copy_text(request->proxy_password, HTTP_CREDENTIAL_CAPACITY, password);
    return HTTP_OK;
}

HttpResult http_set_keep_alive(HttpRequest* request, bool on) {
    return set_option(request, HTTP_OPTION_KEEP_ALIVE, on);
}

HttpResult http_set_no_cache(HttpRequest* request, bool on) {
    return set_option(request, HTTP_OPTION_NO_CACHE, on);
}

HttpResult http_set_chunked_upload(HttpRequest* request, bool on) {
    return set_option(request, HTTP_OPTION_CHUNKED_UPLOAD, on);
}

HttpResult http_set_test_timeouts(HttpRequest* request, uint32_t request_seconds,
                                  uint32_t headers_seconds) {
    if (request == nullptr) {
        return HTTP_ERR_NULL_REQUEST;
    }
    request->request_timeout =
        request_seconds != 0 ? request_seconds : HTTP_REQUEST_TIMEOUT_SECONDS;
    request->headers_timeout =
        headers_seconds != 0 ? headers_seconds : HTTP_HEADERS_TIMEOUT_SECONDS;
    return HTTP_OK;
}

HttpResult http_set_time_limit(HttpRequest* request, uint32_t milliseconds) {
    if (request == nullptr) {
        return HTTP_ERR_NULL_REQUEST;
    }
    request->end_ms = http_now_ms(request) + milliseconds;
    return HTTP_OK;
}

bool http_time_limit_passed(const HttpRequest* request) {
    return request != nullptr && request->end_ms != 0 && http_now_ms(request) >= request->end_ms;
}

HttpResult http_set_test_clock(HttpRequest* request, uint64_t (*now_ms)(void* context),
                               void* context) {
    if (request == nullptr) {
        return HTTP_ERR_NULL_REQUEST;
    }
    request->test_clock = now_ms;
    request->test_clock_context = context;
    return HTTP_OK;
}

HttpResult http_set_transport(HttpRequest* request, const HttpTransportHooks* hooks) {
    if (request == nullptr) {
        return HTTP_ERR_NULL_REQUEST;
    }
    request->transport = hooks;
    return HTTP_OK;
}

HttpResult http_destroy(HttpRequest** handle) {
    if (handle == nullptr || *handle == nullptr) {
        return HTTP_ERR_NULL_REQUEST;
    }
    HttpRequest* request = *handle;
    // The close may still send a TLS alert, so the TLS state goes after it;
    // nothing of the close touches the header buffer.
    free(request->headers);
    request->headers = nullptr;
    request->response_headers = nullptr;
    http_close_connection(request);
    if (request->tls.ready) {
        http_tls_teardown(&request->tls);
    }
    free(request);
    *handle = nullptr;
    return HTTP_OK;
}
