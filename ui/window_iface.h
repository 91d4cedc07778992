// The window as the shared logic sees it: a main window, its controls and
// the few system dialogs it needs. Two backends implement this: the Win32
// one (real windows) and the console one (the window drawn in a terminal,
// driven by lines on standard input). Handles are PlatformWindow values;
// the logic never looks inside them. Message boxes are the platform's
// (platform_message_box), which the console backend takes over.
#pragma once

#include <stdint.h>
#include <wchar.h>

#include "platform/platform.h"

// Window messages the shared window procedure handles, as Windows numbers
// them; the console backend delivers the same numbers.
constexpr uint32_t UI_WM_CREATE = 0x0001;
constexpr uint32_t UI_WM_DESTROY = 0x0002;
constexpr uint32_t UI_WM_CLOSE = 0x0010;
constexpr uint32_t UI_WM_COMMAND = 0x0111;
// The window moved to a display of another scale: the new dots per inch in
// the low word of wparam, lparam points at the suggested outer rectangle.
constexpr uint32_t UI_WM_DPICHANGED = 0x02E0;
constexpr uint32_t UI_EN_KILLFOCUS = 0x0200;
constexpr uint32_t UI_BN_CLICKED = 0;

// WM_COMMAND's wparam: control identifier in the low word, notification in
// the high word.
constexpr uintptr_t ui_command_wparam(uint32_t id, uint32_t code) {
    return (uintptr_t)((id & 0xFFFF) | ((code & 0xFFFF) << 16));
}

enum UiControlClass {
    UI_CLASS_STATIC,
    UI_CLASS_EDIT,
    UI_CLASS_BUTTON,
    UI_CLASS_ICON,      // a static control showing an icon resource
    UI_CLASS_PROGRESS,  // made by the update engine's progress_bar_create
};

// One row of the control table. y_from_text: y is added to Y, the welcome
// text's height plus 36; otherwise y is absolute.
struct UiControlRow {
    UiControlClass kind;
    const wchar_t* text;  // null: filled in by the window (welcome, folder)
    uint32_t style;       // the system's style bits but the disabled one
    bool disabled;        // created off; the state rule turns it on
    int32_t x;
    int32_t y;
    bool y_from_text;
    int32_t width;
    int32_t height;
    uint32_t id;
    bool gui_font;
};

// A rectangle in screen coordinates, laid out as the system's RECT (the form
// WM_DPICHANGED's lparam points at).
struct UiScreenRect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

// ---- What each backend provides ---------------------------------------------

// Prepares the thread for the folder dialogs (COM on Windows).
void window_init_thread(void);

// Registers the class, creates the main window (its messages reach
// main_window_proc, WM_CREATE included) and shows it with show_command.
PlatformWindow window_create_main(void* instance, int32_t show_command);

// Creates one control of the table as a child of parent at its final y;
// layout's x, width and height are already those of the window's scale.
PlatformWindow window_create_control(PlatformWindow parent, const UiControlRow* layout,
                                     const wchar_t* text, int32_t y);

// Moves and sizes a control made from layout (or the progress bar) to
// layout's x, width and height and y, and gives it the GUI font in force
// (gui_font rows) or its icon at the new size (icon rows).
void window_place_control(PlatformWindow control, const UiControlRow* layout, int32_t y);

// The dots per inch of the display the window is on (96 at 100% scale).
int32_t window_dpi(PlatformWindow window);

// Makes the GUI font for dpi the one window_measure_text measures with and
// controls get from now on, and gives the window its icons for dpi.
void window_use_dpi(PlatformWindow window, int32_t dpi);

// Sizes the main window so that its client area is width x height: centred
// on the screen when outer is null, else with its outer top-left corner at
// outer's.
void window_set_client_size(PlatformWindow window, int32_t width, int32_t height,
                            const UiScreenRect* outer);

// The progress bar the update engine made for the window; the backend may
// watch it (the console prints and draws it).
void window_adopt_progress_bar(PlatformWindow bar);

// Height in pixels of text word-wrapped to width in the GUI font in force.
int32_t window_measure_text(PlatformWindow window, const wchar_t* text, int32_t width);

// Destroys the main window (WM_DESTROY reaches main_window_proc).
void window_destroy(PlatformWindow window);

// The system's default handling of a message the tool leaves alone.
intptr_t window_default_proc(PlatformWindow window, uint32_t message, uintptr_t wparam,
                             intptr_t lparam);

void window_set_text(PlatformWindow control, const wchar_t* text);
// The control's whole text as a heap string (free it), or null.
wchar_t* window_get_text(PlatformWindow control);
void window_enable(PlatformWindow control, bool enabled);

// The folder picker with the title, preset at initial (display form). The
// chosen folder's system path as a heap string (free it), or null when the
// user cancelled or the choice has no file-system path.
wchar_t* window_pick_folder(PlatformWindow owner, const wchar_t* title, const wchar_t* initial);
