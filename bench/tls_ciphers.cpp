// The bulk ciphers the client offers and the hash the download runs, on
// this machine and in this build (the 32-bit exe's under Wine, or native),
// and the order the client offers its suites in here.
//
//   tls_ciphers
#include <stdio.h>

#include <string>

#include <mbedtls/ssl.h>

#include "bench/crypto_rates.h"
#include "http/http_internal.h"

int main() {
    http_tls_startup();
    const char* suites[] = {"TLS1-3-AES-128-GCM-SHA256", "TLS1-3-AES-256-GCM-SHA384",
                            "TLS1-3-CHACHA20-POLY1305-SHA256"};
    printf("one thread, %d-bit build:\n", static_cast<int>(8 * sizeof(void*)));
    printf("  %-28s %8.1f MB/s\n", "SHA-256", bench_sha256_rate());
    for (const char* suite : suites) {
        std::string cipher;
        double rate = bench_record_decrypt_rate(suite, &cipher);
        printf("  %-28s %8.1f MB/s  (16 KiB record decrypt)\n", cipher.c_str(), rate);
    }
    printf("the client offers first: %s\n", mbedtls_ssl_get_ciphersuite_name(http_tls_suites()[0]));
    return 0;
}
