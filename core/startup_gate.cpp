// The end of start-up: two flags, an event for the thread without a mailbox
// and a wake for the mailbox owners.
#include "core/startup_gate.h"

#include "core/mailbox.h"
#include "core/settings.h"
#include "platform/platform.h"

// Set once startup_done is marked; never reset.
static PlatformEvent* done_event;

static void done_event_create(void) {
    done_event = platform_event_create();
}

// The event, made by whichever call comes first; null without memory.
static PlatformEvent* done_event_get(void) {
    static PlatformOnce once;
    platform_once(&once, done_event_create);
    return done_event;
}

void startup_mark_done(void) {
    startup_done = true;
    PlatformEvent* event = done_event_get();
    if (event != nullptr) {
        platform_event_set(event);
    }
    mail_wake_all();
}

void startup_mark_held_request_declined(void) {
    held_request_declined = true;
    mail_wake_all();
}

bool startup_ended(void) {
    return startup_done.load() && held_request_declined.load();
}

void startup_wait_done(void) {
    PlatformEvent* event = done_event_get();
    // The thread has no windows, so only the event ends each sleep.
    while (event != nullptr && !startup_done.load()) {
        platform_wait_event_or_input(event, PLATFORM_WAIT_FOREVER);
    }
}

bool startup_wait_ended(void) {
    return mail_wait_until(startup_ended);
}
