// Helpers shared by the runtime core's tests: the process's one attached
// mailbox, a recorder for handler calls, temporary folders and text helpers.
#pragma once

#include <gtest/gtest.h>

#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <vector>

#include "core/mailbox.h"
#include "core/path.h"
#include "platform/platform.h"

// The mailbox attached to the test process's main thread. Attaching also
// makes the registry lock, so it must come before any other mailbox.
inline Mailbox* test_main_mailbox() {
    static const HandlerEntry table[] = {{0, nullptr}};
    static Mailbox* m = mailbox_attach_current(table);
    return m;
}

// Empties the calling thread's window-message queue.
inline void drain_thread_queue() {
    PlatformMsg msg;
    while (platform_peek_message(&msg)) {
    }
}

// One handler call (or window-procedure call, with window set).
struct Call {
    Mailbox* receiver;  // current mailbox of the thread that ran it
    Mailbox* sender;
    uint32_t id;
    int32_t param;
    void* payload;
    int tag;  // which handler ran
};

// Calls from every thread, in the order they happened.
class CallLog {
  public:
    void add(const Call& c) {
        std::lock_guard<std::mutex> hold(lock_);
        calls_.push_back(c);
    }
    std::vector<Call> calls() {
        std::lock_guard<std::mutex> hold(lock_);
        return calls_;
    }
    size_t size() {
        std::lock_guard<std::mutex> hold(lock_);
        return calls_.size();
    }
    std::vector<uint32_t> ids() {
        std::lock_guard<std::mutex> hold(lock_);
        std::vector<uint32_t> out;
        for (const Call& c : calls_)
            out.push_back(c.id);
        return out;
    }
    void clear() {
        std::lock_guard<std::mutex> hold(lock_);
        calls_.clear();
    }

  private:
    std::mutex lock_;
    std::vector<Call> calls_;
};

inline CallLog& call_log() {
    static CallLog log;
    return log;
}

template <int Tag>
int32_t tagged_handler(Mailbox* sender, uint32_t id, int32_t param, void* payload) {
    call_log().add({mail_current_mailbox(), sender, id, param, payload, Tag});
    return 0;
}

// Records the call and returns 0.
inline int32_t record_handler(Mailbox* sender, uint32_t id, int32_t param, void* payload) {
    return tagged_handler<0>(sender, id, param, payload);
}

// Counts release calls and frees the payload.
inline int& release_count() {
    static int count;
    return count;
}
inline void counting_release(void* payload) {
    release_count()++;
    free(payload);
}

// Waits (pumping the calling thread's mailbox) until the log holds n calls
// or timeout_ms passed. True when it got there.
inline bool pump_until_logged(size_t n, uint32_t timeout_ms) {
    uint32_t start = platform_tick_ms();
    while (call_log().size() < n) {
        if (platform_tick_ms() - start > timeout_ms)
            return false;
        mail_wait(0xFFFFFFF0u, 20);
    }
    return true;
}

// Sleeps until the log holds n calls (for logs filled by other threads).
inline bool sleep_until_logged(size_t n, uint32_t timeout_ms) {
    uint32_t start = platform_tick_ms();
    while (call_log().size() < n) {
        if (platform_tick_ms() - start > timeout_ms)
            return false;
        platform_sleep_ms(1);
    }
    return true;
}

// A fresh folder under the system's temporary folder, removed with all its
// contents at the end of the test. Its POSIX path is also its internal path.
class TempDir {
  public:
    TempDir() {
        const char* base = getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/corvane-core-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back(0);
        if (mkdtemp(buf.data()) == nullptr) {
            ADD_FAILURE() << "mkdtemp failed";
        }
        char* real = realpath(buf.data(), nullptr);
        path_ = real ? real : buf.data();
        free(real);
    }
    ~TempDir() {
        nftw(
            path_.c_str(),
            [](const char* p, const struct stat*, int, struct FTW*) { return remove(p); }, 16,
            FTW_DEPTH | FTW_PHYS);
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

inline bool is_directory(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
inline bool is_file(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
inline bool exists(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0;
}
inline void write_file(const std::string& p, const std::string& text) {
    FILE* f = fopen(p.c_str(), "wb");
    ASSERT_NE(f, nullptr) << p;
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
}
inline std::string read_file(const std::string& p) {
    std::string out;
    FILE* f = fopen(p.c_str(), "rb");
    if (f == nullptr)
        return "<missing>";
    char buf[256];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    fclose(f);
    return out;
}

// Changes the current directory for one test and forgets the cached one,
// restoring both afterwards.
class ScopedCwd {
  public:
    explicit ScopedCwd(const std::string& dir) {
        char* old = getcwd(nullptr, 0);
        old_ = old ? old : "/";
        free(old);
        EXPECT_EQ(chdir(dir.c_str()), 0) << dir;
        path_reset_current_directory();
    }
    ~ScopedCwd() {
        EXPECT_EQ(chdir(old_.c_str()), 0);
        path_reset_current_directory();
    }

  private:
    std::string old_;
};

// UTF-8 <-> wide for messages and comparisons.
inline std::string narrow(const wchar_t* w) {
    if (w == nullptr)
        return "<none>";
    int n = platform_wide_to_utf8(w, nullptr, 0);
    std::string out((size_t)n, '\0');
    platform_wide_to_utf8(w, &out[0], n);
    out.resize((size_t)n - 1);
    return out;
}
inline std::wstring widen(const char* s) {
    int n = platform_utf8_to_wide(s, nullptr, 0);
    std::wstring out((size_t)n, L'\0');
    platform_utf8_to_wide(s, &out[0], n);
    out.resize((size_t)n - 1);
    return out;
}
inline std::string or_none(const char* s) {
    return s ? std::string("\"") + s + "\"" : "<none>";
}
