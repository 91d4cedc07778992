// Download throughput of the client against curl from a loopback nginx,
// over HTTP and HTTPS, plus the Mbed TLS decryption ceiling for the cipher
// suite our connection negotiated, and a rate-limited case.
//
//   http_download [rounds] [size_mib]     (defaults 3 and 256)
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <random>
#include <string>
#include <vector>

#include <mbedtls/ssl_ciphersuites.h>

#include "bench/crypto_rates.h"
#include "http/http.h"
#include "tests/support/servers.h"

namespace {

constexpr int32_t kBufferSize = 20000;  // the program-file download's buffer

struct Fetch {
    bool ok = false;
    double seconds = 0;
    uint64_t bytes = 0;
    int suite = 0;
};

// Our read loop, as the update engine runs it: pieces of at most 19999 bytes.
Fetch ours(const std::string& url) {
    Fetch out;
    static char buffer[kBufferSize];
    double start = bench_now_seconds();
    HttpRequest* request = http_create();
    http_set_user_agent(request);
    http_set_verb(request, HTTP_VERB_GET);
    HttpResult result = http_send_request(request, url.c_str());
    if (result == HTTP_OK) {
        result = http_receive_headers(request);
    }
    while (result == HTTP_OK) {
        int32_t count = 0;
        result = http_read_body(request, buffer, kBufferSize, &count);
        out.bytes += static_cast<uint64_t>(count);
    }
    if (request->options & HTTP_OPTION_TLS) {
        out.suite = mbedtls_ssl_get_ciphersuite_id(mbedtls_ssl_get_ciphersuite(&request->tls.ssl));
    }
    out.ok = result == HTTP_END;
    http_destroy(&request);
    out.seconds = bench_now_seconds() - start;
    return out;
}

Fetch with_curl(const std::string& url) {
    Fetch out;
    std::string command = "/usr/bin/curl -s -o /dev/null -w '%{size_download}' ";
    if (url.compare(0, 8, "https://") == 0) {
        command += "-k ";
    }
    command += url;
    double start = bench_now_seconds();
    int code = 0;
    std::string size = test_run_capture(command, &code);
    out.seconds = bench_now_seconds() - start;
    out.ok = code == 0;
    out.bytes = strtoull(size.c_str(), nullptr, 10);
    return out;
}

double mb_per_s(uint64_t bytes, double seconds) {
    return bytes / seconds / 1e6;
}

struct Totals {
    uint64_t bytes = 0;
    double seconds = 0;
    void add(const Fetch& f) {
        bytes += f.bytes;
        seconds += f.seconds;
    }
};

}  // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? atoi(argv[1]) : 3;
    size_t mib = argc > 2 ? static_cast<size_t>(atoi(argv[2])) : 256;
    size_t limited_mib = 64;
    platform_net_startup();
    http_tls_startup();

    TestTempDir content;
    {
        std::mt19937_64 random(42);
        std::string block(1 << 20, '\0');
        for (char& c : block) {
            c = static_cast<char>(random());
        }
        FILE* file = fopen(content.file("big.bin").c_str(), "wb");
        for (size_t i = 0; i < mib; ++i) {
            fwrite(block.data(), 1, block.size(), file);
        }
        fclose(file);
        file = fopen(content.file("limited.bin").c_str(), "wb");
        for (size_t i = 0; i < limited_mib; ++i) {
            fwrite(block.data(), 1, block.size(), file);
        }
        fclose(file);
    }
    NginxServer nginx;
    NginxOptions options;
    options.root = content.path();
    options.https = true;
    options.server_config = "location = /limited.bin { limit_rate 20m; }\n";
    std::string error;
    if (!nginx.start(options, &error)) {
        fprintf(stderr, "http_download: %s\n", error.c_str());
        return 1;
    }
    const uint64_t expected = static_cast<uint64_t>(mib) << 20;
    const char* schemes[] = {"http", "https"};
    int suite = 0;
    for (const char* scheme : schemes) {
        std::string url = std::string(scheme) == "http" ? nginx.http_url("/big.bin")
                                                        : nginx.https_url("/big.bin");
        ours(url);  // warm the page cache and the server
        Totals mine, theirs;
        for (int round = 0; round < rounds; ++round) {
            Fetch a = ours(url);
            Fetch b = with_curl(url);
            if (!a.ok || a.bytes != expected || !b.ok || b.bytes != expected) {
                fprintf(stderr, "http_download: %s fetch failed (ours %llu, curl %llu bytes)\n",
                        scheme, static_cast<unsigned long long>(a.bytes),
                        static_cast<unsigned long long>(b.bytes));
                return 1;
            }
            if (a.suite != 0) {
                suite = a.suite;
            }
            printf("  %-5s round %d: ours %8.1f MB/s   curl %8.1f MB/s\n", scheme, round + 1,
                   mb_per_s(a.bytes, a.seconds), mb_per_s(b.bytes, b.seconds));
            mine.add(a);
            theirs.add(b);
        }
        double our_rate = mb_per_s(mine.bytes, mine.seconds);
        double curl_rate = mb_per_s(theirs.bytes, theirs.seconds);
        printf("%-5s %zu MiB x %d: ours %.1f MB/s, curl %.1f MB/s, ours/curl %.3f\n", scheme, mib,
               rounds, our_rate, curl_rate, our_rate / curl_rate);
        if (std::string(scheme) == "https") {
            std::string cipher;
            double ceiling =
                bench_record_decrypt_rate(mbedtls_ssl_get_ciphersuite_name(suite), &cipher);
            printf("https suite %s (%s): Mbed TLS decrypt ceiling %.1f MB/s, ours/ceiling %.3f\n",
                   mbedtls_ssl_get_ciphersuite_name(suite), cipher.c_str(), ceiling,
                   ceiling > 0 ? our_rate / ceiling : 0.0);
        }
    }
    {
        std::string url = nginx.http_url("/limited.bin");
        Totals mine, theirs;
        for (int round = 0; round < 2; ++round) {
            Fetch a = ours(url);
            Fetch b = with_curl(url);
            if (!a.ok || !b.ok) {
                fprintf(stderr, "http_download: rate-limited fetch failed\n");
                return 1;
            }
            mine.add(a);
            theirs.add(b);
        }
        printf("limit_rate 20m, %zu MiB x 2: ours %.3f s, curl %.3f s, ours/curl %.4f\n",
               limited_mib, mine.seconds / 2, theirs.seconds / 2, mine.seconds / theirs.seconds);
    }
    return 0;
}
