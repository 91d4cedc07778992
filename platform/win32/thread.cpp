// Threads and the thread's window-message queue.
#include <windows.h>

#include <commctrl.h>

#include <process.h>
#include <stdlib.h>

#include "platform/common/shared.h"
#include "platform/platform.h"

// The portable names must be the control's own numbers.
static_assert(PLATFORM_PBM_SETRANGE == PBM_SETRANGE, "PBM_SETRANGE");
static_assert(PLATFORM_PBM_SETPOS == PBM_SETPOS, "PBM_SETPOS");
static_assert(PLATFORM_PBM_SETBARCOLOR == PBM_SETBARCOLOR, "PBM_SETBARCOLOR");
static_assert(PLATFORM_PBM_SETSTATE == PBM_SETSTATE, "PBM_SETSTATE");
static_assert(PLATFORM_PBST_NORMAL == PBST_NORMAL, "PBST_NORMAL");
static_assert(PLATFORM_PBST_ERROR == PBST_ERROR, "PBST_ERROR");
static_assert(PLATFORM_WM_PAINT == WM_PAINT, "WM_PAINT");

static_assert(sizeof(PlatformMsg) == sizeof(MSG), "PlatformMsg mirrors MSG field for field");

struct ThreadStart {
    void (*fn)(void*);
    void* arg;
};

static unsigned __stdcall thread_trampoline(void* record) {
    ThreadStart start = *static_cast<ThreadStart*>(record);
    free(record);
    start.fn(start.arg);
    return 0;
}

PlatformThread platform_thread_start(void (*fn)(void* arg), void* arg) {
    if (!shared_thread_start_allowed()) {
        return 0;
    }
    ThreadStart* start = static_cast<ThreadStart*>(malloc(sizeof(ThreadStart)));
    if (start == nullptr) {
        return 0;
    }
    start->fn = fn;
    start->arg = arg;
    // Through the C runtime, so its per-thread state exists on the thread.
    uintptr_t handle = _beginthreadex(nullptr, 0, thread_trampoline, start, 0, nullptr);
    if (handle == 0) {
        free(start);
    }
    return handle;
}

PlatformThread platform_thread_current(void) {
    return reinterpret_cast<PlatformThread>(GetCurrentThread());
}

void platform_thread_exit(uint32_t code) {
    _endthreadex(code);
}

bool platform_thread_join(PlatformThread thread, int32_t timeout_ms) {
    DWORD timeout = timeout_ms < 0 ? INFINITE : (DWORD)timeout_ms;
    return WaitForSingleObject(reinterpret_cast<HANDLE>(thread), timeout) == WAIT_OBJECT_0;
}

static void msg_to_platform(const MSG* in, PlatformMsg* out) {
    out->window = in->hwnd;
    out->message = in->message;
    out->wparam = in->wParam;
    out->lparam = in->lParam;
    out->time = in->time;
    out->pt_x = in->pt.x;
    out->pt_y = in->pt.y;
}

static void msg_from_platform(const PlatformMsg* in, MSG* out) {
    ZeroMemory(out, sizeof(*out));
    out->hwnd = static_cast<HWND>(in->window);
    out->message = in->message;
    out->wParam = in->wparam;
    out->lParam = in->lparam;
    out->time = in->time;
    out->pt.x = in->pt_x;
    out->pt.y = in->pt_y;
}

bool platform_peek_message(PlatformMsg* out) {
    MSG msg;
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        return false;
    }
    msg_to_platform(&msg, out);
    return true;
}

void platform_dispatch_message(void* dialog_window, const PlatformMsg* message) {
    MSG msg;
    msg_from_platform(message, &msg);
    if (dialog_window != nullptr && IsDialogMessageW(static_cast<HWND>(dialog_window), &msg)) {
        return;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

bool platform_post_thread_message(PlatformThread thread, uint32_t message, uintptr_t wparam,
                                  intptr_t lparam) {
    DWORD id = GetThreadId(reinterpret_cast<HANDLE>(thread));
    return id != 0 && PostThreadMessageW(id, message, wparam, lparam);
}

void platform_post_quit(int32_t exit_code) {
    PostQuitMessage(exit_code);
}

bool platform_post_window_message(PlatformWindow window, uint32_t message, uintptr_t wparam,
                                  intptr_t lparam) {
    return PostMessageW(static_cast<HWND>(window), message, wparam, lparam) != 0;
}

intptr_t platform_send_window_message(PlatformWindow window, uint32_t message, uintptr_t wparam,
                                      intptr_t lparam) {
    return SendMessageW(static_cast<HWND>(window), message, wparam, lparam);
}

void platform_invalidate_window(PlatformWindow window) {
    RedrawWindow(static_cast<HWND>(window), nullptr, nullptr, RDW_INVALIDATE);
}

PlatformWindow platform_progress_bar_create(PlatformWindow parent, int x, int y, int width,
                                            int height) {
    return CreateWindowExW(WS_EX_CLIENTEDGE, PROGRESS_CLASSW, nullptr,
                           WS_CHILD | WS_VISIBLE | PBS_SMOOTH, x, y, width, height,
                           static_cast<HWND>(parent), nullptr, GetModuleHandleW(nullptr), nullptr);
}

uint32_t platform_progress_bar_record(PlatformWindow bar, PlatformProgressState* state,
                                      PlatformProgressRequest* requests, uint32_t capacity) {
    // The real control keeps no record; the state is read back from it.
    if (state != nullptr) {
        HWND h = static_cast<HWND>(bar);
        state->range_min = (int32_t)SendMessageW(h, PBM_GETRANGE, TRUE, 0);
        state->range_max = (int32_t)SendMessageW(h, PBM_GETRANGE, FALSE, 0);
        state->position = (int32_t)SendMessageW(h, PBM_GETPOS, 0, 0);
        state->bar_color = (uint32_t)SendMessageW(h, PBM_GETBARCOLOR, 0, 0);
        state->state = (uint32_t)SendMessageW(h, PBM_GETSTATE, 0, 0);
        state->paints = 0;
    }
    return 0;
}
