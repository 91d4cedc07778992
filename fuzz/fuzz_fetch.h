// One whole fetch for the HTTP harnesses, through the tests' in-memory peer:
// the input is what the server "sends", in pieces whose size the input also
// picks.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "tests/http/memory_transport.h"

// A peer that replies with size bytes at data in pieces of at most piece
// bytes, then ends the connection.
inline void fuzz_peer_init(MemoryPeer* peer, const uint8_t* data, size_t size, size_t piece) {
    peer->reply.assign(reinterpret_cast<const char*>(data), size);
    peer->piece = piece;
}

// Drives one whole fetch the way the tool does and reads the body to its end.
inline void fuzz_fetch(MemoryPeer* peer, int32_t capacity, int32_t auth_scheme, bool force_basic) {
    HttpRequest* request = memory_request(peer);
    if (request == nullptr) {
        return;
    }
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
