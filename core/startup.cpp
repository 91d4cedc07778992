// Start-up in its fixed order, then the main thread's mailbox loop.
#include "core/startup.h"

#include "core/report.h"
#include "core/settings.h"
#include "core/startup_gate.h"
#include "platform/net.h"
#include "platform/platform.h"

void start_updater(void) {
    updater_mailbox = mailbox_start_thread(startup_parts.updater_handlers, 0, nullptr);
    // Declined by the updater: updates stay held until Install or Repair.
    // Without an updater nothing is queued that could meet a cleared hold.
    if (updater_mailbox == nullptr ||
        !mail_post(updater_mailbox, MAIL_RUN_UPDATE, 0, nullptr, nullptr)) {
        startup_mark_held_request_declined();
    }
}

int bootstrap_main(void* instance, const wchar_t* tail, int argc, wchar_t** argv) {
    command_tail = tail;
    parse_command_line(argc, argv);
    choose_default_install_folder();
    sink_register(REPORT_ERROR, error_sink);
    sink_register(REPORT_FATAL, fatal_sink);
    main_mailbox = mailbox_attach_current(startup_parts.main_handlers);
    platform_net_startup();
    // Before the updater thread exists, so before any TLS set-up; a failure
    // shows later as a failed handshake, like any other TLS fault.
    startup_parts.start_tls();
    // The key and the program file are settled before the window exists:
    // its first state must see a recovered program file, and no button may
    // start a cycle without the key. Neither needs the window or updater.
    startup_parts.load_signing_key();
    recover_program_file();
    ui_mailbox = mailbox_start_thread(startup_parts.ui_handlers, STARTUP_SHOW_COMMAND, instance);
    mail_wait(MAIL_WINDOW_READY, STARTUP_WINDOW_TIMEOUT_MS);
    updates_held = 1;
    start_updater();
    startup_mark_done();
    mailbox_run_loop();
    return 0;
}
