// What both systems do alike: the lock made on first use and the tests'
// hooks, written once.
#include "platform/common/shared.h"

#include "platform/platform.h"

PlatformLock* platform_lazy_lock(PlatformLazyLock* lazy, uint32_t spin_count) {
    PlatformLock* lock = __atomic_load_n(&lazy->lock, __ATOMIC_ACQUIRE);
    if (lock != nullptr) {
        return lock;
    }
    PlatformLock* made = platform_lock_create(spin_count);
    if (made == nullptr) {
        return nullptr;
    }
    if (__atomic_compare_exchange_n(&lazy->lock, &lock, made, false, __ATOMIC_ACQ_REL,
                                    __ATOMIC_ACQUIRE)) {
        return made;
    }
    platform_lock_destroy(made);  // another thread's lock came first
    return lock;
}

// Tests only; null in the shipped tool.
static PlatformThreadStartHook start_hook = nullptr;
static void* start_hook_context = nullptr;
static PlatformWaitHook wait_hook = nullptr;
static void* wait_hook_context = nullptr;

void platform_thread_set_start_hook(PlatformThreadStartHook hook, void* context) {
    start_hook = hook;
    start_hook_context = context;
}

bool shared_thread_start_allowed(void) {
    return start_hook == nullptr || start_hook(start_hook_context);
}

void platform_wait_set_sleep_hook(PlatformWaitHook hook, void* context) {
    wait_hook = hook;
    wait_hook_context = context;
}

void shared_wait_about_to_sleep(void) {
    if (wait_hook != nullptr) {
        wait_hook(wait_hook_context);
    }
}
