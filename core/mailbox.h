// Thread mailboxes: a queue of numbered messages and a sorted handler table
// per thread. Threads never call into each other's code; they post.
#pragma once

#include <stdint.h>

#include <atomic>

#include "platform/platform.h"

// Every message identifier of the tool (its own number space).
constexpr uint32_t MAIL_START = 1;
constexpr uint32_t MAIL_QUIT = 2;
constexpr uint32_t MAIL_WINDOW_QUIT = 3;
constexpr uint32_t MAIL_THREAD_MESSAGE = 4;
constexpr uint32_t MAIL_UPDATE_DONE = 1005;
constexpr uint32_t MAIL_WINDOW_READY = 2001;
constexpr uint32_t MAIL_SHOW_ERROR = 2002;
constexpr uint32_t MAIL_RUN_UPDATE = 7001;

constexpr uint32_t MAILBOX_INITIAL_CAPACITY = 32;
constexpr uint32_t MAILBOX_SPIN_COUNT = 5000;
constexpr int32_t MAIL_NO_TIMEOUT = -1;

struct Mailbox;

typedef void (*MailRelease)(void* payload);
typedef int32_t (*MailHandler)(Mailbox* sender, uint32_t id, int32_t param, void* payload);

struct MailMessage {
    Mailbox* sender;
    uint32_t id;
    int32_t param;
    void* payload;
    MailRelease release;
};

struct HandlerEntry {
    uint32_t id;
    MailHandler handler;
};

struct Mailbox {
    PlatformThread thread;
    PlatformEvent* event;
    PlatformLock* lock;  // guards the message fields below
    uint32_t message_capacity;
    uint32_t message_count;
    MailMessage* messages;
    uint32_t handler_capacity;  // handlers change only before the loop runs
    uint32_t handler_count;
    HandlerEntry* handlers;
    // Set by the owner only, under lock, so a post either queues before the
    // loop ends or is refused; the owner reads it without the lock.
    uint8_t quit;
};

// The new capacity for a full array: grows by half.
uint32_t mail_grown_capacity(uint32_t capacity);

// A new empty mailbox, already in the registry; null when memory runs out.
// Needs nothing before it: the registry is made by the first call.
Mailbox* mailbox_create(void);

// Enters or replaces the handler for id, keeping the table sorted. No lock:
// only before the owning thread runs, or by that thread itself.
bool mailbox_add_handler(Mailbox* m, uint32_t id, MailHandler handler);

// Starts a thread whose first message is MAIL_START with param and payload;
// its table is (MAIL_QUIT, quit_handler) and then the rows of table up to
// the row with id 0. Returns its mailbox, or null when it could not start
// (no memory, or the system refused the thread). On null nothing is left
// behind: no mailbox in the registry, no thread, nothing allocated, and the
// payload was not handed over, so the caller still owns it (and releases
// it, if it must) and has no mailbox to post to for that thread.
Mailbox* mailbox_start_thread(const HandlerEntry* table, int32_t param, void* payload);

// Makes the calling (main) thread's mailbox from table. Once per thread.
// Null when memory runs out; then nothing stays registered and the thread
// has no current mailbox.
Mailbox* mailbox_attach_current(const HandlerEntry* table);

// Queues a message for target (true), or broadcasts it to every mailbox but
// the caller's own when target is null (true, and no release is passed on).
// A target that has quit takes nothing and returns false; the payload is
// then released with release, when one is given, so nothing leaks.
bool mail_post(Mailbox* target, uint32_t id, int32_t param, void* payload, MailRelease release);

// Dispatches the queued batch, then the thread's window messages. True when
// a message with awaited_id (0: none) was in the batch. Owner thread only.
bool mail_pump(Mailbox* m, uint32_t awaited_id);

// Drains the calling thread's window-message queue into m and the windows.
void pump_window_messages(Mailbox* m);

// Pumps the calling thread's mailbox until a message with id has been
// dispatched (true), or timeout_ms passed or the mailbox quit (false).
bool mail_wait(uint32_t id, int32_t timeout_ms);

// Pumps the calling thread's mailbox, its windows kept alive, until ready()
// holds (true) or the mailbox quit (false); ready is looked at first and
// after every pump, never on a timer. A thread that makes ready() true calls
// mail_wake_all afterwards, or the waiter sleeps on.
bool mail_wait_until(bool (*ready)(void));

// Wakes the owner of every mailbox from its wait, queuing nothing: for a
// change of state, not a message, that a mail_wait_until looks for. Any
// thread.
void mail_wake_all(void);

// The thread's mailbox loop, until a handler returns -1.
void mailbox_run_loop(void);

// Returns -1: stops the receiving loop.
int32_t quit_handler(Mailbox* sender, uint32_t id, int32_t param, void* payload);

// Per-thread context, zero when a thread starts.
Mailbox* mail_current_mailbox(void);
void mail_set_current_mailbox(Mailbox* m);
void mail_set_dialog_window(void* window);

// Number of mailboxes in the registry (tests).
uint32_t mail_registry_count(void);

// Process-wide mailbox references, set by start-up while the threads that
// post to them may already run.
extern std::atomic<Mailbox*> main_mailbox;
extern std::atomic<Mailbox*> ui_mailbox;
extern std::atomic<Mailbox*> updater_mailbox;
