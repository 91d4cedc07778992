// Linked only into the tool's test build: every rename, delete, mode change
// and flush the tool makes is a file step, and the tool's own calls reach
// these definitions before the C library's. With CORVANE_TEST_CRASH_STEP=N
// the tool kills itself with SIGKILL at the Nth step point (each step has
// one before and one after it), as a crash at that moment would; with
// CORVANE_TEST_FILE_TRACE=PATH each step is appended to PATH as a line
// ("rename FROM TO", "unlink PATH", "chmod PATH", "fsync PATH"). With
// CORVANE_TEST_LATE_STAGE=MS a staging file (a name ending in ".stage") is
// created as late as a run allows: its creation waits until the process
// has begun to exit, and the exit waits for a creation to be done, each
// for at most MS ms; a tool that creates the file after a close gave it up
// then leaves it behind every time, not only in a rare race. The product
// build has none of these.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <string>

namespace {

std::atomic<long> step_points{0};

long crash_step() {
    static const long step = [] {
        const char* text = getenv("CORVANE_TEST_CRASH_STEP");
        return text != nullptr ? atol(text) : 0L;
    }();
    return step;
}

// One step point; at the chosen one the process ends as under kill -9.
void step_point() {
    if (++step_points == crash_step()) {
        kill(getpid(), SIGKILL);
    }
}

void trace(const std::string& line) {
    const char* path = getenv("CORVANE_TEST_FILE_TRACE");
    if (path == nullptr || *path == 0) {
        return;
    }
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        return;
    }
    std::string text = line + "\n";
    ssize_t ignored = write(fd, text.data(), text.size());
    (void)ignored;
    close(fd);
}

std::string fd_path(int fd) {
    char link[64], target[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, target, sizeof target - 1);
    return n > 0 ? std::string(target, (size_t)n) : std::string("?");
}

template <typename F>
F next_definition(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// Runs call between two step points and traces it once it succeeded; the
// call's errno survives the bookkeeping.
template <typename Call>
int as_step(const std::string& line, Call call) {
    step_point();
    int result = call();
    int saved = errno;
    if (result == 0) {
        trace(line);
    }
    step_point();
    errno = saved;
    return result;
}

long late_stage_ms() {
    static const long ms = [] {
        const char* text = getenv("CORVANE_TEST_LATE_STAGE");
        return text != nullptr ? atol(text) : 0L;
    }();
    return ms;
}

bool is_stage(const char* path) {
    size_t n = strlen(path), suffix = strlen(".stage");
    return n >= suffix && strcmp(path + n - suffix, ".stage") == 0;
}

// Static initialisers and no destructors: the updater thread may still use
// them while the process runs its exit handlers.
pthread_mutex_t late_lock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t late_cond = PTHREAD_COND_INITIALIZER;
bool late_exiting = false;
bool late_created = false;

// Waits on late_cond until *flag is set or the hook's time has passed;
// late_lock held.
void late_wait_for(const bool* flag) {
    struct timespec deadline;
    clock_gettime(CLOCK_REALTIME, &deadline);
    long ms = late_stage_ms();
    deadline.tv_sec += ms / 1000;
    deadline.tv_nsec += (ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    while (!*flag) {
        if (pthread_cond_timedwait(&late_cond, &late_lock, &deadline) != 0) {
            return;
        }
    }
}

void late_stage_at_exit() {
    pthread_mutex_lock(&late_lock);
    late_exiting = true;
    pthread_cond_broadcast(&late_cond);
    late_wait_for(&late_created);
    pthread_mutex_unlock(&late_lock);
}

const bool late_stage_registered = late_stage_ms() > 0 && atexit(late_stage_at_exit) == 0;

}  // namespace

extern "C" int open(const char* path, int flags, ...) {
    static auto next = next_definition<int (*)(const char*, int, ...)>("open");
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0) {
        va_list args;
        va_start(args, flags);
        mode = (mode_t)va_arg(args, int);
        va_end(args);
    }
    if (!late_stage_registered || (flags & O_CREAT) == 0 || !is_stage(path)) {
        return next(path, flags, mode);
    }
    pthread_mutex_lock(&late_lock);
    late_wait_for(&late_exiting);
    pthread_mutex_unlock(&late_lock);
    int fd = next(path, flags, mode);
    int saved = errno;
    pthread_mutex_lock(&late_lock);
    late_created = true;
    pthread_cond_broadcast(&late_cond);
    pthread_mutex_unlock(&late_lock);
    errno = saved;
    return fd;
}

extern "C" int renameat2(int from_dir, const char* from, int to_dir, const char* to,
                         unsigned int flags) noexcept {
    static auto next =
        next_definition<int (*)(int, const char*, int, const char*, unsigned int)>("renameat2");
    return as_step(std::string("rename ") + from + " " + to,
                   [&] { return next(from_dir, from, to_dir, to, flags); });
}

extern "C" int link(const char* from, const char* to) noexcept {
    static auto next = next_definition<int (*)(const char*, const char*)>("link");
    return as_step(std::string("link ") + from + " " + to, [&] { return next(from, to); });
}

extern "C" int unlink(const char* path) noexcept {
    static auto next = next_definition<int (*)(const char*)>("unlink");
    return as_step(std::string("unlink ") + path, [&] { return next(path); });
}

extern "C" int chmod(const char* path, mode_t mode) noexcept {
    static auto next = next_definition<int (*)(const char*, mode_t)>("chmod");
    return as_step(std::string("chmod ") + path, [&] { return next(path, mode); });
}

extern "C" int fsync(int fd) {
    static auto next = next_definition<int (*)(int)>("fsync");
    return as_step("fsync " + fd_path(fd), [&] { return next(fd); });
}
