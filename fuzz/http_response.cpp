// Fuzzes response heads (status, lengths, connection, transfer coding,
// challenges and the Digest answer) and the body reading behind them.
// Byte 0 picks the piece size, byte 1 the body buffer and authentication.
#include "fuzz/fuzz_fetch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    static const int32_t kCapacities[] = {2, 3, 64, 1024, 20000};
    MemoryPeer peer;
    fuzz_peer_init(&peer, data + 2, size - 2, static_cast<size_t>(data[0] % 32) + 1);
    int32_t capacity = kCapacities[(data[1] & 0x07) % 5];
    int32_t scheme = (data[1] >> 3) & 0x03;  // none, Basic, Digest, Negotiate
    bool force_basic = (data[1] & 0x20) != 0;
    fuzz_fetch(&peer, capacity, scheme, force_basic);
    return 0;
}
