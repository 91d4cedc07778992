// Processes and message boxes.
#include <windows.h>

#include <stdlib.h>

#include "platform/platform.h"

const wchar_t* platform_program_path(void) {
    // The running program file's full path, kept for the life of the process.
    static wchar_t path[32768];
    if (path[0] == 0) {
        DWORD n = GetModuleFileNameW(nullptr, path, sizeof path / sizeof path[0]);
        if (n == 0 || n >= sizeof path / sizeof path[0]) {
            path[0] = 0;
        }
    }
    return path;
}

bool platform_process_start(const wchar_t* application_long, wchar_t* command_line) {
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    ZeroMemory(&info, sizeof info);
    if (!CreateProcessW(application_long, command_line, nullptr, nullptr, FALSE,
                        NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &info)) {
        return false;
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return true;
}

void platform_process_exit(uint32_t code) {
    ExitProcess(code);
}

static PlatformMessageBoxHook message_box_hook;

void platform_set_message_box_hook(PlatformMessageBoxHook hook) {
    message_box_hook = hook;
}

int platform_message_box(void* owner, const wchar_t* text, const wchar_t* caption, uint32_t type) {
    if (message_box_hook != nullptr) {
        return message_box_hook(owner, text, caption, type);
    }
    return MessageBoxW(static_cast<HWND>(owner), text, caption, type);
}
