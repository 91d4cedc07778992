// Crash safety of Install and Repair. The console tool is killed with
// SIGKILL at every file step of both operations (each rename, delete, mode
// change and flush, before and after it) and at random moments of the
// download of a 16 MiB release served at a limited rate, then started once
// more on the same folder. After that start the program file must be whole
// (the one from before or the new one, compared byte for byte), executable,
// with no staging, previous or backup file beside it; the window's first
// state must match it; and a Repair from there (an Install where there was
// no program file before) must succeed. The counts are printed.
//
// CORVANE_CRASH_CYCLES sets the number of cycles (default 200, fewer in a
// sanitizer build), CORVANE_CRASH_SEED the seed of the random moments.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tests/support/release.h"
#include "tests/support/servers.h"
#include "tests/ui/tool_process.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t RELEASE_SIZE = 16 * 1024 * 1024;
// About a second for the whole body, so a random moment mostly falls into
// the download.
const char SLOW_SERVER[] = "limit_rate 16m;";
const char REPAIR_SUCCESS[] =
    "[information] Corvane Chat: The repair process completed successfully.";
constexpr int RUN_TIMEOUT_MS = 60000;

// Under a sanitizer the tool runs many times slower: the default then
// covers the file steps of both operations and only a few random moments.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr long DEFAULT_CYCLES = 40;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr long DEFAULT_CYCLES = 40;
#else
constexpr long DEFAULT_CYCLES = 200;
#endif
#else
constexpr long DEFAULT_CYCLES = 200;
#endif

long now_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

// The tool's test build as a child with piped standard input and output.
// Unlike the window tests' runner it starts without a settling pause and
// can be killed, which hundreds of runs need.
class Tool {
  public:
    Tool() = default;
    ~Tool() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (in_ >= 0) {
            close(in_);
        }
        if (out_ >= 0) {
            close(out_);
        }
    }
    Tool(const Tool&) = delete;
    Tool& operator=(const Tool&) = delete;

    // Without a checker: the kill must reach the tool itself.
    bool start(const std::vector<std::string>& arguments, const std::vector<std::string>& env) {
        pid_ = tool_spawn(arguments, env, nullptr, &in_, &out_);
        return pid_ > 0;
    }

    void send(const std::string& line) {
        std::string text = line + "\n";
        if (in_ >= 0) {
            ssize_t ignored = write(in_, text.data(), text.size());
            (void)ignored;
        }
    }

    // The next complete output line, or false at the deadline or the end.
    bool next_line(long deadline, std::string* line) {
        for (;;) {
            size_t at = pending_.find('\n');
            if (at != std::string::npos) {
                *line = pending_.substr(0, at);
                pending_.erase(0, at + 1);
                transcript_ += *line + "\n";
                return true;
            }
            long left = deadline - now_ms();
            if (eof_ || left <= 0) {
                return false;
            }
            pollfd p = {out_, POLLIN, 0};
            if (poll(&p, 1, (int)left) <= 0) {
                continue;
            }
            char buffer[4096];
            ssize_t n = read(out_, buffer, sizeof buffer);
            if (n <= 0) {
                eof_ = true;
            } else {
                pending_.append(buffer, (size_t)n);
            }
        }
    }

    std::string expect(const std::string& prefix, int timeout_ms) {
        long deadline = now_ms() + timeout_ms;
        std::string line;
        while (next_line(deadline, &line)) {
            if (line.compare(0, prefix.size(), prefix) == 0) {
                return line;
            }
        }
        return "";
    }

    void kill9() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
        }
    }

    // Exit code, -SIGNAL when a signal ended it, or INT32_MIN on timeout.
    int wait(int timeout_ms) {
        long deadline = now_ms() + timeout_ms;
        for (;;) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
            }
            if (now_ms() > deadline) {
                return INT32_MIN;
            }
            std::string ignored;
            if (!next_line(now_ms() + 10, &ignored)) {
                usleep(2000);
            }
        }
    }

    bool running() const { return pid_ > 0; }
    const std::string& transcript() const { return transcript_; }

  private:
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    std::string pending_;
    std::string transcript_;
    bool eof_ = false;
};

// A release behind its own nginx: the manifest names this server's URL.
struct ServedRelease {
    TestTempDir www;
    NginxServer nginx;
    std::string host;

    bool start(const std::string& program, const std::string& config, std::string* error) {
        fs::create_directories(www.file("update/release/v1"));
        NginxOptions options;
        options.root = www.path();
        options.http = false;
        options.https = true;
        options.server_config = config;
        if (!nginx.start(options, error)) {
            return false;
        }
        host = "127.0.0.1:" + std::to_string(nginx.https_port());
        TestRelease release = make_test_release(program, nginx.https_url("/CorvaneChat.exe"));
        return test_write_file(www.file("CorvaneChat.exe"), program) &&
               test_write_file(www.file("update/release/v1/corvanechat.xml"),
                               test_release_xml(release));
    }
};

enum Operation { OP_INSTALL, OP_REPAIR };

struct Counts {
    int cycles[2] = {0, 0};
    int killed_at_step = 0;
    int killed_at_random = 0;
    int not_killed = 0;
    // After the next start.
    int new_file = 0;
    int previous_file = 0;
    int none_as_before = 0;  // Install cut off before its swap
    int missing = 0;
    int partial = 0;
    int left_over = 0;
    int not_executable = 0;
    int wrong_state = 0;
    int following_ok = 0;
    int following_failed = 0;
    int bad() const {
        return missing + partial + left_over + not_executable + wrong_state + following_failed;
    }
};

class CrashSafetyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string chat;
        ASSERT_TRUE(test_read_file(CORVANE_DEMO_CHAT, &chat));
        // Runnable programs, so that a finished Install ends by starting
        // one; the tail behind the demo program only makes them differ.
        new_program = chat + test_program_bytes(RELEASE_SIZE - chat.size(), 31);
        previous_program = chat + test_program_bytes(256 * 1024, 32);
        std::string error;
        ASSERT_TRUE(slow.start(new_program, SLOW_SERVER, &error)) << error;
        ASSERT_TRUE(fast.start(new_program, "", &error)) << error;
        fs::create_directories(home.file("data"));
        folder = home.file("CorvaneChat");
        program = folder + "/Bin/CorvaneChat.exe";
    }

    std::vector<std::string> environment(const std::string& host, long crash_step) const {
        return {"HOME=" + home.path(),
                "XDG_DATA_HOME=" + home.file("data"),
                "CORVANE_TEST_UPDATE_HOST=" + host,
                std::string("CORVANE_TEST_SIGNING_KEY=") + CORVANE_TEST_KEY,
                "CORVANE_CHAT_RECORD=" + home.file("chat-arguments.txt"),
                "CORVANE_TEST_CRASH_STEP=" + std::to_string(crash_step)};
    }

    // Install starts from no program file, Repair from the previous one.
    void prepare(Operation op) {
        fs::remove_all(folder);
        fs::create_directories(folder + "/Bin");
        if (op == OP_REPAIR) {
            ASSERT_TRUE(test_write_file(program, previous_program));
            fs::permissions(program, fs::perms::owner_all);
        }
    }

    // Drives the operation: answers its question, closes the window after
    // the Repair's result, until the tool ends or the deadline.
    static bool drive(Tool& tool, long deadline) {
        std::string line;
        while (tool.next_line(deadline, &line)) {
            if (line.compare(0, 10, "[question]") == 0) {
                tool.send("yes");
            } else if (line.compare(0, 13, "[information]") == 0 ||
                       line.compare(0, 7, "[error]") == 0) {
                tool.send("close");
            }
        }
        return now_ms() < deadline;
    }

    // One run killed at a file step (delay_ms < 0) or at delay_ms after its
    // start. True when it was killed; *took gets its time.
    bool killed_run(Operation op, long step, long delay_ms, long* took) {
        Tool tool;
        long started = now_ms();
        EXPECT_TRUE(tool.start({"-cvdir", folder}, environment(slow.host, step)));
        tool.send(op == OP_INSTALL ? "install" : "repair");
        long deadline = delay_ms < 0 ? started + RUN_TIMEOUT_MS : started + delay_ms;
        drive(tool, deadline);
        if (delay_ms >= 0) {
            tool.kill9();
        }
        int status = tool.wait(RUN_TIMEOUT_MS);
        *took = now_ms() - started;
        EXPECT_NE(status, INT32_MIN) << tool.transcript();
        return status == -SIGKILL;
    }

    // The next start on the same folder: what it leaves, and whether the
    // following operation succeeds.
    void check_run(Operation op, Counts* counts) {
        Tool tool;
        ASSERT_TRUE(tool.start({"-cvdir", folder}, environment(fast.host, 0)));
        std::string state = tool.expect("state:", RUN_TIMEOUT_MS);
        // Start-up's recovery is over before the window's first state.
        std::string bytes;
        bool present = fs::is_regular_file(program) && test_read_file(program, &bytes);
        if (!present) {
            if (op == OP_INSTALL) {
                counts->none_as_before++;
            } else {
                counts->missing++;
            }
        } else if (bytes == new_program) {
            counts->new_file++;
        } else if (bytes == previous_program && op == OP_REPAIR) {
            counts->previous_file++;
        } else {
            counts->partial++;
        }
        bool left = false;
        for (const char* suffix : {".stage", ".old", ".repair"}) {
            left = left || fs::exists(program + suffix);
        }
        counts->left_over += left ? 1 : 0;
        struct stat st;
        if (present && !(stat(program.c_str(), &st) == 0 && (st.st_mode & S_IXUSR) != 0)) {
            counts->not_executable++;
        }
        const char* label = present ? "state: Launch! " : "state: Install ";
        if (state.compare(0, strlen(label), label) != 0) {
            counts->wrong_state++;
        }

        tool.send(present ? "repair" : "install");
        bool in_time = drive(tool, now_ms() + RUN_TIMEOUT_MS);
        int status = tool.wait(RUN_TIMEOUT_MS);
        bool succeeded = in_time && status == 0 &&
                         (!present || tool.transcript().find(REPAIR_SUCCESS) != std::string::npos);
        std::string after;
        succeeded = succeeded && test_read_file(program, &after) && after == new_program;
        counts->following_ok += succeeded ? 1 : 0;
        counts->following_failed += succeeded ? 0 : 1;
        EXPECT_TRUE(succeeded) << tool.transcript();
    }

    TestTempDir home;
    ServedRelease slow, fast;
    std::string new_program, previous_program;
    std::string folder, program;
};

long env_number(const char* name, long fallback) {
    const char* text = getenv(name);
    return text != nullptr && *text != 0 ? atol(text) : fallback;
}

TEST_F(CrashSafetyTest, KilledInstallAndRepairLeaveAWholeProgramFile) {
    const long cycles = env_number("CORVANE_CRASH_CYCLES", DEFAULT_CYCLES);
    const unsigned seed = (unsigned)env_number("CORVANE_CRASH_SEED", 9);
    std::mt19937 random(seed);
    Counts counts;
    long duration[2] = {0, 0};
    long steps[2] = {0, 0};
    long started = now_ms();
    long done = 0;

    // Every file step of each operation, until a run is no longer killed:
    // that run also gives the operation's length for the random moments.
    for (Operation op : {OP_INSTALL, OP_REPAIR}) {
        for (long step = 1;; step++) {
            ASSERT_LT(step, 500) << "the operation never finished";
            prepare(op);
            long took = 0;
            bool killed = killed_run(op, step, -1, &took);
            check_run(op, &counts);
            counts.cycles[op]++;
            done++;
            if (!killed) {
                counts.not_killed++;
                duration[op] = took;
                steps[op] = step - 1;
                break;
            }
            counts.killed_at_step++;
        }
    }
    for (; done < cycles; done++) {
        Operation op = done % 2 == 0 ? OP_INSTALL : OP_REPAIR;
        std::uniform_int_distribution<long> moment(0, duration[op] + duration[op] / 10);
        prepare(op);
        long took = 0;
        if (killed_run(op, 0, moment(random), &took)) {
            counts.killed_at_random++;
        } else {
            counts.not_killed++;
        }
        check_run(op, &counts);
        counts.cycles[op]++;
    }

    printf("crash safety: %ld cycles (Install %d, Repair %d) in %ld s, seed %u\n", done,
           counts.cycles[OP_INSTALL], counts.cycles[OP_REPAIR], (now_ms() - started) / 1000, seed);
    printf("  file step points: Install %ld, Repair %ld; runs %ld/%ld ms long\n", steps[OP_INSTALL],
           steps[OP_REPAIR], duration[OP_INSTALL], duration[OP_REPAIR]);
    printf("  killed at a file step %d, at a random moment %d, finished first %d\n",
           counts.killed_at_step, counts.killed_at_random, counts.not_killed);
    printf("  after the next start: new file %d, previous file %d, none as before Install %d\n",
           counts.new_file, counts.previous_file, counts.none_as_before);
    printf(
        "  missing %d, partial %d, left-over .stage/.old/.repair %d, not executable %d, "
        "state not matching %d\n",
        counts.missing, counts.partial, counts.left_over, counts.not_executable,
        counts.wrong_state);
    printf("  following Repair (or Install) succeeded %d, failed %d\n", counts.following_ok,
           counts.following_failed);
    EXPECT_EQ(counts.bad(), 0);
    EXPECT_GT(counts.killed_at_random, 0);
}

}  // namespace
