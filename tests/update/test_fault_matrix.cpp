// The fault matrix: whole update cycles on the real threads (as in
// test_cycle.cpp) while the fault server breaks the manifest or the program
// file, over HTTP and HTTPS, at every byte of the response head and at
// chosen body offsets, with a cut, a TLS close-notify, a reset or a stall.
// Every row is generated from (transport x resource x framing x fault x
// offset); its expected outcome follows from how the body ended: the cycle
// fails unless all bytes of the program file arrived, or the manifest's ten
// fields did (after a client error) or its whole document did (after an end
// of body). A failed cycle leaves the installed file as it was, no staging
// file, one report, broadcast 0 and the bar in its error state.
#include <gtest/gtest.h>

#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>
#include <wchar.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "core/mailbox.h"
#include "core/report.h"
#include "core/settings.h"
#include "tests/support/release.h"
#include "tests/support/servers.h"
#include "tests/update/cycle_fixture.h"
#include "update/cycle.h"
#include "update/manifest.h"
#include "update/status.h"

namespace fs = std::filesystem;

// ---- A faster clock for the updater thread ---------------------------------
//
// A stalled peer must meet the client's 15 s head and 30 s body deadlines,
// which would make each stall row last half a minute. While a stall row
// runs, the monotonic clock runs CLOCK_SPEEDUP times faster for every thread
// but the test's own (whose waits must stay real), and it never runs back.
// The speed-up is modest so that the rest of such a cycle (the manifest from
// nginx) stays well inside its deadlines on a busy machine.

namespace {

const int64_t CLOCK_SPEEDUP = 10;

std::mutex clock_lock;
std::atomic<bool> clock_test_thread_known{false};
pthread_t clock_test_thread;
bool clock_fast = false;
int64_t clock_fast_since_ns = 0;  // real time the fast stretch began
int64_t clock_gained_ns = 0;      // gained in earlier fast stretches

int64_t clock_ns(const timespec& ts) {
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int64_t clock_real_monotonic_ns() {
    timespec ts = {};
    syscall(SYS_clock_gettime, CLOCK_MONOTONIC, &ts);
    return clock_ns(ts);
}

void clock_set_fast(bool fast) {
    std::lock_guard<std::mutex> hold(clock_lock);
    int64_t now = clock_real_monotonic_ns();
    if (clock_fast && !fast) {
        clock_gained_ns += (now - clock_fast_since_ns) * (CLOCK_SPEEDUP - 1);
    }
    clock_fast_since_ns = now;
    clock_fast = fast;
}

}  // namespace

extern "C" int clock_gettime(clockid_t id, struct timespec* ts) noexcept {
    long rc = syscall(SYS_clock_gettime, id, ts);
    if (rc != 0 || id != CLOCK_MONOTONIC || !clock_test_thread_known ||
        pthread_equal(pthread_self(), clock_test_thread)) {
        return static_cast<int>(rc);
    }
    int64_t now = clock_ns(*ts);
    int64_t shifted;
    {
        std::lock_guard<std::mutex> hold(clock_lock);
        shifted = now + clock_gained_ns;
        if (clock_fast && now > clock_fast_since_ns) {
            shifted += (now - clock_fast_since_ns) * (CLOCK_SPEEDUP - 1);
        }
    }
    ts->tv_sec = static_cast<time_t>(shifted / 1000000000);
    ts->tv_nsec = static_cast<long>(shifted % 1000000000);
    return 0;
}

namespace {

void start_threads_once() {
    static bool started = false;
    if (started) {
        return;
    }
    started = true;
    clock_test_thread = pthread_self();
    clock_test_thread_known = true;
    cycle_start_threads_once(REPORT_TRACE);
}

// ---- Responses laid out byte by byte ---------------------------------------

enum Transport { NET_HTTP, NET_HTTPS };
enum Resource { RES_MANIFEST, RES_PROGRAM };
enum Framing { FRAME_LENGTH, FRAME_CHUNKED, FRAME_CLOSE, FRAME_HINTS };
// As the fault server's /raw/KIND routes name them (fault_names). The
// record faults end a TLS connection inside its next record: in the
// record's header or halfway through it.
enum Fault {
    FAULT_NONE,
    FAULT_CUT,
    FAULT_NOTIFY,
    FAULT_RESET,
    FAULT_STALL,
    FAULT_RECORD_HEADER,
    FAULT_RECORD_HALF
};

const char* const transport_names[] = {"http", "https"};
const char* const resource_names[] = {"manifest", "program file"};
const char* const framing_names[] = {"length", "chunked", "close-delimited", "103 then length"};
const char* const fault_names[] = {"all",   "cut",           "notify",     "reset",
                                   "stall", "record-header", "record-half"};

const uint32_t CHUNK_PAYLOAD = 1000;

// One response as the server sends it, and where its payload lies.
struct Layout {
    std::string bytes;
    uint32_t head_length = 0;  // all heads, interim ones included
    uint32_t payload_size = 0;
    // Chunked: (offset of a chunk's data in bytes, its length); the last
    // chunk's size line ends at last_chunk_end.
    std::vector<std::pair<uint32_t, uint32_t>> chunks;
    uint32_t last_chunk_end = 0;
};

Layout layout_response(Framing framing, const std::string& payload) {
    Layout out;
    out.payload_size = static_cast<uint32_t>(payload.size());
    std::string length_head =
        "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(payload.size()) +
        "\r\nConnection: close\r\n\r\n";
    if (framing == FRAME_LENGTH) {
        out.bytes = length_head;
    } else if (framing == FRAME_HINTS) {
        out.bytes =
            "HTTP/1.1 103 Early Hints\r\nLink: </chat.css>; rel=preload\r\n\r\n" + length_head;
    } else if (framing == FRAME_CLOSE) {
        out.bytes = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n";
    } else {
        out.bytes = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
    }
    out.head_length = static_cast<uint32_t>(out.bytes.size());
    if (framing != FRAME_CHUNKED) {
        out.bytes += payload;
        return out;
    }
    for (size_t at = 0; at < payload.size(); at += CHUNK_PAYLOAD) {
        std::string piece = payload.substr(at, CHUNK_PAYLOAD);
        char line[16];
        snprintf(line, sizeof line, "%zx\r\n", piece.size());
        out.bytes += line;
        out.chunks.push_back(
            {static_cast<uint32_t>(out.bytes.size()), static_cast<uint32_t>(piece.size())});
        out.bytes += piece + "\r\n";
    }
    out.bytes += "0\r\n";
    out.last_chunk_end = static_cast<uint32_t>(out.bytes.size());
    out.bytes += "\r\n";
    return out;
}

// Payload bytes within the first `sent` bytes of the response.
uint32_t payload_sent(const Layout& layout, uint32_t sent) {
    if (layout.chunks.empty()) {
        return sent <= layout.head_length ? 0 : sent - layout.head_length;
    }
    uint32_t n = 0;
    for (const auto& chunk : layout.chunks) {
        if (sent > chunk.first) {
            n += std::min(sent - chunk.first, chunk.second);
        }
    }
    return n;
}

// ---- Rows -------------------------------------------------------------------

struct Row {
    Transport transport;
    Resource resource;
    Framing framing;
    Fault fault;
    uint32_t sent;  // bytes of the response sent before the fault
    std::string where;
};

// How the client saw the body end, by the client's rules: a length or
// chunked body ends with its last byte or last chunk and is an error when
// cut before; a close (or close-notify) ends a body with neither; a reset, a
// deadline or a TLS record cut short is an error.
enum Ending { ENDING_NO_HEAD, ENDING_END, ENDING_ERROR };

Ending row_ending(const Row& row, const Layout& layout) {
    if (row.fault == FAULT_NONE) {
        return ENDING_END;
    }
    if (row.sent < layout.head_length) {
        return ENDING_NO_HEAD;
    }
    if (row.fault != FAULT_CUT && row.fault != FAULT_NOTIFY) {
        return ENDING_ERROR;
    }
    switch (row.framing) {
        case FRAME_CLOSE:
            return ENDING_END;
        case FRAME_CHUNKED:
            return row.sent >= layout.last_chunk_end ? ENDING_END : ENDING_ERROR;
        default:
            return payload_sent(layout, row.sent) == layout.payload_size ? ENDING_END
                                                                         : ENDING_ERROR;
    }
}

// The program file needs all its bytes, however the body ended. The
// manifest's parser gets a final piece only with an end of body, so a short
// document fails there; after an error the signature check judges the
// fields collected, which hold once the last one ("verify") is complete.
bool row_succeeds(const Row& row, const Layout& layout, uint32_t fields_end) {
    Ending ending = row_ending(row, layout);
    if (ending == ENDING_NO_HEAD) {
        return false;
    }
    uint32_t arrived =
        row.fault == FAULT_NONE ? layout.payload_size : payload_sent(layout, row.sent);
    if (row.resource == RES_PROGRAM) {
        return arrived == layout.payload_size;
    }
    if (ending == ENDING_END) {
        return arrived == layout.payload_size;
    }
    return arrived >= fields_end;
}

// Why a row that does not succeed fails: a program file cut short fails its
// download; a manifest fails its fetch without a head or when a short
// document reaches the parser's final piece, and its signature after an
// error left the fields incomplete. A close-delimited body cut inside a TLS
// record also reaches the parser as ended, so it fails as a short document.
UpdateFailure row_failure(const Row& row, const Layout& layout) {
    if (row.resource == RES_PROGRAM) {
        return UPDATE_FAILURE_DOWNLOAD;
    }
    Ending ending = row_ending(row, layout);
    bool record_cut = row.fault == FAULT_RECORD_HEADER || row.fault == FAULT_RECORD_HALF;
    if (ending == ENDING_ERROR && !(record_cut && row.framing == FRAME_CLOSE)) {
        return UPDATE_FAILURE_SIGNATURE;
    }
    return UPDATE_FAILURE_MANIFEST;
}

// Every head offset; body offsets 0, 1, 1023, half, size-1 and size (for
// chunked ones counted in the bytes of the coded body, plus the offset where
// only the last chunk is missing); a close-notify and the record faults
// (HTTPS), a reset and a stall in mid-body; the record faults and a stall in
// mid-head; and the whole response.
std::vector<Row> make_rows(Transport transport, Resource resource,
                           const std::vector<Layout>& layouts) {
    std::vector<Row> rows;
    for (int f = FRAME_LENGTH; f <= FRAME_HINTS; f++) {
        Framing framing = static_cast<Framing>(f);
        const Layout& layout = layouts[f];
        uint32_t head = layout.head_length;
        uint32_t body = static_cast<uint32_t>(layout.bytes.size()) - head;
        auto add = [&](Fault fault, uint32_t sent, const std::string& where) {
            rows.push_back({transport, resource, framing, fault, sent, where});
        };
        add(FAULT_NONE, static_cast<uint32_t>(layout.bytes.size()), "whole response");
        for (uint32_t i = 0; i < head; i++) {
            add(FAULT_CUT, i, "head byte " + std::to_string(i));
        }
        const std::pair<uint32_t, const char*> body_offsets[] = {
            {0, "0"},      {1, "1"}, {1023, "1023"}, {body / 2, "half"}, {body - 1, "size-1"},
            {body, "size"}};
        for (const auto& offset : body_offsets) {
            add(FAULT_CUT, head + offset.first, std::string("body ") + offset.second);
        }
        if (framing == FRAME_CHUNKED) {
            add(FAULT_CUT, layout.last_chunk_end - 3, "body before the last chunk");
        }
        if (transport == NET_HTTPS) {
            add(FAULT_NOTIFY, head + body / 2, "body half");
            for (Fault record : {FAULT_RECORD_HEADER, FAULT_RECORD_HALF}) {
                add(record, head / 2, "head half");
                add(record, head + body / 2, "body half");
            }
        }
        add(FAULT_RESET, head + body / 2, "body half");
        add(FAULT_STALL, head + body / 2, "body half");
        if (framing == FRAME_LENGTH) {
            add(FAULT_STALL, head / 2, "head half");
        }
    }
    return rows;
}

std::string row_name(const Row& row) {
    return std::string(transport_names[row.transport]) + " " + resource_names[row.resource] + ", " +
           framing_names[row.framing] + ": " + fault_names[row.fault] + " at " + row.where;
}

// ---- The driver ---------------------------------------------------------------

struct Outcome {
    bool finished = false;
    double seconds = 0;
    std::vector<int32_t> params;
    int failures = 0;
    int others = 0;
    PlatformProgressState state = {};
};

class FaultMatrix : public CycleStage {
  public:
    void SetUp() override {
        start_threads_once();
        ASSERT_NO_FATAL_FAILURE(
            stage_up({"update/release/v1", "files", "raw/update/release/v1", "raw/files"}));
        std::string error;
        ASSERT_TRUE(fault.start_with_tls(www.file("raw"), &error)) << error;
        nginx_host = "127.0.0.1:" + std::to_string(nginx.https_port());
        installed = test_program_bytes(5000, 41);
        next = test_program_bytes(40000, 42);
        ASSERT_TRUE(test_write_file(www.file("files/CorvaneChat.exe"), next));
    }
    // A signed manifest for the program file at url, with release notes
    // long enough that the body offsets fall inside the document, and no
    // line end after the root's end tag, so that its last byte closes it.
    std::string manifest_for(const std::string& url, uint32_t* fields_end) {
        TestRelease release = make_test_release(next, url);
        std::string notes;
        while (notes.size() < 3000) {
            notes += "Faster start-up and a clearer error when the network fails.\n";
        }
        release.fields.text[FIELD_CHANGELOG] = notes;
        resign_test_release(&release);
        std::string xml = test_release_xml(release);
        while (!xml.empty() && xml.back() == '\n') {
            xml.pop_back();
        }
        if (fields_end != nullptr) {
            *fields_end = static_cast<uint32_t>(xml.rfind("</verify>") + strlen("</verify>"));
        }
        return xml;
    }

    std::string raw_path(const Row& row) const {
        return std::string("/raw/") + fault_names[row.fault] + "/" + std::to_string(row.sent);
    }

    Outcome run_cycle(bool fast_clock) {
        Outcome out;
        done_params.clear();
        failure_reports = 0;
        other_reports = 0;
        updates_held = 0;
        clock_set_fast(fast_clock);
        auto started = std::chrono::steady_clock::now();
        EXPECT_TRUE(mail_post(updater_mailbox, MAIL_RUN_UPDATE, 0, nullptr, nullptr));
        out.finished = mail_wait(MAIL_UPDATE_DONE, CYCLE_TIMEOUT_MS);
        out.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        out.params = done_params;
        out.failures = failure_reports;
        out.others = other_reports;
        platform_progress_bar_record(status_progress_bar(), &out.state, nullptr, 0);
        // The teardown follows the broadcast on the updater thread.
        for (int i = 0; i < 1000 && status_count() != 0; i++) {
            platform_sleep_ms(1);
        }
        clock_set_fast(false);
        EXPECT_EQ(status_count(), 0) << "the cycle removed its entry";
        return out;
    }

    // Runs one row from a fresh install and bar.
    void run_row(const Row& row, const Layout& layout, uint32_t fields_end) {
        SCOPED_TRACE(row_name(row));
        drop_bar();
        progress_bar_create(parent);
        fs::remove(program_path() + ".old");
        EXPECT_TRUE(test_write_file(program_path(), installed));
        std::string raw = row.resource == RES_MANIFEST ? "raw/update/release/v1/corvanechat.xml"
                                                       : "raw/files/CorvaneChat.exe";
        EXPECT_TRUE(test_write_file(www.file(raw), layout.bytes));
        if (row.resource == RES_MANIFEST) {
            // The fault rides in the path in front of the manifest's fixed one.
            fault_host = "127.0.0.1:" + std::to_string(fault.tls_port()) + raw_path(row);
            update_set_host_for_tests(fault_host.c_str());
        } else {
            std::string path = raw_path(row) + "/files/CorvaneChat.exe";
            std::string url = row.transport == NET_HTTPS ? fault.tls_url(path) : fault.url(path);
            EXPECT_TRUE(test_write_file(www.file("update/release/v1/corvanechat.xml"),
                                        manifest_for(url, nullptr)));
            update_set_host_for_tests(nginx_host.c_str());
        }
        bool succeeds = row_succeeds(row, layout, fields_end);
        Outcome out = run_cycle(row.fault == FAULT_STALL);
        EXPECT_TRUE(out.finished);
        if (row.fault == FAULT_STALL) {
            EXPECT_GT(out.seconds, 1.0) << "the client waited for the stalled peer";
        } else {
            EXPECT_LT(out.seconds, 10.0)
                << "a broken connection is noticed at once, not at a deadline";
        }
        EXPECT_EQ(out.others, 0) << "no other report";
        EXPECT_FALSE(fs::exists(program_path() + ".stage"));
        std::string now;
        EXPECT_TRUE(test_read_file(program_path(), &now));
        if (succeeds) {
            EXPECT_EQ(out.params, std::vector<int32_t>{1}) << "expected to succeed";
            EXPECT_EQ(out.failures, 0);
            EXPECT_TRUE(now == next) << "the new program file is in place";
            std::string old;
            EXPECT_TRUE(test_read_file(program_path() + ".old", &old) && old == installed);
            EXPECT_EQ(out.state.state, PLATFORM_PBST_NORMAL);
            EXPECT_EQ(update_last_failure(), UPDATE_FAILURE_NONE);
        } else {
            EXPECT_EQ(update_last_failure(), row_failure(row, layout));
            EXPECT_EQ(out.params, std::vector<int32_t>{0}) << "expected to fail";
            EXPECT_EQ(out.failures, 1);
            EXPECT_TRUE(now == installed) << "the installed program file changed";
            EXPECT_FALSE(fs::exists(program_path() + ".old"));
            EXPECT_EQ(out.state.state, PLATFORM_PBST_ERROR);
            EXPECT_EQ(out.state.bar_color, STATUS_FAILURE_COLOUR);
            EXPECT_EQ(out.state.position, 100);
        }
    }

    // Failed checks so far in this test, to name the rows that broke.
    static int failed_checks() {
        const ::testing::TestResult* result =
            ::testing::UnitTest::GetInstance()->current_test_info()->result();
        int n = 0;
        for (int i = 0; i < result->total_part_count(); i++) {
            n += result->GetTestPartResult(i).failed() ? 1 : 0;
        }
        return n;
    }

    void run_matrix(Transport transport, Resource resource) {
        uint32_t fields_end = 0;
        std::string payload = next;
        if (resource == RES_MANIFEST) {
            payload = manifest_for(nginx.https_url("/files/CorvaneChat.exe"), &fields_end);
            publish_nothing_on_nginx();
        }
        std::vector<Layout> layouts;
        for (int f = FRAME_LENGTH; f <= FRAME_HINTS; f++) {
            layouts.push_back(layout_response(static_cast<Framing>(f), payload));
        }
        std::vector<Row> rows = make_rows(transport, resource, layouts);
        auto started = std::chrono::steady_clock::now();
        int successes = 0;
        std::vector<std::string> broken;
        for (const Row& row : rows) {
            const Layout& layout = layouts[row.framing];
            successes += row_succeeds(row, layout, fields_end) ? 1 : 0;
            int failed_before = failed_checks();
            run_row(row, layout, fields_end);
            if (failed_checks() != failed_before) {
                broken.push_back(row_name(row));
            }
        }
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        printf("fault matrix, %s %s: %zu runs (%d expected to succeed) in %.1f s\n",
               transport_names[transport], resource_names[resource], rows.size(), successes,
               seconds);
        RecordProperty("runs", static_cast<int>(rows.size()));
        for (const std::string& name : broken) {
            printf("  row failed: %s\n", name.c_str());
        }
    }

    // The manifest rows fetch the manifest from the fault server only.
    void publish_nothing_on_nginx() { fs::remove(www.file("update/release/v1/corvanechat.xml")); }

    std::string nginx_host;
    std::string fault_host;
    std::string installed;
    std::string next;
};

// The tool fetches its manifest over HTTPS only.
TEST_F(FaultMatrix, ManifestOverHttps) {
    run_matrix(NET_HTTPS, RES_MANIFEST);
}

TEST_F(FaultMatrix, ProgramFileOverHttp) {
    run_matrix(NET_HTTP, RES_PROGRAM);
}

TEST_F(FaultMatrix, ProgramFileOverHttps) {
    run_matrix(NET_HTTPS, RES_PROGRAM);
}

}  // namespace
