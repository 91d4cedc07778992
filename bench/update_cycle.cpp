// One whole update cycle (manifest, download, hash, write, both signature
// checks, swap) for a 64 MiB program file from a loopback nginx, over
// HTTPS and over HTTP, beside curl + sha256sum on the same file, in
// alternating rounds. Each run is a child process, so wall time, CPU time
// and peak memory are its own. Prints the ceiling the libraries set on one
// thread (Mbed TLS record decryption for the negotiated suite combined with
// SHA-256; SHA-256 alone over HTTP) and compares peak memory of a 1 MiB and
// a 64 MiB cycle.
//
//   update_cycle [ROUNDS]          (default 5)
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <mbedtls/ssl.h>
#include <mbedtls/ssl_ciphersuites.h>

#include "bench/crypto_rates.h"
#include "core/mailbox.h"
#include "core/settings.h"
#include "http/http.h"
#include "tests/support/servers.h"
#include "tools/release.h"
#include "update/cycle.h"
#include "update/manifest.h"
#include "update/signing_key.h"

#ifndef CORVANE_KEYS_DIR
#error "CORVANE_KEYS_DIR must name keys/"
#endif

namespace fs = std::filesystem;

namespace {

const size_t BIG = 64u << 20;
const size_t SMALL = 1u << 20;

// ---- The child: one cycle -------------------------------------------------

int32_t cycle_param = -1;
int32_t on_done(Mailbox*, uint32_t, int32_t param, void*) {
    cycle_param = param;
    return 0;
}
const HandlerEntry child_handlers[] = {{MAIL_UPDATE_DONE, on_done}, {0, nullptr}};

int one_cycle(const char* host, const char* install) {
    static std::string key;
    ReleaseProblem problem;
    if (!release_read_file((std::string(CORVANE_KEYS_DIR) + "/dev-signing-public.der").c_str(),
                           &key, &problem)) {
        fprintf(stderr, "%s\n", problem.c_str());
        return 2;
    }
    update_set_signing_key_for_tests(reinterpret_cast<const uint8_t*>(key.data()), key.size());
    load_signing_key();
    update_set_host_for_tests(host);
    settings_store(&install_folder, install);
    main_mailbox = mailbox_attach_current(child_handlers);
    updater_mailbox = mailbox_start_thread(updater_handlers, 0, nullptr);
    updates_held = 0;
    mail_post(updater_mailbox, MAIL_RUN_UPDATE, 0, nullptr, nullptr);
    if (!mail_wait(MAIL_UPDATE_DONE, 300000)) {
        return 3;
    }
    return cycle_param == 1 ? 0 : 1;
}

// ---- Measuring children ---------------------------------------------------

struct Sample {
    double wall;    // seconds
    double cpu;     // user + system seconds
    long peak_kib;  // maximum resident set
    bool ok;
};

Sample run_child(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    double start = bench_now_seconds();
    pid_t pid = fork();
    if (pid == 0) {
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage = {};
    wait4(pid, &status, 0, &usage);
    Sample s;
    s.wall = bench_now_seconds() - start;
    s.cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
            usage.ru_stime.tv_usec / 1e6;
    s.peak_kib = usage.ru_maxrss;
    s.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return s;
}

std::string self_path() {
    return fs::read_symlink("/proc/self/exe").string();
}

Sample our_cycle(const std::string& host, const std::string& work) {
    std::string install = work + "/install";
    fs::remove_all(install);
    fs::create_directories(install);
    Sample s = run_child({self_path(), "--one-cycle", host, install});
    fs::remove_all(install);
    return s;
}

Sample curl_fetch(const std::string& url, const std::string& work) {
    std::string out = work + "/curl.bin";
    Sample s = run_child(
        {"/bin/sh", "-c",
         "curl -sk -o '" + out + "' '" + url + "' && sha256sum '" + out + "' > /dev/null"});
    fs::remove(out);
    return s;
}

// ---- Publishing releases --------------------------------------------------

bool publish(const std::string& root, const std::string& name, size_t size, const std::string& url,
             const std::string& manifest_name) {
    std::string bytes(size, '\0');
    uint64_t x = 88172645463325252ull + size;
    for (size_t i = 0; i + 8 <= size; i += 8) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        memcpy(&bytes[i], &x, 8);
    }
    ReleaseProblem problem;
    std::string file = root + "/files/" + name;
    if (!release_write_file(file.c_str(), bytes, &problem)) {
        fprintf(stderr, "%s\n", problem.c_str());
        return false;
    }
    static mbedtls_pk_context key;
    static bool loaded = false;
    if (!loaded) {
        mbedtls_pk_init(&key);
        if (!release_load_private_key(
                (std::string(CORVANE_KEYS_DIR) + "/dev-signing-private.pem").c_str(), &key,
                &problem)) {
            fprintf(stderr, "%s\n", problem.c_str());
            return false;
        }
        loaded = true;
    }
    uint8_t digest[DIGEST_LENGTH];
    uint64_t length = 0;
    ReleaseFields f = {};
    for (bool& p : f.present) {
        p = true;
    }
    f.text[FIELD_VERSION] = "2.1.0.7";
    f.text[FIELD_DISPLAYNAME] = "Corvane Chat";
    f.text[FIELD_DISPLAYVERSION] = "2.1 beta 7";
    f.text[FIELD_URL] = url;
    std::string xml;
    bool ok = release_hash_file(file.c_str(), digest, &length, &problem);
    f.text[FIELD_SIZE] = std::to_string(length);
    f.text[FIELD_SHA256] = release_hex(digest, DIGEST_LENGTH);
    ok = ok && release_sign_digest(&key, digest, &f.text[FIELD_SIGNATURE]) &&
         release_sign_manifest(&key, &f, &problem) && release_manifest_xml(f, &xml, &problem) &&
         release_write_file((root + "/update/release/v1/" + manifest_name).c_str(), xml, &problem);
    if (!ok) {
        fprintf(stderr, "publish %s: %s\n", name.c_str(), problem.c_str());
    }
    return ok;
}

// ---- Library ceilings -----------------------------------------------------

// The suite nginx and our client agree on, through the client itself.
std::string negotiated_suite(const std::string& url) {
    std::string name = "(none)";
    HttpRequest* request = http_create();
    if (request != nullptr && http_send_request(request, url.c_str()) == HTTP_OK &&
        http_receive_headers(request) == HTTP_OK) {
        name = mbedtls_ssl_get_ciphersuite(&request->tls.ssl);
    }
    http_destroy(&request);
    return name;
}

// ---- Report ---------------------------------------------------------------

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Series {
    std::vector<double> wall, cpu, peak;
    int failures = 0;
    void add(const Sample& s) {
        wall.push_back(s.wall);
        cpu.push_back(s.cpu);
        peak.push_back(static_cast<double>(s.peak_kib));
        failures += s.ok ? 0 : 1;
    }
};

void print_row(const char* name, const Series& s, size_t bytes) {
    double w = median(s.wall);
    printf("  %-24s wall %7.3f s  %7.1f MB/s   cpu %6.3f s   peak %7.0f KiB%s\n", name, w,
           bytes / w / 1e6, median(s.cpu), median(s.peak), s.failures ? "   (FAILED RUNS)" : "");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && strcmp(argv[1], "--one-cycle") == 0) {
        return one_cycle(argv[2], argv[3]);
    }
    int rounds = argc > 1 ? atoi(argv[1]) : 5;
    if (rounds < 1) {
        rounds = 1;
    }

    TestTempDir www, work;
    fs::create_directories(www.file("files"));
    fs::create_directories(www.file("update/release/v1"));
    NginxServer nginx;
    NginxOptions options;
    options.root = www.path();
    options.https = true;
    std::string error;
    if (!nginx.start(options, &error)) {
        fprintf(stderr, "nginx: %s\n", error.c_str());
        return 1;
    }
    // The manifest's path is fixed, so the variant's manifest is copied into
    // place before each run.
    std::string host = "127.0.0.1:" + std::to_string(nginx.https_port());
    std::string big_https = nginx.https_url("/files/big.bin");
    std::string big_http = nginx.http_url("/files/big.bin");
    std::string small_https = nginx.https_url("/files/small.bin");
    if (!publish(www.path(), "big.bin", BIG, big_https, "https-big.xml") ||
        !publish(www.path(), "big.bin", BIG, big_http, "http-big.xml") ||
        !publish(www.path(), "small.bin", SMALL, small_https, "https-small.xml")) {
        return 1;
    }
    std::string manifest = www.file("update/release/v1/corvanechat.xml");
    auto use = [&](const char* variant) {
        fs::copy_file(www.file(std::string("update/release/v1/") + variant), manifest,
                      fs::copy_options::overwrite_existing);
    };

    Series ours_https, ours_http, curl_https, curl_http;
    for (int r = 0; r < rounds; r++) {
        use("https-big.xml");
        ours_https.add(our_cycle(host, work.path()));
        curl_https.add(curl_fetch(big_https, work.path()));
        use("http-big.xml");
        ours_http.add(our_cycle(host, work.path()));
        curl_http.add(curl_fetch(big_http, work.path()));
        fprintf(stderr, "round %d/%d done\n", r + 1, rounds);
    }
    Series small, big;
    for (int r = 0; r < 3; r++) {
        use("https-small.xml");
        small.add(our_cycle(host, work.path()));
        use("https-big.xml");
        big.add(our_cycle(host, work.path()));
    }

    std::string suite = negotiated_suite(small_https);
    std::string cipher;
    double sha = bench_sha256_rate();
    double decrypt = bench_record_decrypt_rate(suite.c_str(), &cipher);
    double https_ceiling = decrypt > 0 ? 1.0 / (1.0 / decrypt + 1.0 / sha) : 0;
    double https_rate = BIG / median(ours_https.wall) / 1e6;
    double http_rate = BIG / median(ours_http.wall) / 1e6;

    printf("update cycle, 64 MiB program file, loopback nginx, %d alternating rounds (medians)\n",
           rounds);
    printf("HTTPS (suite %s):\n", suite.c_str());
    print_row("our cycle", ours_https, BIG);
    print_row("curl -sk + sha256sum", curl_https, BIG);
    printf("  ratio ours/curl:  wall %.2f   cpu %.2f   peak memory %.2f\n",
           median(ours_https.wall) / median(curl_https.wall),
           median(ours_https.cpu) / median(curl_https.cpu),
           median(ours_https.peak) / median(curl_https.peak));
    printf("HTTP (manifest still over HTTPS):\n");
    print_row("our cycle", ours_http, BIG);
    print_row("curl -s + sha256sum", curl_http, BIG);
    printf("  ratio ours/curl:  wall %.2f   cpu %.2f   peak memory %.2f\n",
           median(ours_http.wall) / median(curl_http.wall),
           median(ours_http.cpu) / median(curl_http.cpu),
           median(ours_http.peak) / median(curl_http.peak));
    printf("library ceiling on one thread:\n");
    printf("  SHA-256 %.1f MB/s; %s record decrypt %.1f MB/s\n", sha, cipher.c_str(), decrypt);
    std::string aes_name;
    double aes = bench_record_decrypt_rate("TLS-ECDHE-ECDSA-WITH-AES-128-GCM-SHA256", &aes_name);
    printf("  (for reference, %s record decrypt %.1f MB/s)\n", aes_name.c_str(), aes);
    printf("  HTTPS ceiling (decrypt + hash) %.1f MB/s: our cycle at %.0f%%\n", https_ceiling,
           https_ceiling > 0 ? 100 * https_rate / https_ceiling : 0);
    printf("  HTTP ceiling (hash) %.1f MB/s: our cycle at %.0f%%\n", sha, 100 * http_rate / sha);
    printf(
        "fixed cost: a 1 MiB cycle (HTTPS) takes %.3f s wall, %.3f s cpu; the 63 MiB more "
        "stream at %.1f MB/s\n",
        median(small.wall), median(small.cpu),
        (BIG - SMALL) / (median(big.wall) - median(small.wall)) / 1e6);
    printf(
        "peak memory, whole cycle (HTTPS): 1 MiB file %.0f KiB, 64 MiB file %.0f KiB, "
        "difference %.0f KiB (goal: within 1024)\n",
        median(small.peak), median(big.peak), median(big.peak) - median(small.peak));
    int failed = ours_https.failures + ours_http.failures + small.failures + big.failures;
    if (failed > 0) {
        printf("%d cycles FAILED\n", failed);
    }
    return failed > 0 ? 1 : 0;
}
