// Mailboxes, the registry, posting, the pump and the waits.
#include "core/mailbox.h"

#include <stdlib.h>
#include <string.h>

#include "core/scratch.h"

std::atomic<Mailbox*> main_mailbox;
std::atomic<Mailbox*> ui_mailbox;
std::atomic<Mailbox*> updater_mailbox;

static thread_local Mailbox* current_mailbox;
static thread_local void* dialog_window;

Mailbox* mail_current_mailbox(void) {
    return current_mailbox;
}
void mail_set_current_mailbox(Mailbox* m) {
    current_mailbox = m;
}
void mail_set_dialog_window(void* window) {
    dialog_window = window;
}

// Every mailbox in creation order; only broadcast reads it.
static PlatformLazyLock registry_lazy_lock;
static Mailbox** registry;
static uint32_t registry_count;

uint32_t mail_registry_count(void) {
    return registry_count;
}

uint32_t mail_grown_capacity(uint32_t capacity) {
    return capacity + capacity / 2;
}

// The registry lock exists from the first mailbox on, whichever call makes
// it; null when it could not be made.
static PlatformLock* registry_lock(void) {
    return platform_lazy_lock(&registry_lazy_lock, MAILBOX_SPIN_COUNT);
}

// Frees a mailbox that never ran and every part it has; its payloads, if
// any, are not its own. Null parts are skipped.
static void mailbox_free(Mailbox* m) {
    free(m->messages);
    free(m->handlers);
    platform_lock_destroy(m->lock);
    platform_event_destroy(m->event);
    free(m);
}

Mailbox* mailbox_create(void) {
    PlatformLock* list_lock = registry_lock();
    if (list_lock == nullptr) {
        return nullptr;
    }
    Mailbox* m = static_cast<Mailbox*>(calloc(1, sizeof(Mailbox)));
    if (m == nullptr) {
        return nullptr;
    }
    m->message_capacity = MAILBOX_INITIAL_CAPACITY;
    m->handler_capacity = MAILBOX_INITIAL_CAPACITY;
    m->messages = static_cast<MailMessage*>(calloc(m->message_capacity, sizeof(MailMessage)));
    m->handlers = static_cast<HandlerEntry*>(calloc(m->handler_capacity, sizeof(HandlerEntry)));
    m->lock = platform_lock_create(MAILBOX_SPIN_COUNT);
    m->event = platform_event_create();
    if (m->messages == nullptr || m->handlers == nullptr || m->lock == nullptr ||
        m->event == nullptr) {
        mailbox_free(m);
        return nullptr;
    }
    platform_lock_enter(list_lock);
    Mailbox** grown =
        static_cast<Mailbox**>(realloc(registry, (registry_count + 1) * sizeof(Mailbox*)));
    if (grown != nullptr) {
        registry = grown;
        registry[registry_count++] = m;
    }
    platform_lock_leave(list_lock);
    // A mailbox outside the registry would miss broadcasts; better none.
    if (grown == nullptr) {
        mailbox_free(m);
        return nullptr;
    }
    return m;
}

// Takes a mailbox that no thread owns out of the registry and frees it. Once
// the registry lock is released no broadcast can reach it any more.
static void mailbox_discard(Mailbox* m) {
    PlatformLock* list_lock = registry_lock();  // made with the mailbox
    platform_lock_enter(list_lock);
    for (uint32_t i = 0; i < registry_count; i++) {
        if (registry[i] == m) {
            memmove(registry + i, registry + i + 1, (registry_count - i - 1) * sizeof(Mailbox*));
            registry_count--;
            break;
        }
    }
    platform_lock_leave(list_lock);
    mailbox_free(m);
}

// Lower bound of id among the first count handlers.
static uint32_t handler_lower_bound(const Mailbox* m, uint32_t id) {
    uint32_t lo = 0, hi = m->handler_count;
    while (lo < hi) {
        uint32_t mid = (lo + hi) / 2;
        if (m->handlers[mid].id < id) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo;
}

bool mailbox_add_handler(Mailbox* m, uint32_t id, MailHandler handler) {
    uint32_t at = handler_lower_bound(m, id);
    if (at < m->handler_count && m->handlers[at].id == id) {
        m->handlers[at].handler = handler;
        return true;
    }
    if (m->handler_count == m->handler_capacity) {
        uint32_t capacity = mail_grown_capacity(m->handler_capacity);
        void* grown = realloc(m->handlers, capacity * sizeof(HandlerEntry));
        if (grown == nullptr) {
            return false;
        }
        m->handlers = static_cast<HandlerEntry*>(grown);
        m->handler_capacity = capacity;
    }
    memmove(m->handlers + at + 1, m->handlers + at, (m->handler_count - at) * sizeof(HandlerEntry));
    m->handlers[at] = {id, handler};
    m->handler_count++;
    return true;
}

static bool add_table(Mailbox* m, const HandlerEntry* table) {
    for (const HandlerEntry* row = table; row != nullptr && row->id != 0; row++) {
        if (!mailbox_add_handler(m, row->id, row->handler)) {
            return false;
        }
    }
    return true;
}

int32_t quit_handler(Mailbox* sender, uint32_t id, int32_t param, void* payload) {
    return -1;
}

struct ThreadStart {
    Mailbox* mailbox;
};

static void mailbox_thread_main(void* arg) {
    ThreadStart* start = static_cast<ThreadStart*>(arg);
    current_mailbox = start->mailbox;
    free(start);
    mailbox_run_loop();
    scratch_release_thread();  // nothing of this thread can use them any more
    platform_thread_exit(0);
}

Mailbox* mailbox_start_thread(const HandlerEntry* table, int32_t param, void* payload) {
    Mailbox* m = mailbox_create();
    if (m == nullptr) {
        return nullptr;
    }
    ThreadStart* start = static_cast<ThreadStart*>(malloc(sizeof(ThreadStart)));
    if (start == nullptr || !mailbox_add_handler(m, MAIL_QUIT, quit_handler) ||
        !add_table(m, table)) {
        free(start);
        mailbox_discard(m);
        return nullptr;
    }
    // The first message is queued before the thread exists, in front of any
    // broadcast that reached the new mailbox already, so it is the first one
    // the new loop dispatches. Broadcasts name no release: discarding them
    // below frees nothing of a poster's.
    platform_lock_enter(m->lock);
    bool room = m->message_count < m->message_capacity;
    if (room) {
        memmove(m->messages + 1, m->messages, m->message_count * sizeof(MailMessage));
        m->messages[0] = {current_mailbox, MAIL_START, param, payload, nullptr};
        m->message_count++;
        platform_event_set(m->event);
    }
    platform_lock_leave(m->lock);
    start->mailbox = m;
    if (room) {
        m->thread = platform_thread_start(mailbox_thread_main, start);
    }
    if (m->thread == 0) {
        free(start);
        mailbox_discard(m);
        return nullptr;
    }
    return m;
}

Mailbox* mailbox_attach_current(const HandlerEntry* table) {
    Mailbox* m = mailbox_create();
    if (m == nullptr) {
        return nullptr;
    }
    if (!add_table(m, table)) {
        mailbox_discard(m);
        return nullptr;
    }
    m->thread = platform_thread_current();
    current_mailbox = m;
    return m;
}

bool mail_post(Mailbox* target, uint32_t id, int32_t param, void* payload, MailRelease release) {
    if (target == nullptr) {
        PlatformLock* list_lock = registry_lock();
        if (list_lock == nullptr) {
            return true;  // no mailbox exists that could take it
        }
        platform_lock_enter(list_lock);
        for (uint32_t i = 0; i < registry_count; i++) {
            if (registry[i] != current_mailbox) {
                mail_post(registry[i], id, param, payload, nullptr);
            }
        }
        platform_lock_leave(list_lock);
        return true;
    }
    bool queued = false;
    platform_lock_enter(target->lock);
    if (!target->quit) {
        if (target->message_count == target->message_capacity) {
            uint32_t capacity = mail_grown_capacity(target->message_capacity);
            void* grown = realloc(target->messages, capacity * sizeof(MailMessage));
            if (grown != nullptr) {
                target->messages = static_cast<MailMessage*>(grown);
                target->message_capacity = capacity;
            }
        }
        if (target->message_count < target->message_capacity) {
            target->messages[target->message_count++] = {current_mailbox, id, param, payload,
                                                         release};
            platform_event_set(target->event);
            queued = true;
        }
    }
    platform_lock_leave(target->lock);
    // The message will never be dispatched, so its payload is freed now.
    if (!queued && release != nullptr && payload != nullptr) {
        release(payload);
    }
    return queued;
}

static void dispatch(Mailbox* m, const MailMessage* msg) {
    uint32_t at = handler_lower_bound(m, msg->id);
    if (at < m->handler_count && m->handlers[at].id == msg->id) {
        if (m->handlers[at].handler(msg->sender, msg->id, msg->param, msg->payload) == -1) {
            platform_lock_enter(m->lock);
            m->quit = 1;
            platform_lock_leave(m->lock);
        }
    }
    if (msg->release != nullptr && msg->payload != nullptr) {
        msg->release(msg->payload);
    }
}

bool mail_pump(Mailbox* m, uint32_t awaited_id) {
    MailMessage* batch = nullptr;
    uint32_t n = 0;
    platform_lock_enter(m->lock);
    if (m->message_count > 0) {
        batch = static_cast<MailMessage*>(malloc(m->message_count * sizeof(MailMessage)));
        // Without room for a private copy, dispatch waits for the next pump.
        if (batch != nullptr) {
            n = m->message_count;
            memcpy(batch, m->messages, n * sizeof(MailMessage));
            m->message_count = 0;
        }
    }
    if (m->message_count == 0) {
        platform_event_reset(m->event);
    }
    platform_lock_leave(m->lock);

    bool seen = false;
    {
        // Freed also when a handler ends the thread (a fatal report), which
        // unwinds this frame on POSIX.
        struct BatchGuard {
            MailMessage* batch;
            ~BatchGuard() { free(batch); }
        } guard = {batch};
        for (uint32_t i = 0; i < n; i++) {
            if (awaited_id != 0 && batch[i].id == awaited_id) {
                seen = true;
            }
            dispatch(m, &batch[i]);
        }
    }
    pump_window_messages(m);
    return seen;
}

void pump_window_messages(Mailbox* m) {
    PlatformMsg msg;
    while (platform_peek_message(&msg)) {
        if (msg.message == PLATFORM_WM_QUIT) {
            mail_post(m, MAIL_WINDOW_QUIT, (int32_t)msg.wparam, nullptr, nullptr);
        } else if (msg.window == nullptr) {
            PlatformMsg* copy = static_cast<PlatformMsg*>(malloc(sizeof(PlatformMsg)));
            if (copy == nullptr) {
                continue;  // the message is dropped, as unhandled
            }
            *copy = msg;
            mail_post(m, MAIL_THREAD_MESSAGE, (int32_t)msg.message, copy, free);
        } else {
            platform_dispatch_message(dialog_window, &msg);
        }
    }
}

void mailbox_run_loop(void) {
    Mailbox* m = current_mailbox;
    while (!m->quit) {
        mail_pump(m, 0);
        if (m->quit) {
            break;
        }
        platform_wait_event_or_input(m->event, PLATFORM_WAIT_FOREVER);
    }
}

bool mail_wait_until(bool (*ready)(void)) {
    Mailbox* m = current_mailbox;
    for (;;) {
        if (ready()) {
            return true;
        }
        if (m->quit) {
            return false;
        }
        // The pump resets the event when nothing is left, so a wake that
        // comes after it ends the sleep below, and one before it was made
        // after its state change, which the next look sees.
        mail_pump(m, 0);
        if (ready()) {
            return true;
        }
        if (m->quit) {
            return false;
        }
        platform_wait_event_or_input(m->event, PLATFORM_WAIT_FOREVER);
    }
}

void mail_wake_all(void) {
    PlatformLock* list_lock = registry_lock();
    if (list_lock == nullptr) {
        return;
    }
    platform_lock_enter(list_lock);
    for (uint32_t i = 0; i < registry_count; i++) {
        platform_lock_enter(registry[i]->lock);
        platform_event_set(registry[i]->event);
        platform_lock_leave(registry[i]->lock);
    }
    platform_lock_leave(list_lock);
}

bool mail_wait(uint32_t id, int32_t timeout_ms) {
    Mailbox* m = current_mailbox;
    if (m->quit) {
        return false;
    }
    // Only -1 means no limit: a limited wait that overshoots must end, not
    // turn into an endless one.
    bool unlimited = timeout_ms == MAIL_NO_TIMEOUT;
    int32_t remaining = unlimited ? PLATFORM_WAIT_FOREVER : (timeout_ms < 0 ? 0 : timeout_ms);
    uint32_t last = platform_tick_ms();
    do {
        if (mail_pump(m, id)) {
            return true;
        }
        if (m->quit) {
            return false;
        }
        platform_wait_event_or_input(m->event, remaining);
        if (!unlimited) {
            uint32_t now = platform_tick_ms();
            remaining -= (int32_t)(now - last);
            last = now;
        }
    } while (unlimited || remaining > 0);
    return false;
}
