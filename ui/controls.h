// The window's rules that the window and the operations share: the controls
// the logic talks to, the folder box and the rule that decides between
// Install and Launch!.
#pragma once

#include <stdint.h>
#include <wchar.h>

#include "platform/platform.h"

// Control identifiers (a number space apart from the mailbox messages).
constexpr uint32_t UI_ID_FOLDER_BOX = 1001;
constexpr uint32_t UI_ID_BROWSE = 1002;
constexpr uint32_t UI_ID_INSTALL = 1003;
constexpr uint32_t UI_ID_REPAIR = 1004;
constexpr uint32_t UI_ID_UNINSTALL = 1005;
constexpr uint32_t UI_ID_CANCEL = 1101;

// The controls in creation order.
constexpr int UI_CONTROL_COUNT = 10;

// A host game here or in the parent folder keeps Install off.
constexpr const char* UI_HOST_GAME_FILE = "vexamoria.exe";

extern const wchar_t UI_LABEL_INSTALL[];
extern const wchar_t UI_LABEL_LAUNCH[];

// UI-thread globals: the window and the controls the logic talks to.
struct MainWindowControls {
    PlatformWindow window;
    PlatformWindow folder_box;
    PlatformWindow browse;
    PlatformWindow install;
    PlatformWindow repair;
    PlatformWindow uninstall;
    PlatformWindow cancel;
    PlatformWindow rows[UI_CONTROL_COUNT];  // every control in table order
};
extern MainWindowControls ui_controls;

// True while the install folder holds the chat program (Launch!).
extern bool installed;

// Recomputes Install/Launch! and the buttons; with false it first takes the
// install folder from the folder box.
void update_controls(bool use_stored_folder);

// The internal form (scratch) of a folder the box or the picker gave as a
// heap string, which this frees; null for none, an empty one or one that
// does not convert.
const char* folder_from_owned_text(wchar_t* text);

// The install folder as the folder box shows it (scratch), or "".
const wchar_t* install_folder_shown(void);
