// What start-up takes from the other subsystems: their handler tables and
// the signing key. Each is defined where its work lives.
#pragma once

#include "core/mailbox.h"

extern const HandlerEntry main_handlers[];
extern const HandlerEntry ui_handlers[];
extern const HandlerEntry updater_handlers[];

// Loads the built-in public key for the signature checks.
void load_signing_key(void);

// The main mailbox's handler for the end of an update cycle.
int32_t on_update_complete(Mailbox* sender, uint32_t id, int32_t param, void* payload);

// The show command the window is shown with.
constexpr int32_t STARTUP_SHOW_COMMAND = 5;
// How long start-up waits for the window before going on without it.
constexpr int32_t STARTUP_WINDOW_TIMEOUT_MS = 10000;

// Starts the updater thread and posts the first (held) update request.
void start_updater(void);
