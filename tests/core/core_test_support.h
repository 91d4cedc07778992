// Helpers shared by the runtime core's tests: the process's one attached
// mailbox, a recorder for handler calls, temporary folders and text helpers.
#pragma once

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <system_error>
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
        for (const Call& c : calls_) {
            out.push_back(c.id);
        }
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
        if (platform_tick_ms() - start > timeout_ms) {
            return false;
        }
        mail_wait(0xFFFFFFF0u, 20);
    }
    return true;
}

// Sleeps until the log holds n calls (for logs filled by other threads).
inline bool sleep_until_logged(size_t n, uint32_t timeout_ms) {
    uint32_t start = platform_tick_ms();
    while (call_log().size() < n) {
        if (platform_tick_ms() - start > timeout_ms) {
            return false;
        }
        platform_sleep_ms(1);
    }
    return true;
}

// The system's own path for an internal path: on Windows "/C:/a/b" is
// C:\a\b; on POSIX the two forms are the same. Kept apart from the product's
// conversions, so the helpers below check the files independently of them.
inline std::filesystem::path native_path(const std::string& internal) {
    std::string text = internal;
#ifdef _WIN32
    if (text.size() >= 3 && text[0] == '/' && text[2] == ':') {
        text.erase(0, 1);
    }
    for (char& c : text) {
        if (c == '/') {
            c = '\\';
        }
    }
#endif
    return std::filesystem::u8path(text);
}

// The internal form of an absolute system path (a drive path on Windows).
inline std::string internal_path(const std::filesystem::path& native) {
    std::string text = native.u8string();
#ifdef _WIN32
    for (char& c : text) {
        if (c == '\\') {
            c = '/';
        }
    }
    if (text.size() >= 2 && text[1] == ':') {
        text.insert(0, "/");
    }
#endif
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return text;
}

// True when an internal path starts with a drive ("/C:" or "/C:/...").
inline bool has_drive(const std::string& internal) {
    return internal.size() >= 3 && internal[0] == '/' && internal[2] == ':' &&
           ((internal[1] >= 'A' && internal[1] <= 'Z') ||
            (internal[1] >= 'a' && internal[1] <= 'z')) &&
           (internal.size() == 3 || internal[3] == '/');
}

// A fresh folder under the system's temporary folder, removed with all its
// contents at the end of the test. path() is its internal path (on POSIX
// also its system path, with symbolic links resolved).
class TempDir {
  public:
    TempDir() {
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::path base = fs::temp_directory_path(ec);
        if (ec) {
            ADD_FAILURE() << "no temporary folder: " << ec.message();
            return;
        }
        fs::path real = fs::canonical(base, ec);
        if (!ec) {
            base = real;
        }
        static std::mutex lock;
        static std::mt19937_64 random(
            std::random_device{}() ^
            (uint64_t)std::chrono::steady_clock::now().time_since_epoch().count());
        for (int attempt = 0; attempt < 100; attempt++) {
            uint64_t n;
            {
                std::lock_guard<std::mutex> hold(lock);
                n = random();
            }
            char name[64];
            snprintf(name, sizeof name, "corvane-core-%016llx", (unsigned long long)n);
            fs::path candidate = base / name;
            if (fs::create_directory(candidate, ec) && !ec) {
                native_ = candidate;
                path_ = internal_path(candidate);
                return;
            }
        }
        ADD_FAILURE() << "could not make a folder in " << base.u8string();
    }
    ~TempDir() {
        std::error_code ec;
        if (!native_.empty()) {
            std::filesystem::remove_all(native_, ec);
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::filesystem::path native_;
    std::string path_;
};

// File checks and changes on internal paths, through the system's own
// calls (std::filesystem and the C runtime), not the product's layer.
inline bool is_directory(const std::string& p) {
    std::error_code ec;
    return std::filesystem::is_directory(native_path(p), ec);
}
inline bool is_file(const std::string& p) {
    std::error_code ec;
    return std::filesystem::is_regular_file(native_path(p), ec);
}
inline bool exists(const std::string& p) {
    std::error_code ec;
    return std::filesystem::exists(native_path(p), ec);
}
// Makes one folder; true when it was made.
inline bool make_folder(const std::string& p) {
    std::error_code ec;
    return std::filesystem::create_directory(native_path(p), ec) && !ec;
}
inline FILE* open_file(const std::string& p, const char* mode) {
#ifdef _WIN32
    std::wstring wide_mode(mode, mode + strlen(mode));
    return _wfopen(native_path(p).c_str(), wide_mode.c_str());
#else
    return fopen(native_path(p).c_str(), mode);
#endif
}
inline void write_file(const std::string& p, const std::string& text) {
    FILE* f = open_file(p, "wb");
    ASSERT_NE(f, nullptr) << p;
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
}
inline std::string read_file(const std::string& p) {
    std::string out;
    FILE* f = open_file(p, "rb");
    if (f == nullptr) {
        return "<missing>";
    }
    char buf[256];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) {
        out.append(buf, n);
    }
    fclose(f);
    return out;
}

// Makes the folder at an internal path the current directory; true on
// success. The product's cached copy is left alone.
inline bool change_directory(const std::string& dir) {
    std::error_code ec;
    std::filesystem::current_path(native_path(dir), ec);
    return !ec;
}

// Changes the current directory for one test and forgets the cached one,
// restoring both afterwards.
class ScopedCwd {
  public:
    explicit ScopedCwd(const std::string& dir) {
        std::error_code ec;
        old_ = std::filesystem::current_path(ec);
        EXPECT_FALSE(ec) << "no current directory";
        EXPECT_TRUE(change_directory(dir)) << dir;
        path_reset_current_directory();
    }
    ~ScopedCwd() {
        std::error_code ec;
        std::filesystem::current_path(old_, ec);
        EXPECT_FALSE(ec) << "could not go back to " << old_.u8string();
        path_reset_current_directory();
    }
    ScopedCwd(const ScopedCwd&) = delete;
    ScopedCwd& operator=(const ScopedCwd&) = delete;

  private:
    std::filesystem::path old_;
};

// UTF-8 <-> wide for messages and comparisons.
inline std::string narrow(const wchar_t* w) {
    if (w == nullptr) {
        return "<none>";
    }
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
