// Runs the tool's test build with pipes for input and output.
#include "tests/ui/tool_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static long now_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

ToolProcess::~ToolProcess() {
    if (in_ >= 0) {
        close(in_);
    }
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) {
        close(out_);
    }
}

pid_t tool_spawn(const std::vector<std::string>& arguments, const std::vector<std::string>& env,
                 const char* wrapper, int* input, int* output) {
    std::vector<std::string> args;
    if (wrapper != nullptr) {
        std::string words = wrapper;
        size_t at = 0;
        while (at < words.size()) {
            size_t end = words.find(' ', at);
            if (end == std::string::npos) {
                end = words.size();
            }
            if (end > at) {
                args.push_back(words.substr(at, end - at));
            }
            at = end + 1;
        }
    }
    args.push_back(CORVANE_UI_TOOL);
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environment = env;
    const char* path = getenv("PATH");
    environment.push_back(std::string("PATH=") + (path ? path : "/usr/bin:/bin"));
    environment.push_back("LC_ALL=C.UTF-8");
    // A sanitizer build of the tool reports under the options its test runs
    // with (leak checking, halting on a race).
    for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"}) {
        const char* value = getenv(name);
        if (value != nullptr) {
            environment.push_back(std::string(name) + "=" + value);
        }
    }
    std::vector<char*> argv, envp;
    for (auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    for (auto& e : environment) {
        envp.push_back(const_cast<char*>(e.c_str()));
    }
    envp.push_back(nullptr);

    int to_child[2], from_child[2];
    if (pipe(to_child) != 0) {
        return -1;
    }
    if (pipe(from_child) != 0) {
        close(to_child[0]);
        close(to_child[1]);
        return -1;
    }
    pid_t pid = fork();
    if (pid == 0) {
        dup2(to_child[0], 0);
        dup2(from_child[1], 1);
        close(to_child[0]);
        close(to_child[1]);
        close(from_child[0]);
        close(from_child[1]);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(to_child[0]);
    close(from_child[1]);
    if (pid < 0) {
        close(to_child[1]);
        close(from_child[0]);
        return -1;
    }
    *input = to_child[1];
    *output = from_child[0];
    // A tool that ended must not kill the test with SIGPIPE on a write.
    signal(SIGPIPE, SIG_IGN);
    return pid;
}

bool ToolProcess::start(const std::vector<std::string>& arguments,
                        const std::vector<std::string>& env, std::string* error) {
    // A checker the tool runs under (CORVANE_TOOL_WRAPPER: an absolute
    // program path and its options, separated by spaces), such as valgrind.
    pid_ = tool_spawn(arguments, env, getenv("CORVANE_TOOL_WRAPPER"), &in_, &out_);
    if (pid_ < 0) {
        *error = "pipe or fork failed";
        return false;
    }
    // Start-up goes on after the window exists (updater thread, key, the
    // program file's recovery, which makes "Bin"); nothing tells the window
    // when it is done, so the script gives it a moment before its first line.
    usleep(300 * 1000);
    return true;
}

void ToolProcess::send(const std::string& line) {
    if (in_ < 0) {
        return;
    }
    std::string text = line + "\n";
    ssize_t ignored = write(in_, text.data(), text.size());
    (void)ignored;
}

void ToolProcess::close_input() {
    if (in_ >= 0) {
        close(in_);
    }
    in_ = -1;
}

bool ToolProcess::read_some(int timeout_ms) {
    if (eof_ || out_ < 0) {
        return false;
    }
    pollfd p = {out_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) {
        return false;
    }
    char buffer[4096];
    ssize_t n = read(out_, buffer, sizeof buffer);
    if (n <= 0) {
        eof_ = true;
        return false;
    }
    pending_.append(buffer, (size_t)n);
    size_t at;
    while ((at = pending_.find('\n')) != std::string::npos) {
        lines_.push_back(pending_.substr(0, at));
        pending_.erase(0, at + 1);
    }
    return true;
}

std::string ToolProcess::expect(const std::string& prefix, int timeout_ms) {
    long deadline = now_ms() + timeout_ms;
    for (;;) {
        while (next_ < lines_.size()) {
            const std::string& line = lines_[next_++];
            if (line.compare(0, prefix.size(), prefix) == 0) {
                return line;
            }
        }
        long left = deadline - now_ms();
        if (left <= 0 || eof_) {
            return "";
        }
        read_some((int)left);
    }
}

int ToolProcess::wait_exit(int timeout_ms) {
    long deadline = now_ms() + timeout_ms;
    for (;;) {
        int status = 0;
        pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            pid_ = -1;
            while (read_some(100)) {
            }
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (now_ms() > deadline) {
            return -1;
        }
        if (!read_some(20)) {
            usleep(5000);
        }
    }
}

std::string ToolProcess::transcript() const {
    std::string all;
    for (const auto& line : lines_) {
        all += line + "\n";
    }
    return all;
}

std::vector<std::string> ToolProcess::lines_with(const std::string& prefix, size_t from) const {
    std::vector<std::string> found;
    for (size_t i = from; i < lines_.size(); i++) {
        if (lines_[i].compare(0, prefix.size(), prefix) == 0) {
            found.push_back(lines_[i]);
        }
    }
    return found;
}
