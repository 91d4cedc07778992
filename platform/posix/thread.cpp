// Threads and their window-message queues, and the layer's own windows.
//
// Windows gives every thread a message queue that other threads post to and
// that wakes the owner's MsgWaitForMultipleObjectsEx. Here each thread gets a
// record with such a queue; a window belongs to the thread that made it and
// its posted messages join that thread's queue.
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "platform/common/shared.h"
#include "platform/posix/posix_internal.h"

static pthread_mutex_t threads_lock = PTHREAD_MUTEX_INITIALIZER;
static PosixThread* threads_head;  // every record, kept reachable for life
static thread_local PosixThread* thread_self;

static PosixThread* thread_record_new(void) {
    PosixThread* t = static_cast<PosixThread*>(calloc(1, sizeof(PosixThread)));
    if (t == nullptr) {
        abort();  // without a record the thread cannot wait at all
    }
    pthread_mutex_init(&t->queue_lock, nullptr);
    pthread_mutex_lock(&threads_lock);
    t->next = threads_head;
    threads_head = t;
    pthread_mutex_unlock(&threads_lock);
    return t;
}

PosixThread* posix_thread_self(void) {
    if (thread_self == nullptr) {
        thread_self = thread_record_new();
        thread_self->id = pthread_self();
    }
    return thread_self;
}

static void thread_mark_ended(void* record) {
    PosixThread* t = static_cast<PosixThread*>(record);
    pthread_mutex_lock(&t->queue_lock);
    t->ended = true;
    free(t->queue);  // nobody can read these any more
    t->queue = nullptr;
    t->queue_count = 0;
    t->queue_capacity = 0;
    pthread_mutex_unlock(&t->queue_lock);
}

static void* thread_trampoline(void* record) {
    PosixThread* t = static_cast<PosixThread*>(record);
    thread_self = t;
    // Runs also when the thread ends through platform_thread_exit.
    pthread_cleanup_push(thread_mark_ended, t);
    t->fn(t->arg);
    pthread_cleanup_pop(1);
    return nullptr;
}

PlatformThread platform_thread_start(void (*fn)(void* arg), void* arg) {
    if (!shared_thread_start_allowed()) {
        return 0;
    }
    PosixThread* t = thread_record_new();
    t->fn = fn;
    t->arg = arg;
    pthread_t id;
    if (pthread_create(&id, nullptr, thread_trampoline, t) != 0) {
        t->ended = true;
        return 0;
    }
    t->id = id;  // the record is the handle; the id is only for joining
    return reinterpret_cast<PlatformThread>(t);
}

PlatformThread platform_thread_current(void) {
    return reinterpret_cast<PlatformThread>(posix_thread_self());
}

void platform_thread_exit(uint32_t code) {
    (void)code;
    pthread_exit(nullptr);
}

bool platform_thread_join(PlatformThread thread, int32_t timeout_ms) {
    PosixThread* t = reinterpret_cast<PosixThread*>(thread);
    if (t == nullptr) {
        return false;
    }
    if (timeout_ms < 0) {
        return pthread_join(t->id, nullptr) == 0;
    }
    // The timed join takes a wall-clock deadline.
    struct timespec deadline = posix_deadline_after(CLOCK_REALTIME, timeout_ms);
    return pthread_timedjoin_np(t->id, nullptr, &deadline) == 0;
}

bool posix_queue_post(PosixThread* t, const PlatformMsg* msg) {
    pthread_mutex_lock(&t->queue_lock);
    if (t->ended) {
        pthread_mutex_unlock(&t->queue_lock);
        return false;
    }
    if (t->queue_count == t->queue_capacity) {
        uint32_t capacity = t->queue_capacity ? t->queue_capacity * 2 : 16;
        void* grown = realloc(t->queue, capacity * sizeof(PlatformMsg));
        if (grown == nullptr) {
            pthread_mutex_unlock(&t->queue_lock);
            return false;
        }
        t->queue = static_cast<PlatformMsg*>(grown);
        t->queue_capacity = capacity;
    }
    PlatformMsg copy = *msg;
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    copy.time = (uint32_t)((uint64_t)ts.tv_sec * 1000u + (uint64_t)(ts.tv_nsec / 1000000L));
    t->queue[t->queue_count++] = copy;
    PlatformEvent* waiter = t->waiter;
    pthread_mutex_unlock(&t->queue_lock);
    if (waiter != nullptr) {
        posix_event_kick(waiter);
    }
    return true;
}

bool platform_peek_message(PlatformMsg* out) {
    PosixThread* self = posix_thread_self();
    pthread_mutex_lock(&self->queue_lock);
    bool found = self->queue_count > 0;
    if (found) {
        *out = self->queue[0];
        memmove(self->queue, self->queue + 1, (self->queue_count - 1) * sizeof(PlatformMsg));
        self->queue_count--;
    }
    pthread_mutex_unlock(&self->queue_lock);
    return found;
}

bool platform_post_thread_message(PlatformThread thread, uint32_t message, uintptr_t wparam,
                                  intptr_t lparam) {
    PosixThread* t = reinterpret_cast<PosixThread*>(thread);
    if (t == nullptr) {
        return false;
    }
    PlatformMsg msg = {nullptr, message, wparam, lparam, 0, 0, 0};
    return posix_queue_post(t, &msg);
}

void platform_post_quit(int32_t exit_code) {
    PlatformMsg msg = {nullptr, PLATFORM_WM_QUIT, (uintptr_t)(intptr_t)exit_code, 0, 0, 0, 0};
    posix_queue_post(posix_thread_self(), &msg);
}

// ---- Windows of this layer -------------------------------------------------

constexpr uint32_t WINDOW_MAGIC = 0x57494e44;  // guards against stale handles

enum WindowKind { WINDOW_PLAIN, WINDOW_PROGRESS_BAR };

struct PosixWindow {
    uint32_t magic;
    WindowKind kind;
    PosixThread* owner;
    PlatformWindowProc proc;
    void* user;
    PlatformProgressState progress;
    PlatformProgressRequest* requests;
    uint32_t request_count;
    uint32_t request_capacity;
};

static PosixWindow* window_from(PlatformWindow handle) {
    PosixWindow* w = static_cast<PosixWindow*>(handle);
    if (w == nullptr || w->magic != WINDOW_MAGIC) {
        return nullptr;
    }
    return w;
}

static PosixWindow* window_new(WindowKind kind, PlatformWindowProc proc, void* user) {
    PosixWindow* w = static_cast<PosixWindow*>(calloc(1, sizeof(PosixWindow)));
    if (w == nullptr) {
        return nullptr;
    }
    w->magic = WINDOW_MAGIC;
    w->kind = kind;
    w->owner = posix_thread_self();
    w->proc = proc;
    w->user = user;
    return w;
}

PlatformWindow platform_window_create_posix(PlatformWindowProc proc, void* user) {
    return window_new(WINDOW_PLAIN, proc, user);
}

void* platform_window_user(PlatformWindow window) {
    PosixWindow* w = window_from(window);
    return w ? w->user : nullptr;
}

void platform_window_destroy_posix(PlatformWindow window) {
    PosixWindow* w = window_from(window);
    if (w == nullptr) {
        return;
    }
    w->magic = 0;
    free(w->requests);
    free(w);
}

bool platform_post_window_message(PlatformWindow window, uint32_t message, uintptr_t wparam,
                                  intptr_t lparam) {
    PosixWindow* w = window_from(window);
    if (w == nullptr) {
        return false;
    }
    PlatformMsg msg = {window, message, wparam, lparam, 0, 0, 0};
    return posix_queue_post(w->owner, &msg);
}

static intptr_t progress_bar_apply(PosixWindow* w, uint32_t message, uintptr_t wparam,
                                   intptr_t lparam) {
    if (w->request_count == w->request_capacity) {
        uint32_t capacity = w->request_capacity ? w->request_capacity * 2 : 32;
        void* grown = realloc(w->requests, capacity * sizeof(PlatformProgressRequest));
        if (grown != nullptr) {
            w->requests = static_cast<PlatformProgressRequest*>(grown);
            w->request_capacity = capacity;
        }
    }
    if (w->request_count < w->request_capacity) {
        w->requests[w->request_count++] = {message, wparam, lparam};
    }
    PlatformProgressState* s = &w->progress;
    intptr_t previous = 0;
    switch (message) {
        case PLATFORM_PBM_SETRANGE:
            s->range_min = (int32_t)(lparam & 0xFFFF);
            s->range_max = (int32_t)((lparam >> 16) & 0xFFFF);
            break;
        case PLATFORM_PBM_SETPOS:
            previous = s->position;
            s->position = (int32_t)wparam;
            if (s->position < s->range_min) {
                s->position = s->range_min;
            }
            if (s->position > s->range_max) {
                s->position = s->range_max;
            }
            break;
        case PLATFORM_PBM_SETBARCOLOR:
            previous = (intptr_t)s->bar_color;
            s->bar_color = (uint32_t)lparam;
            break;
        case PLATFORM_PBM_SETSTATE:
            previous = (intptr_t)s->state;
            s->state = (uint32_t)wparam;
            break;
        case PLATFORM_WM_PAINT:
            s->paints++;
            break;
        default:
            break;
    }
    if (w->proc != nullptr) {
        w->proc(w, message, wparam, lparam);  // an observer, if any
    }
    return previous;
}

intptr_t platform_send_window_message(PlatformWindow window, uint32_t message, uintptr_t wparam,
                                      intptr_t lparam) {
    PosixWindow* w = window_from(window);
    if (w == nullptr) {
        return 0;
    }
    if (w->kind == WINDOW_PROGRESS_BAR) {
        return progress_bar_apply(w, message, wparam, lparam);
    }
    return w->proc != nullptr ? w->proc(window, message, wparam, lparam) : 0;
}

void platform_dispatch_message(void* dialog_window, const PlatformMsg* msg) {
    (void)dialog_window;  // no keyboard navigation between console controls
    platform_send_window_message(msg->window, msg->message, msg->wparam, msg->lparam);
}

void platform_invalidate_window(PlatformWindow window) {
    platform_post_window_message(window, PLATFORM_WM_PAINT, 0, 0);
}

PlatformWindow platform_progress_bar_create(PlatformWindow parent, int x, int y, int width,
                                            int height) {
    (void)parent, (void)x, (void)y, (void)width, (void)height;
    PosixWindow* w = window_new(WINDOW_PROGRESS_BAR, nullptr, nullptr);
    if (w == nullptr) {
        return nullptr;
    }
    w->progress.range_max = 100;  // the control's own default range
    w->progress.state = PLATFORM_PBST_NORMAL;
    return w;
}

void platform_progress_bar_observe(PlatformWindow bar, PlatformWindowProc observer) {
    PosixWindow* w = window_from(bar);
    if (w != nullptr && w->kind == WINDOW_PROGRESS_BAR) {
        w->proc = observer;
    }
}

uint32_t platform_progress_bar_record(PlatformWindow bar, PlatformProgressState* state,
                                      PlatformProgressRequest* requests, uint32_t capacity) {
    PosixWindow* w = window_from(bar);
    if (w == nullptr || w->kind != WINDOW_PROGRESS_BAR) {
        return 0;
    }
    if (state != nullptr) {
        *state = w->progress;
    }
    uint32_t n = w->request_count < capacity ? w->request_count : capacity;
    if (requests != nullptr && n > 0) {
        memcpy(requests, w->requests, n * sizeof(*requests));
    }
    return w->request_count;
}
