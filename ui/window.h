// The main window: its control table, its layout at every scale and the
// routing of its messages.
#pragma once

#include <stdint.h>

#include "core/mailbox.h"
#include "platform/platform.h"
#include "ui/controls.h"
#include "ui/window_iface.h"

constexpr int32_t UI_CLIENT_WIDTH = 500;
constexpr int32_t UI_CLIENT_HEIGHT = 340;
constexpr int32_t UI_WELCOME_WIDTH = 464;
// The folder box sits this far below the top of the welcome text's bottom.
constexpr int32_t UI_FOLDER_BOX_OFFSET = 36;
// The table's pixels are those of a 96 DPI display.
constexpr int32_t UI_DPI_BASE = 96;
// The welcome text's height the fixed rows below it were placed for at 96
// DPI: ten lines of the 8-point GUI font, which leave 18 pixels between the
// action buttons and the tip. A taller text (at its scale) pushes those
// rows and the client area's bottom down by the difference.
constexpr int32_t UI_WELCOME_ROOM = 130;

extern const wchar_t UI_WINDOW_CLASS[];
extern const wchar_t UI_WINDOW_CAPTION[];
extern const wchar_t UI_WELCOME_TEXT[];
extern const wchar_t UI_TIP_TEXT[];

// The controls in creation order.
extern const UiControlRow ui_control_table[UI_CONTROL_COUNT];

// y of a table row for a welcome text of height text_height, at 96 DPI.
int32_t ui_control_y(const UiControlRow* layout, int32_t text_height);

// A table length at 96 DPI scaled to dpi, rounded to the nearest pixel
// (halves away from zero).
int32_t ui_scale(int32_t length, int32_t dpi);

// Where every control goes at one display scale.
struct UiLayout {
    int32_t client_width;
    int32_t client_height;
    UiControlRow rows[UI_CONTROL_COUNT];  // the table, x, width and height scaled
    int32_t y[UI_CONTROL_COUNT];
};

// Fills *layout for a display of dpi dots per inch on which the welcome
// text, wrapped to ui_scale(UI_WELCOME_WIDTH, dpi), measured text_height.
// At 96 DPI and a text no taller than UI_WELCOME_ROOM it is the table itself
// in a 500 x 340 client area.
void ui_layout_compute(int32_t dpi, int32_t text_height, UiLayout* layout);

// The UI mailbox's table: window creation, window quit, error boxes and the
// end of an update cycle (whose outcome the waiting operation reads).
extern const HandlerEntry ui_handlers[];

int32_t on_create_window(Mailbox* sender, uint32_t id, int32_t param, void* payload);
int32_t on_ui_quit(Mailbox* sender, uint32_t id, int32_t param, void* payload);

// The window procedure both backends deliver the main window's messages to.
intptr_t main_window_proc(PlatformWindow window, uint32_t message, uintptr_t wparam,
                          intptr_t lparam);
