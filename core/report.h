// Error reports and the sinks that deliver them.
//
// Any thread calls report; the text is formatted once into a shared buffer
// under the report lock and handed to every sink whose maximum level admits
// it. Only levels 0 (fatal) and 1 (error) are ever delivered.
#pragma once

#include <stdint.h>
#include <wchar.h>

constexpr int32_t REPORT_FATAL = 0;
constexpr int32_t REPORT_ERROR = 1;
constexpr int32_t REPORT_WARN = 2;
constexpr int32_t REPORT_INFO = 3;
constexpr int32_t REPORT_DEBUG = 4;
constexpr int32_t REPORT_TRACE = 5;

constexpr uint32_t REPORT_BUFFER_UNITS = 4096;

typedef void (*LogSinkCallback)(int32_t level, const wchar_t* level_name, const wchar_t* text);

struct LogSink {
    int32_t max_level;
    LogSinkCallback callback;
};

// The name handed to sinks for a level ("FATAL:" ...), or null.
const wchar_t* report_level_name(int32_t level);

// Enters a sink, ordered by max_level from highest to lowest and in front
// of sinks of equal level. Start-up only (no lock). False when out of memory.
bool sink_register(int32_t max_level, LogSinkCallback callback);

// Formats and delivers one report. Level 0 ends the calling thread.
void report(int32_t level, const wchar_t* format, ...);

// The two sinks start-up registers: they post the text to the UI mailbox.
void error_sink(int32_t level, const wchar_t* level_name, const wchar_t* text);
void fatal_sink(int32_t level, const wchar_t* level_name, const wchar_t* text);

// The UI mailbox's handler for MAIL_SHOW_ERROR.
struct Mailbox;
int32_t on_show_error(Mailbox* sender, uint32_t id, int32_t param, void* payload);

// The caption of every error box.
extern const wchar_t* const REPORT_CAPTION;

// Makes window (or none) the owner of the error boxes on_show_error shows
// from now on. The front end sets it once it has made its window, on the
// thread that shows the boxes (or before that thread starts); until then
// the boxes have no owner.
void report_set_box_owner(void* window);

// Registered sinks (tests).
uint32_t sink_count(void);
const LogSink* sink_at(uint32_t index);
// Empties the sink list (tests only).
void sink_clear(void);
