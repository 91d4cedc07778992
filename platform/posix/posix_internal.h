// Shared between the POSIX files of the platform layer only.
#pragma once

#include <pthread.h>
#include <time.h>

#include "platform/platform.h"

// One record per thread that has a window-message queue; records live as
// long as the process so that handles never dangle.
struct PosixThread {
    pthread_t id;
    pthread_mutex_t queue_lock;
    PlatformMsg* queue;
    uint32_t queue_count;
    uint32_t queue_capacity;
    PlatformEvent* waiter;  // event the owner sleeps on; posts kick it
    bool ended;
    void (*fn)(void*);
    void* arg;
    PosixThread* next;
};

// The calling thread's record, made on first use for threads the layer did
// not start (the main thread).
PosixThread* posix_thread_self(void);

// Appends a message to a thread's queue and wakes its wait. False when the
// thread has ended or memory runs out.
bool posix_queue_post(PosixThread* thread, const PlatformMsg* msg);

// Wakes a sleeper on the event because input arrived.
void posix_event_kick(PlatformEvent* event);

// Converts a "\\?\" long path to the POSIX path it names, into a heap
// string the caller frees; null for null or when out of memory.
char* posix_path_from_long(const wchar_t* long_path);

// The time timeout_ms from now on the given clock, for timed waits.
struct timespec posix_deadline_after(clockid_t clock, int32_t timeout_ms);
