// The in-memory peer the HTTP harnesses feed the client through: the input
// is what the server "sends", in pieces whose size the input also picks.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "http/http_internal.h"

struct FuzzPeer {
    const uint8_t* data;
    size_t size;
    size_t position;
    size_t piece;
};

inline int32_t fuzz_peer_receive(void* context, char* buffer, int32_t size) {
    FuzzPeer* peer = static_cast<FuzzPeer*>(context);
    if (peer->position >= peer->size) {
        return 0;
    }
    size_t n = peer->size - peer->position;
    if (n > static_cast<size_t>(size)) {
        n = static_cast<size_t>(size);
    }
    if (n > peer->piece) {
        n = peer->piece;
    }
    memcpy(buffer, peer->data + peer->position, n);
    peer->position += n;
    return static_cast<int32_t>(n);
}

inline int32_t fuzz_peer_send(void*, const char*, int32_t length) {
    return length;
}

// Drives one whole fetch the way the tool does and reads the body to its end.
inline void fuzz_fetch(FuzzPeer* peer, int32_t capacity, int32_t auth_scheme, bool force_basic) {
    HttpTransportHooks hooks{fuzz_peer_receive, fuzz_peer_send, peer};
    HttpRequest* request = http_create();
    if (request == nullptr) {
        return;
    }
    http_set_transport(request, &hooks);
    http_set_user_agent(request);
    if (auth_scheme != HTTP_AUTH_NONE || force_basic) {
        http_set_credentials(request, "user", "password");
        http_set_proxy_credentials(request, "proxy", "secret");
        http_set_wanted_scheme(request, auth_scheme, "");
        http_set_force_basic(request, force_basic);
    }
    if (http_send_request(request, "http://fuzz.example/path?q=1") == HTTP_OK &&
        http_receive_headers(request) == HTTP_OK) {
        static char buffer[20000];
        for (int guard = 0; guard < 100000; ++guard) {
            int32_t count = 0;
            HttpResult result = http_read_body(request, buffer, capacity, &count);
            if (count < 0 || count > capacity - 1 || buffer[count] != 0) {
                __builtin_trap();
            }
            if (result != HTTP_OK) {
                break;
            }
        }
    }
    http_destroy(&request);
}
