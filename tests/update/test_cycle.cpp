// Whole update cycles on the real threads: the test's thread is the main
// and UI thread (its mailbox receives the broadcast, it owns the bar), the
// updater thread runs the cycle against nginx over HTTPS and the project's
// fault server, with releases signed by the release tool's code.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/mailbox.h"
#include "core/report.h"
#include "core/settings.h"
#include "tests/support/release.h"
#include "tests/support/servers.h"
#include "tests/update/cycle_fixture.h"
#include "update/checks.h"
#include "update/cycle.h"
#include "update/manifest.h"
#include "update/status.h"

namespace fs = std::filesystem;

namespace {

// Mailboxes, the sink and the updater thread exist once per process.
void start_threads_once() {
    cycle_start_threads_once(REPORT_ERROR);
}

struct Outcome {
    bool finished = false;
    std::vector<int32_t> params;
    int failures = 0;
    std::vector<PlatformProgressRequest> bar;
    PlatformProgressState state = {};
    std::vector<intptr_t> positions() const {
        std::vector<intptr_t> p;
        for (const auto& r : bar) {
            if (r.message == PLATFORM_PBM_SETPOS) {
                p.push_back(static_cast<intptr_t>(r.wparam));
            }
        }
        return p;
    }
};

class Cycle : public CycleStage {
  public:
    void SetUp() override {
        start_threads_once();
        ASSERT_NO_FATAL_FAILURE(stage_up({"update/release/v1", "files"}));
        std::string error;
        ASSERT_TRUE(fault.start_with_files(www.file("files"), &error)) << error;
        host = "127.0.0.1:" + std::to_string(nginx.https_port());
        update_set_host_for_tests(host.c_str());
    }

    // A signed release of content with its file under files/ on nginx.
    TestRelease publish(const std::string& content, const std::string& url = "") {
        EXPECT_TRUE(test_write_file(www.file("files/CorvaneChat.exe"), content));
        return make_test_release(content,
                                 url.empty() ? nginx.https_url("/files/CorvaneChat.exe") : url);
    }
    void publish_manifest(const std::string& xml) {
        EXPECT_TRUE(test_write_file(www.file("update/release/v1/corvanechat.xml"), xml));
    }

    Outcome run_cycle() {
        Outcome out;
        done_params.clear();
        failure_reports = 0;
        updates_held = 0;
        EXPECT_TRUE(mail_post(updater_mailbox, MAIL_RUN_UPDATE, 0, nullptr, nullptr));
        out.finished = mail_wait(MAIL_UPDATE_DONE, CYCLE_TIMEOUT_MS);
        // The bar's requests were posted before the broadcast; the pump
        // that dispatched it has applied them.
        out.params = done_params;
        out.failures = failure_reports;
        PlatformProgressRequest requests[512];
        uint32_t n = platform_progress_bar_record(status_progress_bar(), &out.state, requests, 512);
        out.bar.assign(requests, requests + std::min<uint32_t>(n, 512));
        EXPECT_LE(n, 512u);
        // The teardown follows the broadcast on the updater thread.
        for (int i = 0; i < 1000 && status_count() != 0; i++) {
            platform_sleep_ms(1);
        }
        EXPECT_EQ(status_count(), 0) << "the cycle removed its entry";
        return out;
    }

    void expect_failure(const Outcome& out, const std::string& installed) {
        EXPECT_TRUE(out.finished);
        EXPECT_EQ(out.params, std::vector<int32_t>{0});
        EXPECT_EQ(out.failures, 1);
        std::string now;
        EXPECT_TRUE(test_read_file(program_path(), &now));
        EXPECT_TRUE(now == installed) << "the installed program file changed";
        EXPECT_FALSE(fs::exists(program_path() + ".stage"));
        EXPECT_FALSE(fs::exists(program_path() + ".old"));
        EXPECT_EQ(out.state.state, PLATFORM_PBST_ERROR);
        EXPECT_EQ(out.state.bar_color, STATUS_FAILURE_COLOUR);
        EXPECT_EQ(out.state.position, 100);
    }

    std::string host;
};

void expect_progress_then_install(const Outcome& out) {
    std::vector<intptr_t> p = out.positions();
    ASSERT_GE(p.size(), 3u);
    EXPECT_EQ(p.front(), 0);
    EXPECT_EQ(p.back(), 0) << "installing shows 0";
    EXPECT_EQ(p[p.size() - 2], 100) << "the download ends at 100";
    for (size_t i = 1; i + 1 < p.size(); i++) {
        EXPECT_GT(p[i], p[i - 1]) << "a refresh only when the percent changes";
    }
    EXPECT_EQ(out.state.state, PLATFORM_PBST_NORMAL);
}

// Over whatever version nginx prefers, and over nginx held to TLS 1.2 and
// to TLS 1.3 (whose session tickets arrive after the handshake), the file
// that arrives is the one curl gets from the same server.
TEST_F(Cycle, SuccessReplacesTheProgramAndKeepsThePreviousAsOld) {
    std::string previous = test_program_bytes(1000, 1);
    std::string next = test_program_bytes(3 * 1024 * 1024 + 17, 2);
    for (const char* protocols : {"", "TLSv1.2", "TLSv1.3"}) {
        SCOPED_TRACE(protocols);
        NginxServer held;
        NginxServer* server = &nginx;
        if (protocols[0] != 0) {
            NginxOptions options;
            options.root = www.path();
            options.https = true;
            options.server_config = std::string("ssl_protocols ") + protocols + ";\n";
            std::string error;
            ASSERT_TRUE(held.start(options, &error)) << error;
            server = &held;
        }
        host = "127.0.0.1:" + std::to_string(server->https_port());
        update_set_host_for_tests(host.c_str());
        drop_bar();  // a new bar records only this cycle
        progress_bar_create(parent);
        ASSERT_TRUE(test_write_file(program_path(), previous));
        fs::remove(program_path() + ".old");
        publish_manifest(
            test_release_xml(publish(next, server->https_url("/files/CorvaneChat.exe"))));
        Outcome out = run_cycle();
        ASSERT_TRUE(out.finished);
        EXPECT_EQ(out.params, std::vector<int32_t>{1});
        EXPECT_EQ(out.failures, 0);
        std::string now, old;
        EXPECT_TRUE(test_read_file(program_path(), &now));
        EXPECT_TRUE(test_read_file(program_path() + ".old", &old));
        EXPECT_TRUE(now == next);
        EXPECT_TRUE(now == test_curl_body(server->https_url("/files/CorvaneChat.exe")));
        EXPECT_TRUE(old == previous);
        EXPECT_FALSE(fs::exists(program_path() + ".stage"));
        expect_progress_then_install(out);
        EXPECT_GT(out.positions().size(), 50u) << "the bar moved through the download";
    }
}

TEST_F(Cycle, SuccessWithNothingInstalledAndAPlainHttpFile) {
    std::string next = test_program_bytes(200000, 3);
    TestRelease release = publish(next, "");
    release.fields.text[FIELD_URL] = nginx.http_url("/files/CorvaneChat.exe");
    resign_test_release(&release);
    publish_manifest(test_release_xml(release));

    Outcome out = run_cycle();
    EXPECT_EQ(out.params, std::vector<int32_t>{1});
    std::string now;
    EXPECT_TRUE(test_read_file(program_path(), &now));
    EXPECT_TRUE(now == next);
    EXPECT_FALSE(fs::exists(program_path() + ".old")) << "nothing was installed before";
    expect_progress_then_install(out);
}

TEST_F(Cycle, AnEmptyProgramFileReachesOneHundredPercent) {
    publish_manifest(test_release_xml(publish("")));
    Outcome out = run_cycle();
    EXPECT_EQ(out.params, std::vector<int32_t>{1});
    EXPECT_EQ(out.positions(), (std::vector<intptr_t>{0, 100, 0}));
    EXPECT_EQ(fs::file_size(program_path()), 0u);
}

// The program's signature by a key of the release key's kind made in dir.
std::string signature_by_another_key(const TestTempDir& dir, const std::string& program) {
    std::string pem = dir.file("other.pem"), signature;
    uint8_t digest[DIGEST_LENGTH];
    mbedtls_md(mbedtls_md_info_from_type(MBEDTLS_MD_SHA256),
               reinterpret_cast<const uint8_t*>(program.data()), program.size(), digest);
    mbedtls_pk_context key;
    mbedtls_pk_init(&key);
    ReleaseProblem problem;
    EXPECT_TRUE(release_keygen(pem.c_str(), dir.file("other.der").c_str(), &problem) &&
                release_load_private_key(pem.c_str(), &key, &problem) &&
                release_sign_digest(&key, digest, &signature))
        << problem;
    mbedtls_pk_free(&key);
    return signature;
}

TEST_F(Cycle, EveryFailurePathLeavesTheInstallAsItWas) {
    const std::string installed = test_program_bytes(5000, 4);
    const std::string next = test_program_bytes(600000, 5);
    struct Case {
        const char* name;
        UpdateFailure reason;
        std::function<void(Cycle*, TestRelease*)> arrange;  // may write its own manifest
    };
    const Case cases[] = {
        {"manifest unsigned", UPDATE_FAILURE_SIGNATURE,
         [](Cycle*, TestRelease* r) { r->fields.present[FIELD_VERIFY] = false; }},
        {"manifest tampered after signing", UPDATE_FAILURE_SIGNATURE,
         [](Cycle*, TestRelease* r) { r->fields.text[FIELD_CHANGELOG] += "!"; }},
        {"verify holding the file's signature", UPDATE_FAILURE_SIGNATURE,
         [](Cycle*, TestRelease* r) {
             r->fields.text[FIELD_VERIFY] = r->fields.text[FIELD_SIGNATURE];
         }},
        {"version 0.0.0.0", UPDATE_FAILURE_VERSION,
         [](Cycle*, TestRelease* r) {
             r->fields.text[FIELD_VERSION] = "0.0.0.0";
             resign_test_release(r);
         }},
        {"version missing", UPDATE_FAILURE_VERSION,
         [](Cycle*, TestRelease* r) {
             r->fields.present[FIELD_VERSION] = false;
             resign_test_release(r);
         }},
        {"version negative", UPDATE_FAILURE_VERSION,
         [](Cycle*, TestRelease* r) {
             r->fields.text[FIELD_VERSION] = "0.-1.0.0";
             resign_test_release(r);
         }},
        {"size one byte more", UPDATE_FAILURE_DOWNLOAD,
         [](Cycle*, TestRelease* r) {
             r->fields.text[FIELD_SIZE] = std::to_string(r->program.size() + 1);
             resign_test_release(r);
         }},
        {"size one byte less", UPDATE_FAILURE_DOWNLOAD,
         [](Cycle*, TestRelease* r) {
             r->fields.text[FIELD_SIZE] = std::to_string(r->program.size() - 1);
             resign_test_release(r);
         }},
        {"size negative", UPDATE_FAILURE_DOWNLOAD,
         [](Cycle*, TestRelease* r) {
             r->fields.text[FIELD_SIZE] = "-1";
             resign_test_release(r);
         }},
        {"wrong file signature", UPDATE_FAILURE_SIGNATURE,
         [](Cycle*, TestRelease* r) {
             TestRelease other = make_test_release(r->program + "x", r->fields.text[FIELD_URL]);
             r->fields.text[FIELD_SIGNATURE] = other.fields.text[FIELD_SIGNATURE];
             resign_test_release(r);
         }},
        // Files that differ from what the release key signed, of the declared size.
        {.name = "file with one byte flipped",
         .reason = UPDATE_FAILURE_SIGNATURE,
         .arrange =
             [](Cycle* t, TestRelease* r) {
                 std::string bytes = r->program;
                 bytes[bytes.size() / 2] ^= 1;
                 test_write_file(t->www.file("files/CorvaneChat.exe"), bytes);
             }},
        {.name = "file with one byte appended",
         .reason = UPDATE_FAILURE_SIGNATURE,
         .arrange =
             [](Cycle* t, TestRelease* r) {
                 test_write_file(t->www.file("files/CorvaneChat.exe"), r->program + "x");
                 r->fields.text[FIELD_SIZE] = std::to_string(r->program.size() + 1);
                 resign_test_release(r);
             }},
        {.name = "file signed by another key",
         .reason = UPDATE_FAILURE_SIGNATURE,
         .arrange =
             [](Cycle* t, TestRelease* r) {
                 r->fields.text[FIELD_SIGNATURE] = signature_by_another_key(t->www, r->program);
                 resign_test_release(r);
             }},
        {"connection closed mid-download", UPDATE_FAILURE_DOWNLOAD,
         [](Cycle* t, TestRelease* r) {
             r->fields.text[FIELD_URL] = t->fault.url("/cut/CorvaneChat.exe");
             resign_test_release(r);
         }},
        {"connection reset mid-download", UPDATE_FAILURE_DOWNLOAD,
         [](Cycle* t, TestRelease* r) {
             r->fields.text[FIELD_URL] = t->fault.url("/reset/CorvaneChat.exe");
             resign_test_release(r);
         }},
        {"404 page as the body", UPDATE_FAILURE_DOWNLOAD,
         [](Cycle* t, TestRelease* r) {
             r->fields.text[FIELD_URL] = t->nginx.https_url("/files/missing.exe");
             resign_test_release(r);
         }},
        {"no manifest on the server (its 404 page is parsed)", UPDATE_FAILURE_MANIFEST,
         [](Cycle* t, TestRelease*) {
             fs::remove(t->www.file("update/release/v1/corvanechat.xml"));
         }},
        {"update server down", UPDATE_FAILURE_MANIFEST,
         [](Cycle*, TestRelease*) {
             static std::string closed;
             closed = "127.0.0.1:" + std::to_string(test_free_port());
             update_set_host_for_tests(closed.c_str());
         }},
        {"staging file cannot be created", UPDATE_FAILURE_DOWNLOAD,
         [](Cycle* t, TestRelease*) { fs::create_directory(t->program_path() + ".stage"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A fresh bar per case, so its state is this cycle's alone.
        drop_bar();
        progress_bar_create(parent);
        update_set_host_for_tests(host.c_str());
        ASSERT_TRUE(test_write_file(program_path(), installed));
        TestRelease release = publish(next);
        publish_manifest(test_release_xml(release));
        c.arrange(this, &release);
        if (fs::exists(www.file("update/release/v1/corvanechat.xml"))) {
            publish_manifest(test_release_xml(release));
        }
        bool stage_is_folder = fs::is_directory(program_path() + ".stage");
        Outcome out = run_cycle();
        if (stage_is_folder) {
            EXPECT_TRUE(fs::is_empty(program_path() + ".stage"));
            fs::remove(program_path() + ".stage");
        }
        expect_failure(out, installed);
        EXPECT_EQ(update_last_failure(), c.reason);
    }
}

TEST_F(Cycle, HeldRequestsDoNothing) {
    publish_manifest(test_release_xml(publish(test_program_bytes(1000, 6))));
    done_params.clear();
    failure_reports = 0;
    updates_held = 1;
    ASSERT_TRUE(mail_post(updater_mailbox, MAIL_RUN_UPDATE, 0, nullptr, nullptr));
    EXPECT_FALSE(mail_wait(MAIL_UPDATE_DONE, 500));
    EXPECT_TRUE(done_params.empty());
    EXPECT_EQ(failure_reports, 0);
    EXPECT_FALSE(fs::exists(program_path()));
    PlatformProgressState state;
    EXPECT_EQ(platform_progress_bar_record(status_progress_bar(), &state, nullptr, 0), 1u)
        << "only the range was ever set";
    // Once released, the next request runs a whole cycle.
    EXPECT_EQ(run_cycle().params, std::vector<int32_t>{1});
}

TEST_F(Cycle, RequestsRunOneAfterAnother) {
    TestRelease release = publish(test_program_bytes(1000, 7));
    release.fields.text[FIELD_VERSION] = "0.0.0.0";
    resign_test_release(&release);
    publish_manifest(test_release_xml(release));
    done_params.clear();
    failure_reports = 0;
    updates_held = 0;
    ASSERT_TRUE(mail_post(updater_mailbox, MAIL_RUN_UPDATE, 0, nullptr, nullptr));
    ASSERT_TRUE(mail_post(updater_mailbox, MAIL_RUN_UPDATE, 0, nullptr, nullptr));
    ASSERT_TRUE(mail_wait(MAIL_UPDATE_DONE, CYCLE_TIMEOUT_MS));
    if (done_params.size() < 2) {
        ASSERT_TRUE(mail_wait(MAIL_UPDATE_DONE, CYCLE_TIMEOUT_MS));
    }
    EXPECT_EQ(done_params, (std::vector<int32_t>{0, 0}));
    EXPECT_EQ(failure_reports, 2);
}

// The download alone, against a file far longer than declared.
TEST_F(Cycle, DownloadStopsOnceMoreThanTheDeclaredSizeArrived) {
    publish(test_program_bytes(8 * 1024 * 1024, 8));
    UpdateJob job = {};
    job.size = 1000;
    mbedtls_md_context_t md;
    mbedtls_md_init(&md);
    ASSERT_EQ(mbedtls_md_setup(&md, mbedtls_md_info_from_type(MBEDTLS_MD_SHA256), 0), 0);
    ASSERT_EQ(mbedtls_md_starts(&md), 0);
    uint32_t received = 0;
    EXPECT_FALSE(download_body(&job, nginx.https_url("/files/CorvaneChat.exe").c_str(), nullptr,
                               &md, &received));
    EXPECT_GT(received, 1000u);
    EXPECT_LT(received, 1000u + DOWNLOAD_BUFFER_SIZE) << "stopped at the first read past it";
    mbedtls_md_free(&md);
}

// Kilobytes of a "Vm..." line of this process's status; -1 when absent.
long status_kib(const char* name) {
    FILE* f = fopen("/proc/self/status", "r");
    if (f == nullptr) {
        return -1;
    }
    char line[256];
    long kib = -1;
    size_t n = strlen(name);
    while (fgets(line, sizeof line, f) != nullptr) {
        if (strncmp(line, name, n) == 0 && line[n] == ':') {
            kib = strtol(line + n + 1, nullptr, 10);
        }
    }
    fclose(f);
    return kib;
}

// Endless manifest bodies end by the parser's byte limit (fast ones) or by
// the fetch's time limit (slow ones), as malformed XML does, and the
// process's peak memory grows by a few mebibytes at most on the way.
TEST_F(Cycle, EndlessManifestsEndByTheByteAndTimeLimits) {
    struct Row {
        const char* path;
        uint32_t time_limit_ms;  // 0: the built-in one
        uint32_t at_least_ms;
        uint32_t below_ms;
    };
    const Row rows[] = {
        {"/endless-comment", 0, 0, 30000},
        {"/endless-name", 0, 0, 30000},
        {"/trickle", 1500, 1400, 10000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        manifest_set_test_time_limit(row.time_limit_ms);
        // Peak memory counts from here ("5" resets the high-water mark).
        FILE* clear = fopen("/proc/self/clear_refs", "w");
        ASSERT_NE(clear, nullptr);
        fputs("5", clear);
        fclose(clear);
        long before = status_kib("VmRSS");
        UpdateJob job = {};
        ASSERT_TRUE(job_create_fields(&job));
        uint64_t start = platform_tick64_ms();
        bool fetched = manifest_fetch_fields(&job, fault.url(row.path).c_str());
        uint64_t elapsed = platform_tick64_ms() - start;
        long grown = status_kib("VmHWM") - before;
        job_free_fields(&job);
        manifest_set_test_time_limit(0);
        EXPECT_FALSE(fetched);
        EXPECT_GE(elapsed, row.at_least_ms);
        EXPECT_LT(elapsed, row.below_ms);
        ASSERT_GE(before, 0);
        EXPECT_LT(grown, 8 * 1024) << "KiB";
        printf("%s: peak memory grew by %ld KiB in %llu ms\n", row.path, grown,
               static_cast<unsigned long long>(elapsed));
    }
}

// A whole response laid out under files/ for the fault server's /raw/ routes.
enum class Framing { kNoLength, kLength, kChunkedWithoutEnd };

std::string laid_out_response(const std::string& body, Framing framing) {
    switch (framing) {
        case Framing::kNoLength:
            return "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body;
        case Framing::kLength:
            return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                   "\r\nConnection: close\r\n\r\n" + body;
        case Framing::kChunkedWithoutEnd: {
            char size[16];
            snprintf(size, sizeof size, "%zx", body.size());
            return "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n" +
                   std::string(size) + "\r\n" + body + "\r\n";
        }
    }
    return "";
}

// The manifest's fetch and its signature check, as the cycle runs them.
bool fetch_manifest_from(UpdateJob* job, const char* url) {
    return manifest_fetch_fields(job, url) && check_manifest_signature(job);
}

// How a manifest body that ends early is judged: a close that ends a body
// without length hands the parser its final piece, so an open root element
// fails; a read error (a close before the length or the last chunk, a
// reset) leaves it to the signature, which holds once all ten fields came.
TEST_F(Cycle, ManifestBodiesThatEndEarly) {
    TestRelease release = publish(test_program_bytes(1000, 10));
    const std::string xml = test_release_xml(release);
    const size_t root_end = xml.find("</corvanechat>");
    const size_t inside_verify = xml.find("</verify>") - 3;
    ASSERT_NE(root_end, std::string::npos);
    struct Row {
        const char* name;
        Framing framing;
        const char* kind;  // the fault server's way of ending
        size_t body_bytes;
        bool fetched;
    };
    const Row rows[] = {
        {"whole, then a close", Framing::kNoLength, "cut", xml.size(), true},
        {"no length, closed with the root open", Framing::kNoLength, "cut", root_end, false},
        {"no length, reset with the root open", Framing::kNoLength, "reset", root_end, true},
        {"short of its length, closed after the fields", Framing::kLength, "cut", root_end, true},
        {"short of its length, reset after the fields", Framing::kLength, "reset", root_end, true},
        {"closed before the last chunk", Framing::kChunkedWithoutEnd, "cut", xml.size(), true},
        {"short of its length, closed inside verify", Framing::kLength, "cut", inside_verify,
         false},
        {"no length, reset inside verify", Framing::kNoLength, "reset", inside_verify, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string laid_out = laid_out_response(xml, row.framing);
        ASSERT_TRUE(test_write_file(www.file("files/manifest-response"), laid_out));
        size_t head = laid_out.find("\r\n\r\n") + 4;
        if (row.framing == Framing::kChunkedWithoutEnd) {
            head = laid_out.find("\r\n", head) + 2;
        }
        std::string url = fault.url("/raw/" + std::string(row.kind) + "/" +
                                    std::to_string(head + row.body_bytes) + "/manifest-response");
        UpdateJob job = {};
        ASSERT_TRUE(job_create_fields(&job));
        EXPECT_EQ(fetch_manifest_from(&job, url.c_str()), row.fetched);
        job_free_fields(&job);
    }
}

// A program file whose every byte arrived is installed even when the body
// then ends in a read error.
TEST_F(Cycle, AReadErrorAfterTheWholeFileStillInstalls) {
    const std::string next = test_program_bytes(300000, 11);
    struct Row {
        const char* name;
        Framing framing;
        const char* kind;
    };
    const Row rows[] = {
        {"closed before the last chunk", Framing::kChunkedWithoutEnd, "cut"},
        {"reset at the end of a body without length", Framing::kNoLength, "reset"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        drop_bar();
        progress_bar_create(parent);
        fs::remove(program_path());
        fs::remove(program_path() + ".old");
        std::string laid_out = laid_out_response(next, row.framing);
        ASSERT_TRUE(test_write_file(www.file("files/program-response"), laid_out));
        std::string url = fault.url("/raw/" + std::string(row.kind) + "/" +
                                    std::to_string(laid_out.size()) + "/program-response");
        publish_manifest(test_release_xml(publish(next, url)));
        Outcome out = run_cycle();
        EXPECT_EQ(out.params, std::vector<int32_t>{1});
        EXPECT_EQ(out.failures, 0);
        std::string now;
        EXPECT_TRUE(test_read_file(program_path(), &now));
        EXPECT_TRUE(now == next);
    }
}

// The swap alone: the staged file is gone when its turn comes.
TEST_F(Cycle, AFailedSwapMovesThePreviousFileBack) {
    std::string installed = test_program_bytes(777, 9);
    ASSERT_TRUE(test_write_file(program_path(), installed));
    std::string missing = program_path() + ".stage";
    UpdateJob job = {};
    job.staged_path = const_cast<char*>(missing.c_str());
    done_params.clear();
    EXPECT_FALSE(install_update(&job));
    std::string now;
    EXPECT_TRUE(test_read_file(program_path(), &now));
    EXPECT_TRUE(now == installed);
    EXPECT_FALSE(fs::exists(program_path() + ".old"));
    EXPECT_FALSE(mail_wait(MAIL_UPDATE_DONE, 0));
    EXPECT_TRUE(done_params.empty()) << "a failed swap broadcasts nothing itself";
}

}  // namespace
