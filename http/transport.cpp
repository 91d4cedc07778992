// The connection and the two byte movers. Every wait is bounded, and every
// loop here ends at the request's deadline; the socket is never blocked on.
#include "http/http_internal.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t HTTP_SEND_WAIT_MS = 1000;
constexpr uint32_t HTTP_RECEIVE_WAIT_MS = 50;

HttpResult hook_send(HttpRequest* request, const char* data, int32_t* length) {
    int32_t n = request->transport->send(request->transport->context, data, *length);
    if (n < 0) {
        *length = 0;
        return HTTP_ERR_SEND;
    }
    *length = n;
    return HTTP_OK;
}

HttpResult hook_receive(HttpRequest* request, char* buffer, int32_t* size) {
    int32_t n = request->transport->receive(request->transport->context, buffer, *size);
    // Like the socket's loop of empty waits, bounded by the deadline.
    while (n == HTTP_TRANSPORT_NOT_READY) {
        if (http_deadline_passed(request)) {
            *size = 0;
            return HTTP_ERR_TIMEOUT;
        }
        n = request->transport->receive(request->transport->context, buffer, *size);
    }
    if (n < 0) {
        *size = 0;
        return HTTP_ERR_RECV;
    }
    *size = n;
    return n == 0 ? HTTP_END : HTTP_OK;
}

}  // namespace

uint64_t http_now_ms(const HttpRequest* request) {
    if (request->test_clock != nullptr) {
        return request->test_clock(request->test_clock_context);
    }
    return platform_tick64_ms();
}

bool http_deadline_passed(const HttpRequest* request) {
    if (http_time_limit_passed(request)) {
        return true;
    }
    uint64_t now = http_now_ms(request);
    return now - request->start_ms >= static_cast<uint64_t>(request->timeout) * 1000u;
}

void http_start_deadline(HttpRequest* request, uint32_t seconds) {
    request->start_ms = http_now_ms(request);
    request->timeout = seconds;
}

bool http_tls_in_use(const HttpRequest* request) {
    if (!(request->options & HTTP_OPTION_TLS)) {
        return false;
    }
    return !http_needs_tunnel(request) || request->tunnel_ready;
}

HttpResult http_open_socket(HttpRequest* request) {
    if (request->transport != nullptr) {
        return HTTP_OK;
    }
    request->wait_events = 0;
    request->tunnel_ready = 0;
    request->socket = platform_net_socket_tcp();
    if (request->socket == PLATFORM_SOCKET_NONE) {
        return HTTP_ERR_SOCKET;
    }
    if (!platform_net_set_nonblocking(request->socket)) {
        return HTTP_ERR_NONBLOCK;
    }

    uint32_t address = 0;
    uint16_t port = request->port;
    if (request->options & HTTP_OPTION_PROXY) {
        if (!http_resolve_host(request->proxy_host, &address)) {
            return HTTP_ERR_CONNECT;
        }
        port = request->proxy_port;
    } else {
        char host[HTTP_URL_CAPACITY];
        if (http_copy_host(request, host, sizeof host) != HTTP_OK) {
            return HTTP_ERR_CONNECT;
        }
        if (!http_resolve_host(host, &address)) {
            return HTTP_ERR_CONNECT;
        }
    }
    int32_t started = platform_net_connect(request->socket, address, port);
    if (started != PLATFORM_NET_OK && started != PLATFORM_NET_WOULD_BLOCK &&
        started != PLATFORM_NET_IN_PROGRESS) {
        return HTTP_ERR_CONNECT;
    }
    request->tls_handshake_done = 0;
    request->wait_events = PLATFORM_NET_WRITABLE;
    return HTTP_OK;
}

HttpResult http_connect(HttpRequest* request) {
    if (request->transport == nullptr) {
        if (request->socket != PLATFORM_SOCKET_NONE) {
            return HTTP_OK;
        }
        HttpResult result = http_open_socket(request);
        if (result != HTTP_OK) {
            return result;
        }
    } else if (request->tunnel_ready) {
        return HTTP_OK;
    }
    if (http_needs_tunnel(request)) {
        HttpResult result = http_tunnel_open(request);
        if (result != HTTP_OK) {
            return result;
        }
    }
    // After the tunnel: its 407 may have put the exchange on a new socket.
    if (request->transport == nullptr && (request->options & HTTP_OPTION_TLS)) {
        http_tls_attach(request);
    }
    return HTTP_OK;
}

HttpResult http_send_bytes(HttpRequest* request, const char* data, int32_t* length) {
    if (request->transport != nullptr) {
        return hook_send(request, data, length);
    }
    const bool tls = http_tls_in_use(request);
    // The direction the last attempt asked for: TLS may need to read (or
    // write again) before the same data can be offered once more.
    uint32_t want = PLATFORM_NET_WRITABLE;
    do {
        int32_t ready = platform_net_wait(request->socket, want, HTTP_SEND_WAIT_MS);
        if (ready < 0) {
            *length = 0;
            return HTTP_OK;
        }
        if (ready == 0) {
            continue;
        }
        if (ready & PLATFORM_NET_ERROR) {
            *length = 0;
            return HTTP_ERR_SEND;
        }
        int32_t n;
        if (tls) {
            if (!request->tls_handshake_done) {
                if (http_tls_handshake(request) != HTTP_OK) {
                    *length = 0;
                    return HTTP_ERR_TLS_HANDSHAKE;
                }
                request->tls_handshake_done = 1;
            }
            n = http_tls_write(request, data, *length);
            if (n == HTTP_TLS_WANT_READ || n == HTTP_TLS_WANT_WRITE) {
                want = n == HTTP_TLS_WANT_READ ? PLATFORM_NET_READABLE : PLATFORM_NET_WRITABLE;
                continue;
            }
        } else {
            n = platform_net_send(request->socket, data, *length);
            if (n < 0 && platform_net_last_error() == PLATFORM_NET_WOULD_BLOCK) {
                continue;
            }
        }
        if (n < 0) {
            *length = 0;
            return HTTP_ERR_SEND;
        }
        *length = n;
        return HTTP_OK;
    } while (!http_deadline_passed(request));
    *length = 0;
    return HTTP_ERR_TIMEOUT;
}

HttpResult http_send_all(HttpRequest* request, const char* data, int32_t length) {
    while (length > 0) {
        int32_t accepted = length;
        HttpResult result = http_send_bytes(request, data, &accepted);
        if (result != HTTP_OK) {
            return result;
        }
        // A failed wait accepted nothing; the deadline still ends the loop.
        if (accepted == 0 && http_deadline_passed(request)) {
            return HTTP_ERR_TIMEOUT;
        }
        data += accepted;
        length -= accepted;
    }
    return HTTP_OK;
}

HttpResult http_receive_bytes(HttpRequest* request, char* buffer, int32_t* size) {
    if (request->transport != nullptr) {
        return hook_receive(request, buffer, size);
    }
    const bool tls = http_tls_in_use(request);
    uint32_t want = PLATFORM_NET_READABLE;
    const int32_t asked = *size;
    do {
        if (!(tls && http_tls_pending(request) > 0)) {
            int32_t ready = platform_net_wait(request->socket, want, HTTP_RECEIVE_WAIT_MS);
            if (ready < 0) {
                *size = 0;
                return HTTP_OK;
            }
            if (ready == 0) {
                continue;
            }
            if (ready & PLATFORM_NET_ERROR) {
                *size = 0;
                return HTTP_ERR_RECV;
            }
        }
        int32_t n;
        if (tls) {
            n = http_tls_read(request, buffer, asked);
            if (n == HTTP_TLS_WANT_READ || n == HTTP_TLS_WANT_WRITE) {
                want = n == HTTP_TLS_WANT_READ ? PLATFORM_NET_READABLE : PLATFORM_NET_WRITABLE;
                continue;
            }
            // The peer's close-notify ends the transport like a closed socket.
            if (n == HTTP_TLS_CLOSED) {
                n = 0;
            }
        } else {
            n = platform_net_recv(request->socket, buffer, asked);
            if (n < 0 && platform_net_last_error() == PLATFORM_NET_WOULD_BLOCK) {
                continue;
            }
        }
        if (n < 0) {
            *size = 0;
            return HTTP_ERR_RECV;
        }
        *size = n;
        return n == 0 ? HTTP_END : HTTP_OK;
    } while (!http_deadline_passed(request));
    *size = 0;
    return HTTP_ERR_TIMEOUT;
}

HttpResult http_close_connection(HttpRequest* request) {
    if (request == nullptr) {
        return HTTP_ERR_NULL_REQUEST;
    }
    // A hooked transport has no socket, but its tunnel ends here all the same.
    const bool tls = http_tls_in_use(request) && request->tls.ready;
    request->tunnel_ready = 0;
    if (request->socket == PLATFORM_SOCKET_NONE) {
        return HTTP_ERR_SOCKET;
    }
    if (tls) {
        http_tls_close_notify(request);
    }
    platform_net_shutdown_send(request->socket);
    platform_net_close(request->socket);
    request->socket = PLATFORM_SOCKET_NONE;
    request->tls_handshake_done = 0;
    return HTTP_OK;
}
