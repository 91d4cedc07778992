// An in-memory peer for the client's byte movers: replies come from a
// string (in pieces of at most `piece` bytes), and what the client sends is
// recorded. A negative result can be injected once the reply runs out.
#pragma once

#include <string.h>

#include <string>

#include "http/http_internal.h"

struct MemoryPeer {
    std::string reply;
    size_t position = 0;
    size_t piece = 1 << 20;
    int32_t at_end = 0;  // what receive gives once the reply is used up
    std::string sent;
    HttpTransportHooks hooks;

    MemoryPeer() {
        hooks.receive = &MemoryPeer::receive;
        hooks.send = &MemoryPeer::send;
        hooks.context = this;
    }
    explicit MemoryPeer(std::string bytes) : MemoryPeer() { reply = std::move(bytes); }
    MemoryPeer(const MemoryPeer&) = delete;
    MemoryPeer& operator=(const MemoryPeer&) = delete;

    static int32_t receive(void* context, char* buffer, int32_t size) {
        MemoryPeer* peer = static_cast<MemoryPeer*>(context);
        if (peer->position >= peer->reply.size())
            return peer->at_end;
        size_t n = peer->reply.size() - peer->position;
        if (n > static_cast<size_t>(size))
            n = static_cast<size_t>(size);
        if (n > peer->piece)
            n = peer->piece;
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

// A request wired to the peer, with the tool's User-Agent set.
inline HttpRequest* memory_request(MemoryPeer* peer) {
    HttpRequest* request = http_create();
    http_set_transport(request, &peer->hooks);
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
        if (result != HTTP_OK && result != HTTP_END)
            return result;
        body->append(buffer.data(), static_cast<size_t>(count));
        if (pieces != nullptr)
            ++*pieces;
        if (result == HTTP_END)
            return result;
    }
    return -1;
}
