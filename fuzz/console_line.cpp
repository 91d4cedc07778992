// libFuzzer harness: the console window's input lines.
//
// The raw input is parsed as one line; then byte 0 picks a command name and
// the rest is written behind it after one blank, so the harness knows what
// the parser must make of it: the text itself for "folder", the text or
// nothing for "browse", and for the other commands nothing but blanks, or
// else no command at all.
#include <stdlib.h>
#include <string.h>

#include <string>

#include "ui/console/console.h"

namespace {

struct NameRow {
    const char* name;
    ConsoleCommand command;
};

const NameRow kNames[] = {
    {"folder", CONSOLE_FOLDER},
    {"browse", CONSOLE_BROWSE},
    {"install", CONSOLE_INSTALL},
    {"repair", CONSOLE_REPAIR},
    {"uninstall", CONSOLE_UNINSTALL},
    {"cancel", CONSOLE_CANCEL},
    {"close", CONSOLE_CLOSE},
    {"yes", CONSOLE_YES},
    {"no", CONSOLE_NO},
};
constexpr size_t kNameCount = sizeof kNames / sizeof kNames[0];

// The argument, when there is one, lies inside the line (or is the empty
// text of a bare "folder").
void check_shape(const std::string& line, ConsoleLine parsed) {
    if (parsed.argument == nullptr) {
        return;
    }
    if (parsed.command != CONSOLE_FOLDER && parsed.command != CONSOLE_BROWSE) {
        abort();
    }
    bool inside = parsed.argument >= line.c_str() && parsed.argument <= line.c_str() + line.size();
    if (!inside && !(parsed.command == CONSOLE_FOLDER && *parsed.argument == 0)) {
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 4096) {
        return 0;
    }
    std::string raw(reinterpret_cast<const char*>(data), size);
    raw = raw.substr(0, raw.find('\0'));
    ConsoleLine parsed = console_parse_line(raw.c_str());
    check_shape(raw, parsed);
    if (parsed.command == CONSOLE_END || parsed.command > CONSOLE_END) {
        abort();
    }

    const NameRow& row = kNames[data[0] % kNameCount];
    std::string text = raw.empty() ? raw : raw.substr(1);
    bool bare = data[0] >= 0x80;  // the name alone, no blank behind it
    std::string line = bare ? row.name : std::string(row.name) + " " + text;
    parsed = console_parse_line(line.c_str());
    check_shape(line, parsed);
    const char* argument = parsed.argument;
    switch (row.command) {
        case CONSOLE_FOLDER:
            if (parsed.command != CONSOLE_FOLDER || argument == nullptr ||
                (bare ? *argument != 0 : text != argument)) {
                abort();
            }
            break;
        case CONSOLE_BROWSE:
            if (parsed.command != CONSOLE_BROWSE) {
                abort();
            }
            if (bare || text.empty() ? argument != nullptr
                                     : argument == nullptr || text != argument) {
                abort();
            }
            break;
        default: {
            bool blanks = bare || text.find_first_not_of(' ') == std::string::npos;
            if (parsed.command != (blanks ? row.command : CONSOLE_NONE) || argument != nullptr) {
                abort();
            }
            break;
        }
    }
    return 0;
}
