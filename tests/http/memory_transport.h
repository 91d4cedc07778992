// An in-memory peer for the client's byte movers, shared by the tests and
// the HTTP fuzz harnesses: replies come from a string (in pieces of at most
// `piece` bytes), and what the client sends is recorded. A negative result
// can be injected once the reply runs out. The peer also keeps the
// request's clock: it stands still except while the peer is silent (a pause
// at a reply offset, or a stall at the end), which moves it on in steps of
// 100 ms.
#pragma once

#include <string.h>

#include <string>
#include <vector>

#include "http/http_internal.h"

struct MemoryPeer {
    std::string reply;
    size_t position = 0;
    size_t piece = 1 << 20;
    int32_t at_end = 0;         // what receive gives once the reply is used up
    bool stall_at_end = false;  // silent for ever once the reply is used up
    std::string sent;
    HttpTransportHooks hooks;
    uint64_t now_ms = 0;
    struct Pause {
        size_t at;        // reply offset the peer falls silent at
        uint64_t for_ms;  // how long, left
    };
    std::vector<Pause> pauses;
    static constexpr uint64_t kStepMs = 100;

    MemoryPeer() {
        hooks.receive = &MemoryPeer::receive;
        hooks.send = &MemoryPeer::send;
        hooks.context = this;
    }
    explicit MemoryPeer(std::string bytes) : MemoryPeer() { reply = std::move(bytes); }
    MemoryPeer(const MemoryPeer&) = delete;
    MemoryPeer& operator=(const MemoryPeer&) = delete;

    static uint64_t clock(void* context) { return static_cast<MemoryPeer*>(context)->now_ms; }

    // Silent now: the clock moves on by one step.
    bool silent() {
        for (Pause& pause : pauses) {
            if (pause.at == position && pause.for_ms > 0) {
                uint64_t step = pause.for_ms < kStepMs ? pause.for_ms : kStepMs;
                pause.for_ms -= step;
                now_ms += step;
                return true;
            }
        }
        if (position >= reply.size() && stall_at_end) {
            now_ms += kStepMs;
            return true;
        }
        return false;
    }

    static int32_t receive(void* context, char* buffer, int32_t size) {
        MemoryPeer* peer = static_cast<MemoryPeer*>(context);
        if (peer->silent()) {
            return HTTP_TRANSPORT_NOT_READY;
        }
        if (peer->position >= peer->reply.size()) {
            return peer->at_end;
        }
        size_t n = peer->reply.size() - peer->position;
        if (n > static_cast<size_t>(size)) {
            n = static_cast<size_t>(size);
        }
        if (n > peer->piece) {
            n = peer->piece;
        }
        // A piece stops where a pause begins.
        for (const Pause& pause : peer->pauses) {
            if (pause.for_ms > 0 && pause.at > peer->position && pause.at < peer->position + n) {
                n = pause.at - peer->position;
            }
        }
        memcpy(buffer, peer->reply.data() + peer->position, n);
        peer->position += n;
        return static_cast<int32_t>(n);
    }
    static int32_t send(void* context, const char* data, int32_t length) {
        MemoryPeer* peer = static_cast<MemoryPeer*>(context);
        peer->sent.append(data, static_cast<size_t>(length));
        return length;
    }
};

// A request wired to the peer and to its clock.
inline HttpRequest* memory_request(MemoryPeer* peer) {
    HttpRequest* request = http_create();
    http_set_transport(request, &peer->hooks);
    http_set_test_clock(request, &MemoryPeer::clock, peer);
    return request;
}

// Reads the whole body; returns the last result (HTTP_END on success).
inline HttpResult read_whole_body(HttpRequest* request, std::string* body, int32_t capacity = 1024,
                                  int32_t* pieces = nullptr) {
    std::string buffer(static_cast<size_t>(capacity), '\0');
    body->clear();
    for (int guard = 0; guard < 1000000; ++guard) {
        int32_t count = -1;
        HttpResult result = http_read_body(request, &buffer[0], capacity, &count);
        if (result != HTTP_OK && result != HTTP_END) {
            return result;
        }
        body->append(buffer.data(), static_cast<size_t>(count));
        if (pieces != nullptr) {
            ++*pieces;
        }
        if (result == HTTP_END) {
            return result;
        }
    }
    return -1;
}
