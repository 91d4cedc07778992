// Mbed TLS over the request's own non-blocking socket: no certificate
// verification (the payloads carry their own signatures), the host name sent
// for SNI, and every step bounded by the request's deadline.
#include <stdlib.h>
#include <string.h>

#include <mbedtls/net_sockets.h>
#include <psa/crypto.h>

#include "http/http_internal.h"

namespace {

constexpr uint32_t HTTP_HANDSHAKE_WAIT_MS = 1;

// The socket value itself is the callback context, so the callbacks need
// nothing of the request.
int tls_send_callback(void* context, const unsigned char* data, size_t length) {
    PlatformSocket socket = static_cast<PlatformSocket>(reinterpret_cast<intptr_t>(context));
    int32_t n = platform_net_send(socket, data, static_cast<int32_t>(length));
    if (n >= 0) {
        return n;
    }
    switch (platform_net_last_error()) {
        case PLATFORM_NET_WOULD_BLOCK:
            return MBEDTLS_ERR_SSL_WANT_WRITE;
        case PLATFORM_NET_CONN_RESET:
            return MBEDTLS_ERR_NET_CONN_RESET;
        default:
            return MBEDTLS_ERR_NET_SEND_FAILED;
    }
}

int tls_receive_callback(void* context, unsigned char* buffer, size_t size) {
    PlatformSocket socket = static_cast<PlatformSocket>(reinterpret_cast<intptr_t>(context));
    int32_t n = platform_net_recv(socket, buffer, static_cast<int32_t>(size));
    if (n >= 0) {
        return n;
    }
    switch (platform_net_last_error()) {
        case PLATFORM_NET_WOULD_BLOCK:
            return MBEDTLS_ERR_SSL_WANT_READ;
        case PLATFORM_NET_CONN_RESET:
            return MBEDTLS_ERR_NET_CONN_RESET;
        default:
            return MBEDTLS_ERR_NET_RECV_FAILED;
    }
}

// Digits and dots only: an address, which the server-name extension may not
// carry (only host names go there).
bool is_address_literal(const char* host) {
    if (host == nullptr || host[0] == 0) {
        return false;
    }
    for (const char* p = host; *p != 0; ++p) {
        if ((*p < '0' || *p > '9') && *p != '.') {
            return false;
        }
    }
    return true;
}

int32_t map_step(int ret) {
    if (ret >= 0) {
        return ret;
    }
    switch (ret) {
        case MBEDTLS_ERR_SSL_WANT_READ:
            return HTTP_TLS_WANT_READ;
        case MBEDTLS_ERR_SSL_WANT_WRITE:
            return HTTP_TLS_WANT_WRITE;
        case MBEDTLS_ERR_SSL_PEER_CLOSE_NOTIFY:
            return HTTP_TLS_CLOSED;
        default:
            return HTTP_TLS_FAILED;
    }
}

}  // namespace

bool http_tls_startup(void) {
    http_tls_choose_suites();
    return psa_crypto_init() == PSA_SUCCESS;
}

bool http_tls_setup(HttpTlsState* tls) {
    memset(&tls->entropy, 0, sizeof tls->entropy);
    memset(&tls->drbg, 0, sizeof tls->drbg);
    memset(&tls->ssl, 0, sizeof tls->ssl);
    memset(&tls->config, 0, sizeof tls->config);
    // Every context is initialised before any can fail, so that the one
    // teardown frees them whatever step failed.
    mbedtls_entropy_init(&tls->entropy);
    mbedtls_ctr_drbg_init(&tls->drbg);
    mbedtls_ssl_init(&tls->ssl);
    mbedtls_ssl_config_init(&tls->config);
    tls->ready = 1;

    bool ok =
        mbedtls_ctr_drbg_seed(&tls->drbg, mbedtls_entropy_func, &tls->entropy, nullptr, 0) == 0 &&
        mbedtls_ssl_config_defaults(&tls->config, MBEDTLS_SSL_IS_CLIENT,
                                    MBEDTLS_SSL_TRANSPORT_STREAM, MBEDTLS_SSL_PRESET_DEFAULT) == 0;
    if (ok) {
        mbedtls_ssl_conf_authmode(&tls->config, MBEDTLS_SSL_VERIFY_NONE);
        mbedtls_ssl_conf_rng(&tls->config, mbedtls_ctr_drbg_random, &tls->drbg);
        mbedtls_ssl_conf_ciphersuites(&tls->config, http_tls_suites());
        ok = mbedtls_ssl_setup(&tls->ssl, &tls->config) == 0;
    }
    if (!ok) {
        http_tls_teardown(tls);
    }
    return ok;
}

HttpResult http_tls_set_host(HttpTlsState* tls, const char* host, int32_t length) {
    char* copy = static_cast<char*>(malloc(static_cast<size_t>(length) + 1));
    if (copy == nullptr) {
        return HTTP_ERR_NO_ROOM;
    }
    if (length > 0) {
        memcpy(copy, host, static_cast<size_t>(length));
    }
    copy[length] = 0;
    free(tls->host_name);
    tls->host_name = copy;
    return HTTP_OK;
}

void http_tls_attach(HttpRequest* request) {
    HttpTlsState* tls = &request->tls;
    // A context that ran on an earlier connection starts afresh.
    mbedtls_ssl_session_reset(&tls->ssl);
    mbedtls_ssl_set_bio(&tls->ssl, reinterpret_cast<void*>(static_cast<intptr_t>(request->socket)),
                        tls_send_callback, tls_receive_callback, nullptr);
}

HttpResult http_tls_handshake(HttpRequest* request) {
    HttpTlsState* tls = &request->tls;
    const char* name = is_address_literal(tls->host_name) ? nullptr : tls->host_name;
    if (mbedtls_ssl_set_hostname(&tls->ssl, name) != 0) {
        return HTTP_ERR_TLS_HANDSHAKE;
    }
    for (;;) {
        int32_t step = map_step(mbedtls_ssl_handshake(&tls->ssl));
        if (step == 0) {
            return HTTP_OK;
        }
        if (step != HTTP_TLS_WANT_READ && step != HTTP_TLS_WANT_WRITE) {
            return HTTP_ERR_TLS_HANDSHAKE;
        }
        // A peer that stalls the handshake is bounded like any other wait.
        if (http_deadline_passed(request)) {
            return HTTP_ERR_TLS_HANDSHAKE;
        }
        uint32_t want = step == HTTP_TLS_WANT_READ ? PLATFORM_NET_READABLE : PLATFORM_NET_WRITABLE;
        platform_net_wait(request->socket, want, HTTP_HANDSHAKE_WAIT_MS);
    }
}

int32_t http_tls_write(HttpRequest* request, const char* data, int32_t length) {
    int ret = mbedtls_ssl_write(&request->tls.ssl, reinterpret_cast<const unsigned char*>(data),
                                static_cast<size_t>(length));
    int32_t step = map_step(ret);
    return step == HTTP_TLS_CLOSED ? HTTP_TLS_FAILED : step;
}

int32_t http_tls_read(HttpRequest* request, char* buffer, int32_t size) {
    int ret = mbedtls_ssl_read(&request->tls.ssl, reinterpret_cast<unsigned char*>(buffer),
                               static_cast<size_t>(size));
    return ret == 0 ? HTTP_TLS_CLOSED : map_step(ret);
}

int32_t http_tls_pending(HttpRequest* request) {
    return static_cast<int32_t>(mbedtls_ssl_get_bytes_avail(&request->tls.ssl));
}

void http_tls_close_notify(HttpRequest* request) {
    mbedtls_ssl_close_notify(&request->tls.ssl);
}

void http_tls_teardown(HttpTlsState* tls) {
    mbedtls_ssl_free(&tls->ssl);
    mbedtls_ssl_config_free(&tls->config);
    mbedtls_ctr_drbg_free(&tls->drbg);
    mbedtls_entropy_free(&tls->entropy);
    free(tls->host_name);
    tls->host_name = nullptr;
    tls->ready = 0;
}
