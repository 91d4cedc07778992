// The parts start-up starts, named here by the front end that owns the
// window and binds the updater in: the three mailbox tables and the load
// of the signing key, and the TLS library's process-wide set-up.
#include "core/startup.h"
#include "http/http.h"
#include "ui/operations.h"
#include "ui/window.h"
#include "update/cycle.h"
#include "update/signing_key.h"

static const HandlerEntry main_handlers[] = {
    {MAIL_QUIT, quit_handler},
    {MAIL_UPDATE_DONE, on_update_complete},
    {0, nullptr},
};

const StartupParts startup_parts = {main_handlers, ui_handlers, updater_handlers, load_signing_key,
                                    http_tls_startup};
