// Processes and message boxes.
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/posix/posix_internal.h"

extern char** environ;

static wchar_t* program_path;  // lives as long as the process

const wchar_t* platform_program_path(void) {
    if (program_path != nullptr) {
        return program_path;
    }
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n < 0) {
        n = 0;
    }
    buffer[n] = 0;
    int units = platform_utf8_to_wide(buffer, nullptr, 0);
    wchar_t* path = static_cast<wchar_t*>(malloc((size_t)units * sizeof(wchar_t)));
    if (path == nullptr) {
        return L"";
    }
    platform_utf8_to_wide(buffer, path, units);
    program_path = path;
    return program_path;
}

// Converts a wide vector to UTF-8 strings in one heap block; null on failure.
static char** utf8_vector(wchar_t** wide, int count) {
    size_t bytes = (size_t)(count + 1) * sizeof(char*);
    for (int i = 0; i < count; i++) {
        bytes += (size_t)platform_wide_to_utf8(wide[i], nullptr, 0);
    }
    char** v = static_cast<char**>(malloc(bytes));
    if (v == nullptr) {
        return nullptr;
    }
    char* out = reinterpret_cast<char*>(v + count + 1);
    for (int i = 0; i < count; i++) {
        int n = platform_wide_to_utf8(wide[i], nullptr, 0);
        platform_wide_to_utf8(wide[i], out, n);
        v[i] = out;
        out += n;
    }
    v[count] = nullptr;
    return v;
}

bool platform_process_start(const wchar_t* application_long, wchar_t* command_line) {
    char* path = posix_path_from_long(application_long);
    int argc = 0;
    wchar_t** wide_argv = platform_split_command_line(command_line, &argc);
    char** argv = wide_argv ? utf8_vector(wide_argv, argc) : nullptr;
    bool started = false;
    if (path != nullptr && argv != nullptr) {
        pid_t pid;
        // glibc reports a failed exec through the result, as CreateProcessW would.
        started = posix_spawn(&pid, path, nullptr, nullptr, argv, environ) == 0;
    }
    free(argv);
    free(wide_argv);
    free(path);
    return started;
}

void platform_process_exit(uint32_t code) {
    fflush(stdout);
    fflush(stderr);
    // The other threads may be anywhere; end without running destructors.
    _exit((int)code);
}

static PlatformMessageBoxHook message_box_hook;

void platform_set_message_box_hook(PlatformMessageBoxHook hook) {
    message_box_hook = hook;
}

const char* platform_message_box_kind(uint32_t type) {
    switch (type & 0xF0) {
        case PLATFORM_MB_ICONERROR:
            return "error";
        case PLATFORM_MB_ICONQUESTION:
            return "question";
        case PLATFORM_MB_ICONINFORMATION:
            return "information";
        default:
            return "message";
    }
}

int platform_message_box(void* owner, const wchar_t* text, const wchar_t* caption, uint32_t type) {
    if (message_box_hook != nullptr) {
        return message_box_hook(owner, text, caption, type);
    }
    // No window to show it in: print it where a user or a script sees it.
    printf("[%s] %ls: %ls\n", platform_message_box_kind(type), caption ? caption : L"",
           text ? text : L"");
    fflush(stdout);
    return (type & 0xF) == PLATFORM_MB_YESNO ? PLATFORM_IDNO : PLATFORM_IDOK;
}
