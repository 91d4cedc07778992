// The suites the client offers: AEAD only, the faster bulk cipher first.
// Which is faster depends on the machine: with AES instructions AES-GCM is
// about as fast as ChaCha20-Poly1305 or faster, without them several times
// slower. One exe runs on both kinds, so the processor is asked at run time
// by timing one record of each.
#include <mbedtls/cipher.h>
#include <mbedtls/ssl_ciphersuites.h>

#include "http/http_internal.h"

#if defined(__i386__) || defined(__x86_64__)
#include <x86intrin.h>
#endif

namespace {

const int TLS_SUITES_AES_FIRST[] = {
    MBEDTLS_TLS1_3_AES_128_GCM_SHA256,
    MBEDTLS_TLS1_3_AES_256_GCM_SHA384,
    MBEDTLS_TLS1_3_CHACHA20_POLY1305_SHA256,
    MBEDTLS_TLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256,
    MBEDTLS_TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256,
    MBEDTLS_TLS_ECDHE_ECDSA_WITH_AES_256_GCM_SHA384,
    MBEDTLS_TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384,
    MBEDTLS_TLS_ECDHE_ECDSA_WITH_CHACHA20_POLY1305_SHA256,
    MBEDTLS_TLS_ECDHE_RSA_WITH_CHACHA20_POLY1305_SHA256,
    0,
};
const int TLS_SUITES_CHACHA_FIRST[] = {
    MBEDTLS_TLS1_3_CHACHA20_POLY1305_SHA256,
    MBEDTLS_TLS1_3_AES_128_GCM_SHA256,
    MBEDTLS_TLS1_3_AES_256_GCM_SHA384,
    MBEDTLS_TLS_ECDHE_ECDSA_WITH_CHACHA20_POLY1305_SHA256,
    MBEDTLS_TLS_ECDHE_RSA_WITH_CHACHA20_POLY1305_SHA256,
    MBEDTLS_TLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256,
    MBEDTLS_TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256,
    MBEDTLS_TLS_ECDHE_ECDSA_WITH_AES_256_GCM_SHA384,
    MBEDTLS_TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384,
    0,
};

// Written once by start-up before any other thread runs, then only read.
const int* chosen_suites = TLS_SUITES_CHACHA_FIRST;

// One timed record: 4 KiB, a few microseconds, taken three times.
constexpr size_t TLS_PROBE_BYTES = 4096;
constexpr int TLS_PROBE_ROUNDS = 3;

#if defined(__i386__) || defined(__x86_64__)
// Processor cycles for the fastest of three seals of one record with the
// cipher, or UINT64_MAX when the cipher cannot run.
uint64_t seal_cycles(mbedtls_cipher_type_t type) {
    static unsigned char plain[TLS_PROBE_BYTES];
    static unsigned char sealed[TLS_PROBE_BYTES + 16];
    const unsigned char key[32] = {1};
    const unsigned char iv[12] = {2};
    const unsigned char header[13] = {23, 3, 3};
    uint64_t best = UINT64_MAX;
    mbedtls_cipher_context_t context;
    mbedtls_cipher_init(&context);
    const mbedtls_cipher_info_t* info = mbedtls_cipher_info_from_type(type);
    if (info != nullptr && mbedtls_cipher_setup(&context, info) == 0 &&
        mbedtls_cipher_setkey(&context, key,
                              static_cast<int>(mbedtls_cipher_info_get_key_bitlen(info)),
                              MBEDTLS_ENCRYPT) == 0) {
        for (int round = 0; round < TLS_PROBE_ROUNDS; ++round) {
            size_t length = 0;
            uint64_t start = __rdtsc();
            int ret = mbedtls_cipher_auth_encrypt_ext(&context, iv, sizeof iv, header,
                                                      sizeof header, plain, sizeof plain, sealed,
                                                      sizeof sealed, &length, 16);
            uint64_t cycles = __rdtsc() - start;
            if (ret != 0) {
                best = UINT64_MAX;
                break;
            }
            best = cycles < best ? cycles : best;
        }
    }
    mbedtls_cipher_free(&context);
    return best;
}
#endif

}  // namespace

void http_tls_choose_suites(void) {
#if defined(__i386__) || defined(__x86_64__)
    uint64_t aes = seal_cycles(MBEDTLS_CIPHER_AES_128_GCM);
    uint64_t chacha = seal_cycles(MBEDTLS_CIPHER_CHACHA20_POLY1305);
    chosen_suites = aes < chacha ? TLS_SUITES_AES_FIRST : TLS_SUITES_CHACHA_FIRST;
#endif
}

const int* http_tls_suites(void) {
    return chosen_suites;
}
