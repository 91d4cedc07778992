// Drawing the console window in a terminal: the welcome text, the folder
// box, the buttons (dim when disabled, the access key underlined), the
// progress bar (red in its error state) and the last event lines.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ui/console/console.h"
#include "ui/window.h"

constexpr int INNER = 76;  // columns between the frame's borders

static const char CLEAR[] = "\x1b[H\x1b[2J";
static const char DIM[] = "\x1b[2m";
static const char UNDERLINE[] = "\x1b[4m";
static const char RED[] = "\x1b[31m";
static const char RESET[] = "\x1b[0m";

static const ConsoleControl* find(const ConsoleModel* m, uint32_t id, int kind, int nth) {
    int seen = 0;
    for (int i = 0; i < m->control_count; i++) {
        const ConsoleControl* c = &m->controls[i];
        if (id != 0 ? c->id == id : (c->kind == kind && seen++ == nth)) {
            return c;
        }
    }
    return nullptr;
}

static void frame_line(const char* text, int visible) {
    printf("| %s%*s |\n", text, INNER - visible, "");
}

// Word-wraps UTF-8 text into frame lines.
static void wrapped(const wchar_t* wide) {
    char text[2048];
    snprintf(text, sizeof text, "%ls", wide != nullptr ? wide : L"");
    const char* p = text;
    while (*p) {
        const char* end = strchr(p, '\n');
        size_t n = end != nullptr ? (size_t)(end - p) : strlen(p);
        if (n > (size_t)INNER) {
            n = INNER;
            while (n > 0 && p[n] != ' ') {
                n--;
            }
            if (n == 0) {
                n = INNER;
            }
        }
        char line[INNER + 1];
        memcpy(line, p, n);
        line[n] = 0;
        frame_line(line, (int)n);
        p += n;
        if (*p == '\n' || *p == ' ') {
            p++;
        }
    }
}

// A button as "[ Label ]", dim when disabled, the access key underlined.
// Returns the visible width.
static int button(char* out, size_t capacity, const ConsoleControl* c) {
    if (c == nullptr) {
        return 0;
    }
    const char* style = c->enabled ? "" : DIM;
    size_t n = (size_t)snprintf(out, capacity, "%s[ ", style);
    int visible = 2;
    for (const wchar_t* p = c->text != nullptr ? c->text : L""; *p && n + 16 < capacity; p++) {
        if (*p == L'&' && p[1] != 0) {
            n += (size_t)snprintf(out + n, capacity - n, "%s%lc%s%s", UNDERLINE, (wint_t)p[1],
                                  RESET, style);
            p++;
        } else {
            n += (size_t)snprintf(out + n, capacity - n, "%lc", (wint_t)*p);
        }
        visible++;
    }
    snprintf(out + n, capacity - n, " ]%s", RESET);
    return visible + 2;
}

void console_draw(const ConsoleModel* m, const char* const* events, int event_count) {
    char line[1024], a[160], b[160], c[160];
    fputs(CLEAR, stdout);
    printf("+%.*s Corvane Chat %.*s+\n", 31, "--------------------------------------------------",
           32, "--------------------------------------------------");
    wrapped(find(m, 0, UI_CLASS_STATIC, 0) ? find(m, 0, UI_CLASS_STATIC, 0)->text : L"");
    frame_line("", 0);

    const ConsoleControl* box = find(m, UI_ID_FOLDER_BOX, 0, 0);
    char folder[512];
    snprintf(folder, sizeof folder, "%ls", box && box->text ? box->text : L"");
    int browse_width = button(a, sizeof a, find(m, UI_ID_BROWSE, 0, 0));
    int room = INNER - browse_width - 4;
    int shown = (int)strlen(folder);
    const char* start = shown > room ? folder + (shown - room) : folder;  // keep the end in view
    shown = shown > room ? room : shown;
    snprintf(line, sizeof line, "%s[%-*s]%s %s", box && !box->enabled ? DIM : "", room, start,
             RESET, a);
    frame_line(line, room + 3 + browse_width);
    frame_line("", 0);

    int w1 = button(a, sizeof a, find(m, UI_ID_INSTALL, 0, 0));
    int w2 = button(b, sizeof b, find(m, UI_ID_REPAIR, 0, 0));
    int w3 = button(c, sizeof c, find(m, UI_ID_UNINSTALL, 0, 0));
    snprintf(line, sizeof line, "     %s      %s      %s", a, b, c);
    frame_line(line, 5 + w1 + 6 + w2 + 6 + w3);
    frame_line("", 0);
    wrapped(find(m, 0, UI_CLASS_STATIC, 1) ? find(m, 0, UI_CLASS_STATIC, 1)->text : L"");
    frame_line("", 0);

    constexpr int BAR = 50;
    int filled = m->progress * BAR / 100;
    char bar[BAR + 1];
    for (int i = 0; i < BAR; i++) {
        bar[i] = i < filled ? '#' : '.';
    }
    bar[BAR] = 0;
    int cancel_width = button(a, sizeof a, find(m, UI_ID_CANCEL, 0, 0));
    snprintf(line, sizeof line, "%s[%s]%s %3d%%%*s%s", m->progress_error ? RED : "", bar, RESET,
             (int)m->progress, INNER - (BAR + 2 + 5 + cancel_width), "", a);
    frame_line(line, INNER);
    printf("+%.*s+\n", INNER + 2,
           "----------------------------------------------------------------------------------");
    for (int i = 0; i < event_count; i++) {
        printf("  %s\n", events[i]);
    }
    printf(
        "\ncommands: folder TEXT | browse [PATH] | install | repair | uninstall | cancel | "
        "close%s\n> ",
        m->question != nullptr ? " | yes | no" : "");
    fflush(stdout);
}
