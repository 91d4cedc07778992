// The tool's test build run as a child process: its standard input is a
// pipe the test writes command lines into, its standard output the stable
// event lines the test reads back.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// Starts the tool's test build as a child on two new pipes: arguments follow
// its path (behind the words of wrapper, a checker such as valgrind, when
// it is not null), and its environment is env with PATH, a UTF-8 locale and
// the sanitizers' options added; nothing else is inherited. *input is then
// the write end of its standard input and *output the read end of its
// standard output, and SIGPIPE is ignored so a tool that ended cannot kill
// the test. The child's pid, or -1 with nothing left open and *input,
// *output untouched.
pid_t tool_spawn(const std::vector<std::string>& arguments, const std::vector<std::string>& env,
                 const char* wrapper, int* input, int* output);

class ToolProcess {
  public:
    ToolProcess() = default;
    ~ToolProcess();
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    // Starts the tool with arguments (argument 0 is added) and the
    // environment given as NAME=VALUE entries (nothing else is inherited
    // but PATH and the sanitizers' options), under the checker that
    // CORVANE_TOOL_WRAPPER names, if any.
    bool start(const std::vector<std::string>& arguments, const std::vector<std::string>& env,
               std::string* error);

    // Writes one command line.
    void send(const std::string& line);
    // Closes standard input (the end of input).
    void close_input();

    // Waits for the next line starting with prefix, skipping others; the
    // line, or "" after timeout_ms (or when the tool ended first).
    std::string expect(const std::string& prefix, int timeout_ms = 30000);
    // Waits for the tool to end; its exit code, or -1 on timeout/signal.
    int wait_exit(int timeout_ms = 30000);

    // Every line the tool wrote so far.
    const std::vector<std::string>& lines() const { return lines_; }
    std::string transcript() const;
    // Lines after index from starting with prefix.
    std::vector<std::string> lines_with(const std::string& prefix, size_t from = 0) const;

  private:
    bool read_some(int timeout_ms);

    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    std::string pending_;
    std::vector<std::string> lines_;
    size_t next_ = 0;  // first line expect() has not looked at
    bool eof_ = false;
};
