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

// One timed record of 4 KiB (a few microseconds), sealed eight times with
// each cipher in turn, so that a pause of the thread or a change of clock
// speed cannot fall on one cipher's rounds alone; the fastest round counts.
constexpr size_t TLS_PROBE_BYTES = 4096;
constexpr int TLS_PROBE_ROUNDS = 8;

#if defined(__i386__) || defined(__x86_64__)
struct TlsProbe {
    mbedtls_cipher_context_t context;
    bool ready;
    uint64_t best;  // processor cycles of the fastest seal; UINT64_MAX for none
};

void probe_setup(TlsProbe* probe, mbedtls_cipher_type_t type) {
    const unsigned char key[32] = {1};
    mbedtls_cipher_init(&probe->context);
    const mbedtls_cipher_info_t* info = mbedtls_cipher_info_from_type(type);
    probe->ready = info != nullptr && mbedtls_cipher_setup(&probe->context, info) == 0 &&
                   mbedtls_cipher_setkey(&probe->context, key,
                                         static_cast<int>(mbedtls_cipher_info_get_key_bitlen(info)),
                                         MBEDTLS_ENCRYPT) == 0;
    probe->best = UINT64_MAX;
}

// One seal; a cipher that fails once is out of the race.
void probe_round(TlsProbe* probe) {
    static unsigned char plain[TLS_PROBE_BYTES];
    static unsigned char sealed[TLS_PROBE_BYTES + 16];
    const unsigned char iv[12] = {2};
    const unsigned char header[13] = {23, 3, 3};
    if (!probe->ready) {
        return;
    }
    size_t length = 0;
    uint64_t start = __rdtsc();
    int ret =
        mbedtls_cipher_auth_encrypt_ext(&probe->context, iv, sizeof iv, header, sizeof header,
                                        plain, sizeof plain, sealed, sizeof sealed, &length, 16);
    uint64_t cycles = __rdtsc() - start;
    if (ret != 0) {
        probe->ready = false;
        probe->best = UINT64_MAX;
        return;
    }
    probe->best = cycles < probe->best ? cycles : probe->best;
}
#endif

}  // namespace

void http_tls_choose_suites(void) {
#if defined(__i386__) || defined(__x86_64__)
    TlsProbe aes, chacha;
    probe_setup(&aes, MBEDTLS_CIPHER_AES_128_GCM);
    probe_setup(&chacha, MBEDTLS_CIPHER_CHACHA20_POLY1305);
    for (int round = 0; round < TLS_PROBE_ROUNDS; ++round) {
        probe_round(&aes);
        probe_round(&chacha);
    }
    mbedtls_cipher_free(&aes.context);
    mbedtls_cipher_free(&chacha.context);
    chosen_suites = aes.best < chacha.best ? TLS_SUITES_AES_FIRST : TLS_SUITES_CHACHA_FIRST;
#endif
}

const int* http_tls_suites(void) {
    return chosen_suites;
}
