// Install and Launch!, the wait for an update cycle, and the main thread's
// handling of a finished cycle.
#include <stdlib.h>
#include <wchar.h>

#include "core/path.h"
#include "core/report.h"
#include "core/settings.h"
#include "core/startup_gate.h"
#include "ui/controls.h"
#include "ui/operations.h"
#include "ui/window_iface.h"
#include "update/cycle.h"

const wchar_t UI_OPERATION_CAPTION[] = L"Corvane Chat";

static const wchar_t FOLDER_ERROR[] = L"Error creating Corvane Chat folder.";
static const wchar_t CHAT_COMMAND_FORMAT[] = L"CorvaneChat.exe %ls -bootstrap \"%ls\"";
// Room for the format's own text beyond the two texts filled in.
constexpr size_t CHAT_COMMAND_SLACK = 64;

std::atomic<bool> launch_after_update{true};

// UI-thread state of the operation that waits for its cycle.
static bool waiting;
static bool closed_during_wait;
static int32_t ui_cycle_outcome;

bool operation_waiting(void) {
    return waiting;
}
bool operation_closed(void) {
    return closed_during_wait;
}

void operation_note_close(void) {
    closed_during_wait = true;
    // The user gave up on the operation: a cycle that still succeeds must
    // not start the chat program.
    launch_after_update = false;
}

int32_t on_ui_update_done(Mailbox* sender, uint32_t id, int32_t param, void* payload) {
    ui_cycle_outcome = param;
    return 0;
}

bool wait_for_cycle(int32_t* outcome) {
    waiting = true;
    // A click can come before start-up has started the updater and before
    // the updater has declined start-up's held request; clearing the hold
    // earlier would let that request run a second cycle. Wait for both,
    // keeping the window alive.
    if (!startup_wait_ended()) {
        waiting = false;
        if (outcome != nullptr) {
            *outcome = 0;
        }
        return false;
    }
    updates_held = 0;
    ui_cycle_outcome = 0;
    // Without an updater that took the request no cycle will ever end the
    // wait (and a null target would broadcast): the operation fails now.
    Mailbox* updater = updater_mailbox;
    bool ended = updater != nullptr && mail_post(updater, MAIL_RUN_UPDATE, 0, nullptr, nullptr) &&
                 mail_wait(MAIL_UPDATE_DONE, MAIL_NO_TIMEOUT);
    waiting = false;
    if (outcome != nullptr) {
        *outcome = ended ? ui_cycle_outcome : 0;
    }
    return ended;
}

void operation_finish_after_close(void) {
    // The updater may still be on its way to the staging file; abandoning
    // it keeps the cycle from creating it after this delete.
    const char* program = install_folder != nullptr
                              ? path_join3(install_folder, PROGRAM_FOLDER_NAME, PROGRAM_FILE_NAME)
                              : nullptr;
    update_abandon_stage(program);
    mail_post(main_mailbox, MAIL_QUIT, 0, nullptr, nullptr);
}

bool operation_opening(void) {
    if (waiting) {
        return false;
    }
    bool before = installed;
    update_controls(false);
    return installed == before;
}

bool operation_confirmed(PlatformWindow owner, const wchar_t* question) {
    return operation_opening() &&
           operation_box(owner, question, PLATFORM_MB_ICONQUESTION | PLATFORM_MB_YESNO) ==
               PLATFORM_IDYES;
}

int operation_box(PlatformWindow owner, const wchar_t* text, uint32_t type) {
    return platform_message_box(owner, text, UI_OPERATION_CAPTION, type);
}

void operation_controls_busy(bool busy) {
    window_enable(ui_controls.folder_box, !busy);
    window_enable(ui_controls.browse, !busy);
    if (!busy) {
        update_controls(true);
        return;
    }
    window_enable(ui_controls.install, false);
    window_enable(ui_controls.cancel, true);
}

// Wide printf into out with its capacity; false when it did not fit.
static bool format_wide(wchar_t* out, size_t capacity, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    bool fitted = platform_format_wide(out, capacity, format, args);
    va_end(args);
    return fitted;
}

wchar_t* chat_command_line(void) {
    const wchar_t* own_path = platform_program_path();
    if (base_folder != nullptr) {
        own_path = path_to_display_wide(path_join(base_folder, UI_OWN_FILE));
    }
    const wchar_t* tail = command_tail != nullptr ? command_tail : L"";
    if (own_path == nullptr) {
        return nullptr;
    }
    size_t capacity = wcslen(tail) + wcslen(own_path) + CHAT_COMMAND_SLACK;
    wchar_t* line = static_cast<wchar_t*>(malloc(capacity * sizeof(wchar_t)));
    if (line == nullptr) {
        return nullptr;
    }
    format_wide(line, capacity, CHAT_COMMAND_FORMAT, tail, own_path);
    return line;
}

void launch_chat_program(void) {
    const char* program = program_file_path();
    if (program == nullptr || !path_exists(program)) {
        return;
    }
    wchar_t* application = path_to_long_wide(program);
    wchar_t* line = chat_command_line();
    bool started =
        application != nullptr && line != nullptr && platform_process_start(application, line);
    free(line);
    if (started) {
        platform_process_exit(0);
    }
}

bool start_install(void) {
    const char* bin = install_folder != nullptr && *install_folder != 0
                          ? path_join(install_folder, PROGRAM_FOLDER_NAME)
                          : nullptr;
    if (bin == nullptr || !make_directories(bin)) {
        report(REPORT_ERROR, L"%ls", FOLDER_ERROR);
        return false;
    }
    launch_after_update = true;
    wait_for_cycle(nullptr);
    return true;
}

void on_install_clicked(void) {
    if (!operation_opening()) {
        return;
    }
    operation_controls_busy(true);
    if (installed) {
        launch_chat_program();
    } else {
        start_install();
    }
    if (closed_during_wait) {
        operation_finish_after_close();
        return;
    }
    operation_controls_busy(false);
}

int32_t on_update_complete(Mailbox* sender, uint32_t id, int32_t param, void* payload) {
    if (launch_after_update) {
        launch_chat_program();
    }
    return 0;
}
