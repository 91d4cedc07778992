// Standard input of the console window: one command per line, read on a
// thread of its own and posted to the window's thread as window messages.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "core/startup_gate.h"
#include "platform/platform.h"
#include "ui/console/console.h"

struct CommandName {
    const char* name;
    ConsoleCommand command;
    bool takes_text;  // the rest of the line after one blank is the text
};

static const CommandName command_names[] = {
    {"folder", CONSOLE_FOLDER, true},
    {"browse", CONSOLE_BROWSE, true},
    {"install", CONSOLE_INSTALL, false},
    {"repair", CONSOLE_REPAIR, false},
    {"uninstall", CONSOLE_UNINSTALL, false},
    {"cancel", CONSOLE_CANCEL, false},
    {"close", CONSOLE_CLOSE, false},
    {"yes", CONSOLE_YES, false},
    {"no", CONSOLE_NO, false},
};

ConsoleLine console_parse_line(const char* line) {
    ConsoleLine parsed = {CONSOLE_NONE, nullptr};
    size_t word = strcspn(line, " ");
    for (const CommandName& entry : command_names) {
        if (strlen(entry.name) != word || strncmp(line, entry.name, word) != 0) {
            continue;
        }
        const char* rest = line[word] == ' ' ? line + word + 1 : nullptr;
        // A command without text takes nothing after its name but blanks.
        if (!entry.takes_text && rest != nullptr && rest[strspn(rest, " ")] != 0) {
            return parsed;
        }
        parsed.command = entry.command;
        if (entry.takes_text) {
            // "folder" alone empties the box; "browse" alone cancels the picker.
            if (entry.command == CONSOLE_FOLDER) {
                parsed.argument = rest != nullptr ? rest : "";
            }
            if (entry.command == CONSOLE_BROWSE) {
                parsed.argument = rest != nullptr && *rest != 0 ? rest : nullptr;
            }
        }
        return parsed;
    }
    return parsed;
}

// Reads one whole line of any length into a heap string without its line
// end; null at the end of input.
static char* read_line(FILE* in) {
    size_t capacity = 256, length = 0;
    char* line = static_cast<char*>(malloc(capacity));
    if (line == nullptr) {
        return nullptr;
    }
    bool any = false;
    while (fgets(line + length, (int)(capacity - length), in) != nullptr) {
        any = true;
        length += strlen(line + length);
        if (length > 0 && line[length - 1] == '\n') {
            break;
        }
        if (length + 1 < capacity) {
            continue;
        }
        char* grown = static_cast<char*>(realloc(line, capacity * 2));
        if (grown == nullptr) {
            break;
        }
        line = grown;
        capacity *= 2;
    }
    if (!any) {
        free(line);
        return nullptr;
    }
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) {
        line[--length] = 0;
    }
    return line;
}

static wchar_t* wide_copy(const char* text) {
    int units = platform_utf8_to_wide(text, nullptr, 0);
    if (units <= 0) {
        return nullptr;
    }
    wchar_t* out = static_cast<wchar_t*>(malloc((size_t)units * sizeof(wchar_t)));
    if (out != nullptr && platform_utf8_to_wide(text, out, units) == 0) {
        free(out);
        return nullptr;
    }
    return out;
}

static void post_command(PlatformWindow window, ConsoleCommand command, const char* text) {
    wchar_t* wide = text != nullptr ? wide_copy(text) : nullptr;
    if (!platform_post_window_message(window, CONSOLE_WM_INPUT, (uintptr_t)command,
                                      (intptr_t)wide)) {
        free(wide);
    }
}

static void input_thread(void* arg) {
    PlatformWindow window = arg;
    // A script's first line can arrive at once; a click cannot come before
    // the window is up and start-up has held the updater and tidied the
    // program folder, so neither may a command.
    startup_wait_done();
    for (;;) {
        char* line = read_line(stdin);
        if (line == nullptr) {
            break;
        }
        ConsoleLine parsed = console_parse_line(line);
        if (parsed.command == CONSOLE_NONE) {
            if (*line != 0) {
                fprintf(stderr, "unknown command: %s\n", line);
            }
        } else {
            post_command(window, parsed.command, parsed.argument);
        }
        free(line);
    }
    post_command(window, CONSOLE_END, nullptr);
}

bool console_input_start(PlatformWindow window) {
    return platform_thread_start(input_thread, window) != 0;
}
