// The Browse button: picker, then the final-folder rule.
#include "ui/folder_choice.h"

#include <string.h>

#include "core/path.h"
#include "core/settings.h"
#include "core/text.h"
#include "ui/controls.h"
#include "ui/window_iface.h"

const wchar_t UI_PICKER_TITLE[] = L"Choose Corvane Chat Installation Folder";

static const wchar_t PICKER_FALLBACK[] = L"C:\\";

const wchar_t* picker_initial_folder(const char* folder) {
    if (folder == nullptr) {
        return PICKER_FALLBACK;
    }
    const char* start = path_exists(folder) ? folder : path_parent(folder);
    if (start == nullptr) {
        return PICKER_FALLBACK;
    }
    const wchar_t* shown = path_to_display_wide(start);
    return shown != nullptr ? shown : PICKER_FALLBACK;
}

const char* final_install_folder(const char* chosen) {
    if (path_exists(path_join3(chosen, PROGRAM_FOLDER_NAME, PROGRAM_FILE_NAME))) {
        return chosen;
    }
    const char* slash = strrchr(chosen, '/');
    const char* last = slash != nullptr ? slash + 1 : chosen;
    // ASCII letters only: the name compared with is ASCII.
    if (text_equal_nocase(last, DEFAULT_INSTALL_FOLDER_NAME, TEXT_WHOLE, TEXT_FOLD_LETTERS)) {
        return chosen;
    }
    return path_join(chosen, DEFAULT_INSTALL_FOLDER_NAME);
}

void choose_install_folder(PlatformWindow owner) {
    const wchar_t* initial = picker_initial_folder(install_folder);
    const char* chosen =
        folder_from_owned_text(window_pick_folder(owner, UI_PICKER_TITLE, initial));
    if (chosen == nullptr) {
        return;
    }
    const char* final_folder = final_install_folder(chosen);
    if (final_folder == nullptr) {
        return;
    }
    settings_store(&install_folder, final_folder);
    window_set_text(ui_controls.folder_box, install_folder_shown());
    update_controls(true);
}
