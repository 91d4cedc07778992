// The Install/Launch! rule and the folder box.
#include "ui/controls.h"

#include <stdlib.h>
#include <string.h>

#include "core/path.h"
#include "core/settings.h"
#include "ui/window_iface.h"

const wchar_t UI_LABEL_INSTALL[] = L"&Install";
const wchar_t UI_LABEL_LAUNCH[] = L"Launch!";

MainWindowControls ui_controls;
bool installed;

const char* folder_from_owned_text(wchar_t* text) {
    if (text == nullptr) {
        return nullptr;
    }
    const char* folder = path_from_wide(text);
    free(text);
    return folder != nullptr && *folder != 0 ? folder : nullptr;
}

const wchar_t* install_folder_shown(void) {
    const wchar_t* shown =
        install_folder != nullptr ? path_to_display_wide(install_folder) : nullptr;
    return shown != nullptr ? shown : L"";
}

// Takes the folder box's text as the install folder. An empty box keeps the
// folder in force; an unchanged one keeps the very string, which a running
// cycle may be reading.
static void take_folder_from_box(void) {
    const char* folder = folder_from_owned_text(window_get_text(ui_controls.folder_box));
    if (folder == nullptr) {
        return;
    }
    if (install_folder != nullptr && strcmp(install_folder, folder) == 0) {
        return;
    }
    settings_store(&install_folder, folder);
}

static bool holds_host_game(const char* folder) {
    if (path_exists(path_join(folder, UI_HOST_GAME_FILE))) {
        return true;
    }
    return path_exists(path_join(path_parent(folder), UI_HOST_GAME_FILE));
}

void update_controls(bool use_stored_folder) {
    if (!use_stored_folder) {
        take_folder_from_box();
    }
    bool launch = false;
    bool install_enabled = false;
    if (install_folder != nullptr && *install_folder != 0) {
        launch = path_exists(path_join3(install_folder, PROGRAM_FOLDER_NAME, PROGRAM_FILE_NAME));
        install_enabled = launch || !holds_host_game(install_folder);
    }
    installed = launch;
    window_set_text(ui_controls.install, launch ? UI_LABEL_LAUNCH : UI_LABEL_INSTALL);
    window_enable(ui_controls.install, install_enabled);
    window_enable(ui_controls.repair, launch);
    window_enable(ui_controls.uninstall, launch);
    window_enable(ui_controls.cancel, false);
}
