// Start-up: the fixed order in which the tool's threads and parts come up,
// then the main loop. The parts themselves belong to the front end, which
// hands them over in startup_parts, so the core names none of them.
#pragma once

#include "core/mailbox.h"

struct StartupParts {
    const HandlerEntry* main_handlers;     // the main mailbox's table
    const HandlerEntry* ui_handlers;       // the UI thread's; MAIL_START builds the window
    const HandlerEntry* updater_handlers;  // the updater thread's
    void (*load_signing_key)(void);        // loads the built-in key for the signature checks
    bool (*start_tls)(void);               // the TLS library's process-wide set-up
};

// Defined by the front end, once per program, as the entry point is.
extern const StartupParts startup_parts;

// The show command the window is shown with.
constexpr int32_t STARTUP_SHOW_COMMAND = 5;
// How long start-up waits for the window before going on without it.
constexpr int32_t STARTUP_WINDOW_TIMEOUT_MS = 10000;

// Starts the updater thread and posts the first (held) update request.
void start_updater(void);
