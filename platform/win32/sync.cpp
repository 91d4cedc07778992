// Locks, once-flags, events and the wait for "event or window input".
#include <windows.h>

#include <stdlib.h>

#include "platform/common/shared.h"
#include "platform/platform.h"

// The same shape as posix/sync.cpp over a different system lock: kept apart.
struct PlatformLock {
    CRITICAL_SECTION section;
};

PlatformLock* platform_lock_create(uint32_t spin_count) {
    PlatformLock* lock = static_cast<PlatformLock*>(calloc(1, sizeof(PlatformLock)));
    if (lock == nullptr) {
        return nullptr;
    }
    if (spin_count != 0) {
        InitializeCriticalSectionAndSpinCount(&lock->section, spin_count);
    } else {
        InitializeCriticalSection(&lock->section);
    }
    return lock;
}

void platform_lock_enter(PlatformLock* lock) {
    EnterCriticalSection(&lock->section);
}
void platform_lock_leave(PlatformLock* lock) {
    LeaveCriticalSection(&lock->section);
}

void platform_lock_destroy(PlatformLock* lock) {
    if (lock == nullptr) {
        return;
    }
    DeleteCriticalSection(&lock->section);
    free(lock);
}

void platform_once(PlatformOnce* once, void (*init)(void)) {
    // 0: not begun, 1: running, 2: done. Losers of the race yield until done.
    if (InterlockedCompareExchange(&once->state, 2, 2) == 2) {
        return;
    }
    if (InterlockedCompareExchange(&once->state, 1, 0) == 0) {
        init();
        InterlockedExchange(&once->state, 2);
        return;
    }
    while (InterlockedCompareExchange(&once->state, 2, 2) != 2) {
        Sleep(0);
    }
}

// The layer's event is the Windows event handle itself.
PlatformEvent* platform_event_create(void) {
    return reinterpret_cast<PlatformEvent*>(CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

void platform_event_set(PlatformEvent* event) {
    SetEvent(reinterpret_cast<HANDLE>(event));
}
void platform_event_reset(PlatformEvent* event) {
    ResetEvent(reinterpret_cast<HANDLE>(event));
}

void platform_event_destroy(PlatformEvent* event) {
    if (event != nullptr) {
        CloseHandle(reinterpret_cast<HANDLE>(event));
    }
}

void platform_wait_event_or_input(PlatformEvent* event, int32_t timeout_ms) {
    HANDLE handle = reinterpret_cast<HANDLE>(event);
    DWORD timeout = timeout_ms < 0 ? INFINITE : (DWORD)timeout_ms;
    // The system looks at the queue and sleeps in one call, so input posted
    // before it (already looked at or not) still ends the wait.
    shared_wait_about_to_sleep();
    MsgWaitForMultipleObjectsEx(1, &handle, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

uint32_t platform_tick_ms(void) {
    return GetTickCount();
}

uint64_t platform_tick64_ms(void) {
    return GetTickCount64();
}

void platform_sleep_ms(uint32_t ms) {
    Sleep(ms);
}
