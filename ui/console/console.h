// The console backend's own pieces: the window model drawn in the terminal,
// the stable event lines, and the commands read from standard input.
#pragma once

#include <stdint.h>
#include <wchar.h>

#include "platform/platform.h"

// Commands of the input lines, one per line.
enum ConsoleCommand {
    CONSOLE_NONE = 0,  // an empty or unknown line
    CONSOLE_FOLDER,    // folder TEXT
    CONSOLE_BROWSE,    // browse [PATH]
    CONSOLE_INSTALL,
    CONSOLE_REPAIR,
    CONSOLE_UNINSTALL,
    CONSOLE_CANCEL,
    CONSOLE_CLOSE,
    CONSOLE_YES,
    CONSOLE_NO,
    CONSOLE_END,  // end of input
};

// One parsed line: the command and its text (UTF-8 inside the line), or
// null when the command took none.
struct ConsoleLine {
    ConsoleCommand command;
    const char* argument;  // points into the line
};

// Parses one line without its line end.
ConsoleLine console_parse_line(const char* line);

// The window's private messages, delivered like any other window message.
constexpr uint32_t CONSOLE_WM_INPUT = PLATFORM_WM_USER + 0x100;  // wparam command, lparam heap text
constexpr uint32_t CONSOLE_WM_FLUSH = PLATFORM_WM_USER + 0x101;  // print what changed

// Starts the thread that reads standard input and posts each line to the
// window as CONSOLE_WM_INPUT. The thread never touches the window itself.
bool console_input_start(PlatformWindow window);

// ---- The model the drawing shows -------------------------------------------

constexpr int CONSOLE_CONTROL_MAX = 12;

struct ConsoleControl {
    uint32_t id;
    int kind;  // UiControlClass
    wchar_t* text;
    bool enabled;
};

struct ConsoleModel {
    bool terminal;  // draw the window; else only the event lines
    bool destroyed;
    PlatformWindow window;
    ConsoleControl controls[CONSOLE_CONTROL_MAX];
    int control_count;
    int32_t progress;
    bool progress_error;
    const char* question;  // the open question's text while one waits (UTF-8)
};

// Draws the whole window and the last event lines (terminal only).
void console_draw(const ConsoleModel* model, const char* const* events, int event_count);
