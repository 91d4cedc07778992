// The console backend of the window: the window and its controls are a
// model on the UI thread, drawn in the terminal; input lines become the
// window messages clicks and typing would give; every message box, button
// change and progress step is also written as one stable line.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "core/path.h"
#include "core/settings.h"
#include "ui/console/console.h"
#include "ui/window.h"
#include "ui/window_iface.h"

static ConsoleModel model;
static PlatformWindow progress_bar;
static bool flush_posted;
static char* last_state_line;
// The picker's answer for the Browse being handled: owned text, or none.
static wchar_t* pending_pick;
// Slept on while a question waits: never set, input wakes it.
static PlatformEvent* question_idle;
// End of input means no more commands: a button's operation still running
// finishes first, later questions are answered No, then the window closes.
static bool input_ended;
static int clicks_running;

// The last event lines, shown under the drawing in a terminal.
constexpr int EVENT_LOG_SIZE = 8;
static char* event_log[EVENT_LOG_SIZE];
static int event_count;

static void redraw(void) {
    if (!model.terminal) {
        return;
    }
    console_draw(&model, event_log, event_count);
}

// Writes one stable line.
static void emit(const char* line) {
    if (event_count == EVENT_LOG_SIZE) {
        free(event_log[0]);
        memmove(event_log, event_log + 1, (EVENT_LOG_SIZE - 1) * sizeof(event_log[0]));
        event_count--;
    }
    event_log[event_count++] = strdup(line);
    if (model.terminal) {
        redraw();
    } else {
        fputs(line, stdout);
        fputc('\n', stdout);
        fflush(stdout);
    }
}

static ConsoleControl* control_by_id(uint32_t id) {
    for (int i = 0; i < model.control_count; i++) {
        if (model.controls[i].id == id) {
            return &model.controls[i];
        }
    }
    return nullptr;
}

static ConsoleControl* control_from(PlatformWindow handle) {
    for (int i = 0; i < model.control_count; i++) {
        if (&model.controls[i] == handle) {
            return &model.controls[i];
        }
    }
    return nullptr;
}

static const char* on_off(uint32_t id) {
    ConsoleControl* c = control_by_id(id);
    return c != nullptr && c->enabled ? "on" : "off";
}

// "state: LABEL install=.. repair=.. uninstall=.. cancel=.. folder=.."; the
// label without its access-key marker.
static void format_state(char* out, size_t capacity) {
    char label[64] = "";
    ConsoleControl* install = control_by_id(UI_ID_INSTALL);
    if (install != nullptr && install->text != nullptr) {
        size_t n = 0;
        for (const wchar_t* p = install->text; *p && n + 1 < sizeof label; p++) {
            if (*p != L'&') {
                label[n++] = (char)*p;
            }
        }
        label[n] = 0;
    }
    const char* folder = install_folder != nullptr ? path_to_display(install_folder) : "";
    snprintf(out, capacity, "state: %s install=%s repair=%s uninstall=%s cancel=%s folder=%s",
             label, on_off(UI_ID_INSTALL), on_off(UI_ID_REPAIR), on_off(UI_ID_UNINSTALL),
             on_off(UI_ID_CANCEL), folder != nullptr ? folder : "");
}

// Writes the state line when it reads differently from the last one.
static void flush_state(void) {
    flush_posted = false;
    if (model.destroyed) {
        return;
    }
    char line[4096 + 128];
    format_state(line, sizeof line);
    if (last_state_line != nullptr && strcmp(last_state_line, line) == 0) {
        redraw();
        return;
    }
    free(last_state_line);
    last_state_line = strdup(line);
    emit(line);
}

// Changes settle as a batch: one state line after the handler that made
// them, not one per button.
static void model_changed(void) {
    if (flush_posted || model.window == nullptr) {
        return;
    }
    flush_posted = platform_post_window_message(model.window, CONSOLE_WM_FLUSH, 0, 0);
}

// The next input line answers an open question; other messages go on
// being dispatched, as in a modal box's own loop.
static int wait_for_answer(void) {
    if (question_idle == nullptr) {
        question_idle = platform_event_create();
    }
    if (input_ended) {
        return PLATFORM_IDNO;
    }
    for (;;) {
        PlatformMsg msg;
        while (platform_peek_message(&msg)) {
            if (msg.message == PLATFORM_WM_QUIT) {
                platform_post_quit((int32_t)msg.wparam);
                return PLATFORM_IDNO;
            }
            if (msg.window == model.window && msg.message == CONSOLE_WM_INPUT) {
                free(reinterpret_cast<wchar_t*>(msg.lparam));
                ConsoleCommand command = (ConsoleCommand)msg.wparam;
                // The end of input answers No and still closes the window.
                if (command == CONSOLE_END) {
                    input_ended = true;
                    platform_post_window_message(model.window, CONSOLE_WM_INPUT, CONSOLE_END, 0);
                }
                return command == CONSOLE_YES ? PLATFORM_IDYES : PLATFORM_IDNO;
            }
            platform_dispatch_message(nullptr, &msg);
        }
        platform_wait_event_or_input(question_idle, PLATFORM_WAIT_FOREVER);
    }
}

static int console_message_box(void* owner, const wchar_t* text, const wchar_t* caption,
                               uint32_t type) {
    flush_state();  // what led to the box comes before it
    int units = snprintf(nullptr, 0, "[%s] %ls: %ls", platform_message_box_kind(type),
                         caption ? caption : L"", text ? text : L"");
    char* line = units > 0 ? static_cast<char*>(malloc((size_t)units + 1)) : nullptr;
    if (line != nullptr) {
        snprintf(line, (size_t)units + 1, "[%s] %ls: %ls", platform_message_box_kind(type),
                 caption ? caption : L"", text ? text : L"");
    }
    bool question = (type & 0xF) == PLATFORM_MB_YESNO;
    model.question = question ? line : nullptr;
    emit(line != nullptr ? line : "[message]");
    int answer = question ? wait_for_answer() : PLATFORM_IDOK;
    model.question = nullptr;
    free(line);
    redraw();
    return answer;
}

// ---- Input ---------------------------------------------------------------

static void click(uint32_t id) {
    ConsoleControl* c = control_by_id(id);
    // A disabled control ignores clicks and typing.
    if (c == nullptr || !c->enabled) {
        return;
    }
    clicks_running++;
    main_window_proc(model.window, UI_WM_COMMAND, ui_command_wparam(id, UI_BN_CLICKED), 0);
    clicks_running--;
}

static void on_input(ConsoleCommand command, wchar_t* text) {
    ConsoleControl* box = control_by_id(UI_ID_FOLDER_BOX);
    switch (command) {
        case CONSOLE_FOLDER:
            if (box == nullptr || !box->enabled) {
                break;
            }
            // Typed text goes in as it is.
            free(box->text);
            box->text = wcsdup(text != nullptr ? text : L"");
            main_window_proc(model.window, UI_WM_COMMAND,
                             ui_command_wparam(UI_ID_FOLDER_BOX, UI_EN_KILLFOCUS), 0);
            break;
        case CONSOLE_BROWSE:
            pending_pick = text;
            text = nullptr;
            click(UI_ID_BROWSE);
            free(pending_pick);
            pending_pick = nullptr;
            break;
        case CONSOLE_INSTALL:
            click(UI_ID_INSTALL);
            break;
        case CONSOLE_REPAIR:
            click(UI_ID_REPAIR);
            break;
        case CONSOLE_UNINSTALL:
            click(UI_ID_UNINSTALL);
            break;
        case CONSOLE_CANCEL:
            click(UI_ID_CANCEL);
            break;
        case CONSOLE_CLOSE:
            main_window_proc(model.window, UI_WM_CLOSE, 0, 0);
            break;
        case CONSOLE_END:
            // Inside a click's wait the close comes once that click is done.
            input_ended = true;
            break;
        default:
            break;  // yes and no without a question, and anything else
    }
    free(text);
    if (input_ended && clicks_running == 0 && !model.destroyed) {
        main_window_proc(model.window, UI_WM_CLOSE, 0, 0);
        return;
    }
    // The folder in force may have changed without any button changing.
    model_changed();
}

static intptr_t console_window_proc(PlatformWindow window, uint32_t message, uintptr_t wparam,
                                    intptr_t lparam) {
    if (message == CONSOLE_WM_INPUT) {
        wchar_t* text = reinterpret_cast<wchar_t*>(lparam);
        if (model.destroyed) {
            free(text);
            return 0;
        }
        on_input((ConsoleCommand)wparam, text);
        return 0;
    }
    if (message == CONSOLE_WM_FLUSH) {
        flush_state();
        return 0;
    }
    if (model.destroyed) {
        return 0;
    }
    return main_window_proc(window, message, wparam, lparam);
}

static intptr_t progress_observer(PlatformWindow bar, uint32_t message, uintptr_t wparam,
                                  intptr_t lparam) {
    PlatformProgressState state;
    platform_progress_bar_record(bar, &state, nullptr, 0);
    char line[64];
    if (message == PLATFORM_PBM_SETPOS && state.position != model.progress) {
        model.progress = state.position;
        snprintf(line, sizeof line, "progress: %d%%", (int)state.position);
        emit(line);
    }
    if (message == PLATFORM_PBM_SETSTATE && state.state == PLATFORM_PBST_ERROR &&
        !model.progress_error) {
        model.progress_error = true;
        emit("progress: error");
    }
    return 0;
}

// The folder box shows a folder in this system's own form: a display path
// rooted without drive or server ("\tmp\x") is a POSIX folder, "/tmp/x".
static wchar_t* folder_box_text(const wchar_t* text) {
    bool rooted = text[0] == L'\\' && text[1] != L'\\';
    size_t n = wcslen(text);
    wchar_t* out = static_cast<wchar_t*>(malloc((n + 1) * sizeof(wchar_t)));
    if (out == nullptr) {
        return nullptr;
    }
    for (size_t i = 0; i <= n; i++) {
        out[i] = rooted && text[i] == L'\\' ? L'/' : text[i];
    }
    return out;
}

// ---- The window interface --------------------------------------------------

void window_init_thread(void) {
    model.terminal = platform_stdout_is_terminal();
    platform_set_message_box_hook(console_message_box);
}

PlatformWindow window_create_main(void* instance, int32_t show_command) {
    model.window = platform_window_create_posix(console_window_proc, nullptr);
    if (model.window == nullptr) {
        return nullptr;
    }
    main_window_proc(model.window, UI_WM_CREATE, 0, 0);
    flush_state();
    console_input_start(model.window);
    return model.window;
}

PlatformWindow window_create_control(PlatformWindow parent, const UiControlRow* layout,
                                     const wchar_t* text, int32_t y) {
    if (model.control_count == CONSOLE_CONTROL_MAX) {
        return nullptr;
    }
    ConsoleControl* c = &model.controls[model.control_count++];
    c->id = layout->id;
    c->kind = layout->kind;
    c->text = text == nullptr                 ? nullptr
              : layout->kind == UI_CLASS_EDIT ? folder_box_text(text)
                                              : wcsdup(text);
    c->enabled = !layout->disabled;
    return c;
}

// The drawing has no pixels: it looks the same at every scale.
void window_place_control(PlatformWindow control, const UiControlRow* layout, int32_t y) {}

int32_t window_dpi(PlatformWindow window) {
    return UI_DPI_BASE;
}

void window_use_dpi(PlatformWindow window, int32_t dpi) {}

void window_set_client_size(PlatformWindow window, int32_t width, int32_t height,
                            const UiScreenRect* outer) {}

void window_adopt_progress_bar(PlatformWindow bar) {
    progress_bar = bar;
    platform_progress_bar_observe(bar, progress_observer);
}

int32_t window_measure_text(PlatformWindow window, const wchar_t* text, int32_t width) {
    // A terminal line stands for a line of the GUI font (13 pixels), wrapped
    // at the drawing's width.
    constexpr int32_t LINE_PIXELS = 13;
    constexpr size_t COLUMNS = 76;
    int32_t lines = 1;
    size_t column = 0;
    for (const wchar_t* p = text; *p; p++) {
        if (*p == L'\n' || ++column > COLUMNS) {
            lines++;
            column = 0;
        }
    }
    return lines * LINE_PIXELS;
}

void window_destroy(PlatformWindow window) {
    if (model.destroyed) {
        return;
    }
    // A state line still waiting for its flush is the last one a script sees.
    flush_state();
    model.destroyed = true;
    // The handle stays valid: posted messages may still name it.
    main_window_proc(window, UI_WM_DESTROY, 0, 0);
}

intptr_t window_default_proc(PlatformWindow window, uint32_t message, uintptr_t wparam,
                             intptr_t lparam) {
    return 0;
}

void window_set_text(PlatformWindow control, const wchar_t* text) {
    ConsoleControl* c = control_from(control);
    if (c == nullptr) {
        return;
    }
    if (c->id == UI_ID_FOLDER_BOX && text != nullptr) {
        wchar_t* shown = folder_box_text(text);
        free(c->text);
        c->text = shown;
        model_changed();
        return;
    }
    if (c->text != nullptr && text != nullptr && wcscmp(c->text, text) == 0) {
        return;
    }
    free(c->text);
    c->text = text != nullptr ? wcsdup(text) : nullptr;
    model_changed();
}

wchar_t* window_get_text(PlatformWindow control) {
    ConsoleControl* c = control_from(control);
    if (c == nullptr) {
        return nullptr;
    }
    return wcsdup(c->text != nullptr ? c->text : L"");
}

void window_enable(PlatformWindow control, bool enabled) {
    ConsoleControl* c = control_from(control);
    if (c == nullptr || c->enabled == enabled) {
        return;
    }
    c->enabled = enabled;
    model_changed();
}

wchar_t* window_pick_folder(PlatformWindow owner, const wchar_t* title, const wchar_t* initial) {
    if (pending_pick == nullptr) {
        return nullptr;
    }
    wchar_t* chosen = pending_pick;
    pending_pick = nullptr;
    return chosen;
}
