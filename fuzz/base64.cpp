// libFuzzer harness: the base64 decoder, its size rule and the strict DER
// check on whatever it decodes.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "http/base64.h"
#include "update/checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) {
        return 0;
    }
    const char* text = reinterpret_cast<const char*>(data);
    uint32_t n = static_cast<uint32_t>(size);
    uint32_t decoded_size = base64_decoded_size(text, n);
    if (decoded_size > n) {
        abort();
    }
    uint8_t* decoded = base64_decode(text, n);
    if (decoded == nullptr) {
        return 0;
    }
    // A text that decodes is whole groups of four with its size matching.
    if (n % 4 != 0 || decoded[decoded_size] != 0 || (n > 0 && decoded_size == 0)) {
        abort();
    }
    if (decoded_size != n / 4 * 3 - (n > 0 && text[n - 1] == '=') - (n > 1 && text[n - 2] == '=')) {
        abort();
    }
    // Encoding the bytes again gives a text that decodes to the same bytes.
    uint8_t copy[4096];
    memcpy(copy, decoded, decoded_size);
    char again[4096 / 3 * 4 + 8];
    uint32_t length = http_base64_encode(again, sizeof(again), copy, decoded_size);
    if (decoded_size > 0 && length == 0) {
        abort();
    }
    uint8_t* round = base64_decode(again, length);
    if (round == nullptr || base64_decoded_size(again, length) != decoded_size ||
        memcmp(round, copy, decoded_size) != 0) {
        abort();
    }
    (void)der_signature_is_strict(copy, decoded_size);
    return 0;
}
