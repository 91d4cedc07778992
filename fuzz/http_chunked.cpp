// Fuzzes chunked bodies: a fixed chunked head, then the input as the body.
// Byte 0 picks the piece size, byte 1 the body buffer.
#include <string.h>

#include "fuzz/fuzz_fetch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    static const char kHead[] = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    static uint8_t message[1 << 16];
    size_t head = sizeof kHead - 1;
    size_t body = size - 2;
    if (head + body > sizeof message) {
        body = sizeof message - head;
    }
    memcpy(message, kHead, head);
    memcpy(message + head, data + 2, body);
    static const int32_t kCapacities[] = {2, 5, 64, 1024, 20000};
    MemoryPeer peer;
    fuzz_peer_init(&peer, message, head + body, static_cast<size_t>(data[0] % 16) + 1);
    fuzz_fetch(&peer, kCapacities[data[1] % 5], HTTP_AUTH_NONE, false);
    return 0;
}
