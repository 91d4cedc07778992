// Reports and their sinks. A report is formatted once, under the report
// lock, and every admitting sink sees the same text; the sinks only post,
// so no reporting thread ever waits for a message box.
#include "core/report.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include "core/mailbox.h"
#include "platform/platform.h"

const wchar_t* const REPORT_CAPTION = L"Corvane Chat Bootstrap";
// Read and written by the thread that shows the boxes only.
static void* box_owner;

void report_set_box_owner(void* window) {
    box_owner = window;
}

static const wchar_t* const level_names[] = {L"FATAL:", L"ERROR:", L"WARN:",
                                             L"INFO:",  L"DEBUG:", L"TRACE:"};

const wchar_t* report_level_name(int32_t level) {
    if (level < 0 || level > REPORT_TRACE) {
        return nullptr;
    }
    return level_names[level];
}

static LogSink* sinks;
static uint32_t sinks_count;

uint32_t sink_count(void) {
    return sinks_count;
}
const LogSink* sink_at(uint32_t index) {
    return index < sinks_count ? &sinks[index] : nullptr;
}

void sink_clear(void) {
    free(sinks);
    sinks = nullptr;
    sinks_count = 0;
}

bool sink_register(int32_t max_level, LogSinkCallback callback) {
    LogSink* grown = static_cast<LogSink*>(realloc(sinks, (sinks_count + 1) * sizeof(LogSink)));
    if (grown == nullptr) {
        return false;
    }
    sinks = grown;
    uint32_t at = 0;
    while (at < sinks_count && sinks[at].max_level > max_level) {
        at++;
    }
    memmove(sinks + at + 1, sinks + at, (sinks_count - at) * sizeof(LogSink));
    sinks[at] = {max_level, callback};
    sinks_count++;
    return true;
}

static PlatformLazyLock report_lock;
static wchar_t report_buffer[REPORT_BUFFER_UNITS];

void report(int32_t level, const wchar_t* format, ...) {
    if (level > REPORT_ERROR) {
        return;
    }
    PlatformLock* lock = platform_lazy_lock(&report_lock, MAILBOX_SPIN_COUNT);
    platform_lock_enter(lock);
    va_list args;
    va_start(args, format);
    platform_format_wide(report_buffer, REPORT_BUFFER_UNITS, format, args);
    va_end(args);
    for (uint32_t i = 0; i < sinks_count; i++) {
        if (level <= sinks[i].max_level) {
            sinks[i].callback(level, report_level_name(level), report_buffer);
        }
    }
    platform_lock_leave(lock);
    if (level == REPORT_FATAL) {
        platform_thread_exit(0);
    }
}

// A heap copy of text for the UI mailbox, released with free.
static wchar_t* text_copy(const wchar_t* text) {
    size_t n = wcslen(text) + 1;
    wchar_t* copy = static_cast<wchar_t*>(malloc(n * sizeof(wchar_t)));
    if (copy != nullptr) {
        memcpy(copy, text, n * sizeof(wchar_t));
    }
    return copy;
}

// Hands the text to the UI thread's box. Before the UI mailbox exists
// there is no thread to show it, so the reporting thread shows it itself.
static void show_on_ui(const wchar_t* text, int32_t end_process) {
    if (ui_mailbox == nullptr) {
        platform_message_box(nullptr, text, REPORT_CAPTION, PLATFORM_MB_ICONERROR);
        if (end_process) {
            platform_process_exit(0);
        }
        return;
    }
    wchar_t* copy = text_copy(text);
    if (copy != nullptr) {
        mail_post(ui_mailbox, MAIL_SHOW_ERROR, end_process, copy, free);
    }
}

void error_sink(int32_t level, const wchar_t* level_name, const wchar_t* text) {
    if (level != REPORT_FATAL && text != nullptr) {
        show_on_ui(text, 0);
    }
}

void fatal_sink(int32_t level, const wchar_t* level_name, const wchar_t* text) {
    if (text != nullptr) {
        show_on_ui(text, 1);
    }
}

int32_t on_show_error(Mailbox* sender, uint32_t id, int32_t param, void* payload) {
    platform_message_box(box_owner, static_cast<const wchar_t*>(payload), REPORT_CAPTION,
                         PLATFORM_MB_ICONERROR);
    if (param != 0) {
        platform_process_exit(0);
    }
    return 0;
}
