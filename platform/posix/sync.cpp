// Locks, once-flags, events and the wait for "event or window input".
#include <errno.h>
#include <stdlib.h>
#include <time.h>

#include "platform/common/shared.h"
#include "platform/posix/posix_internal.h"

// The same shape as win32/sync.cpp over a different system lock: kept apart.
struct PlatformLock {
    pthread_mutex_t mutex;
};

PlatformLock* platform_lock_create(uint32_t spin_count) {
    (void)spin_count;  // glibc's mutexes spin adaptively on their own
    PlatformLock* lock = static_cast<PlatformLock*>(calloc(1, sizeof(PlatformLock)));
    if (lock == nullptr) {
        return nullptr;
    }
    pthread_mutex_init(&lock->mutex, nullptr);
    return lock;
}

void platform_lock_enter(PlatformLock* lock) {
    pthread_mutex_lock(&lock->mutex);
}
void platform_lock_leave(PlatformLock* lock) {
    pthread_mutex_unlock(&lock->mutex);
}

void platform_lock_destroy(PlatformLock* lock) {
    if (lock == nullptr) {
        return;
    }
    pthread_mutex_destroy(&lock->mutex);
    free(lock);
}

static pthread_mutex_t once_mutex = PTHREAD_MUTEX_INITIALIZER;

void platform_once(PlatformOnce* once, void (*init)(void)) {
    if (__atomic_load_n(&once->state, __ATOMIC_ACQUIRE) == 2) {
        return;
    }
    pthread_mutex_lock(&once_mutex);
    if (once->state != 2) {
        init();
        __atomic_store_n(&once->state, 2, __ATOMIC_RELEASE);
    }
    pthread_mutex_unlock(&once_mutex);
}

struct PlatformEvent {
    pthread_mutex_t mutex;
    pthread_cond_t cond;
    bool set;
    bool kicked;  // window input arrived for the thread sleeping on it
};

PlatformEvent* platform_event_create(void) {
    PlatformEvent* event = static_cast<PlatformEvent*>(calloc(1, sizeof(PlatformEvent)));
    if (event == nullptr) {
        return nullptr;
    }
    pthread_mutex_init(&event->mutex, nullptr);
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&event->cond, &attr);
    pthread_condattr_destroy(&attr);
    return event;
}

void platform_event_set(PlatformEvent* event) {
    pthread_mutex_lock(&event->mutex);
    event->set = true;
    pthread_cond_broadcast(&event->cond);
    pthread_mutex_unlock(&event->mutex);
}

void platform_event_reset(PlatformEvent* event) {
    pthread_mutex_lock(&event->mutex);
    event->set = false;
    pthread_mutex_unlock(&event->mutex);
}

void platform_event_destroy(PlatformEvent* event) {
    if (event == nullptr) {
        return;
    }
    pthread_cond_destroy(&event->cond);
    pthread_mutex_destroy(&event->mutex);
    free(event);
}

void posix_event_kick(PlatformEvent* event) {
    pthread_mutex_lock(&event->mutex);
    event->kicked = true;
    pthread_cond_broadcast(&event->cond);
    pthread_mutex_unlock(&event->mutex);
}

struct timespec posix_deadline_after(clockid_t clock, int32_t timeout_ms) {
    struct timespec ts;
    clock_gettime(clock, &ts);
    ts.tv_sec += timeout_ms / 1000;
    ts.tv_nsec += (long)(timeout_ms % 1000) * 1000000L;
    if (ts.tv_nsec >= 1000000000L) {
        ts.tv_sec += 1;
        ts.tv_nsec -= 1000000000L;
    }
    return ts;
}

void platform_wait_event_or_input(PlatformEvent* event, int32_t timeout_ms) {
    PosixThread* self = posix_thread_self();

    // Forget older kicks first, then register: a post that lands after the
    // queue check below kicks this event, one before it is seen in the queue.
    pthread_mutex_lock(&event->mutex);
    event->kicked = false;
    pthread_mutex_unlock(&event->mutex);

    pthread_mutex_lock(&self->queue_lock);
    self->waiter = event;
    bool input_waiting = self->queue_count > 0;
    pthread_mutex_unlock(&self->queue_lock);
    if (input_waiting) {
        return;
    }
    // A post from here on finds the waiter registered and kicks the event.
    shared_wait_about_to_sleep();

    struct timespec deadline = {};
    if (timeout_ms >= 0) {
        deadline = posix_deadline_after(CLOCK_MONOTONIC, timeout_ms);
    }
    pthread_mutex_lock(&event->mutex);
    while (!event->set && !event->kicked) {
        if (timeout_ms < 0) {
            pthread_cond_wait(&event->cond, &event->mutex);
        } else if (pthread_cond_timedwait(&event->cond, &event->mutex, &deadline) == ETIMEDOUT) {
            break;
        }
    }
    event->kicked = false;
    pthread_mutex_unlock(&event->mutex);
}

uint64_t platform_tick64_ms(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000u + (uint64_t)(ts.tv_nsec / 1000000L);
}

uint32_t platform_tick_ms(void) {
    return (uint32_t)platform_tick64_ms();
}

void platform_sleep_ms(uint32_t ms) {
    struct timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = (long)(ms % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}
