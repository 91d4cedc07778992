// The TLS library's one-thread ceilings: SHA-256 and AEAD record decryption.
#include "bench/crypto_rates.h"

#include <stdint.h>

#include <chrono>
#include <vector>

#include <mbedtls/cipher.h>
#include <mbedtls/md.h>
#include <mbedtls/ssl_ciphersuites.h>

double bench_now_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double bench_sha256_rate() {
    std::vector<uint8_t> buffer(20000, 0x5a);
    mbedtls_md_context_t md;
    mbedtls_md_init(&md);
    double rate = 0;
    uint8_t out[32];
    if (mbedtls_md_setup(&md, mbedtls_md_info_from_type(MBEDTLS_MD_SHA256), 0) == 0 &&
        mbedtls_md_starts(&md) == 0) {
        size_t total = 0;
        double start = bench_now_seconds();
        while (bench_now_seconds() - start < 1.0) {
            for (int i = 0; i < 100; i++) {
                mbedtls_md_update(&md, buffer.data(), buffer.size());
            }
            total += 100 * buffer.size();
        }
        mbedtls_md_finish(&md, out);
        rate = total / (bench_now_seconds() - start) / 1e6;
    }
    mbedtls_md_free(&md);
    return rate;
}

double bench_record_decrypt_rate(const char* suite_name, std::string* cipher_name) {
    *cipher_name = "?";
    const mbedtls_ssl_ciphersuite_t* suite = mbedtls_ssl_ciphersuite_from_string(suite_name);
    if (suite == nullptr) {
        return 0;
    }
    // The suite record keeps its cipher private; a benchmark may look.
    const mbedtls_cipher_info_t* info = mbedtls_cipher_info_from_type(
        static_cast<mbedtls_cipher_type_t>(suite->MBEDTLS_PRIVATE(cipher)));
    if (info == nullptr) {
        return 0;
    }
    *cipher_name = mbedtls_cipher_info_get_name(info);
    mbedtls_cipher_mode_t mode = mbedtls_cipher_info_get_mode(info);
    if (mode != MBEDTLS_MODE_GCM && mode != MBEDTLS_MODE_CCM && mode != MBEDTLS_MODE_CHACHAPOLY) {
        *cipher_name += " (not measured: not AEAD)";
        return 0;
    }
    const size_t record = 16384, tag = 16;
    int bits = static_cast<int>(mbedtls_cipher_info_get_key_bitlen(info));
    std::vector<uint8_t> key(bits / 8, 7), iv(12, 9), ad(13, 1), plain(record, 3);
    std::vector<uint8_t> sealed(record + tag), opened(record);
    mbedtls_cipher_context_t enc, dec;
    mbedtls_cipher_init(&enc);
    mbedtls_cipher_init(&dec);
    size_t sealed_length = 0;
    double rate = 0;
    if (mbedtls_cipher_setup(&enc, info) == 0 && mbedtls_cipher_setup(&dec, info) == 0 &&
        mbedtls_cipher_setkey(&enc, key.data(), bits, MBEDTLS_ENCRYPT) == 0 &&
        mbedtls_cipher_setkey(&dec, key.data(), bits, MBEDTLS_DECRYPT) == 0 &&
        mbedtls_cipher_auth_encrypt_ext(&enc, iv.data(), iv.size(), ad.data(), ad.size(),
                                        plain.data(), record, sealed.data(), sealed.size(),
                                        &sealed_length, tag) == 0) {
        size_t total = 0;
        bool ok = true;
        double start = bench_now_seconds();
        while (ok && bench_now_seconds() - start < 1.0) {
            for (int i = 0; i < 50 && ok; i++) {
                size_t n = 0;
                ok = mbedtls_cipher_auth_decrypt_ext(&dec, iv.data(), iv.size(), ad.data(),
                                                     ad.size(), sealed.data(), sealed_length,
                                                     opened.data(), opened.size(), &n, tag) == 0;
                total += record;
            }
        }
        rate = ok ? total / (bench_now_seconds() - start) / 1e6 : 0;
    }
    mbedtls_cipher_free(&enc);
    mbedtls_cipher_free(&dec);
    return rate;
}
