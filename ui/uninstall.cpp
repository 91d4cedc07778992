// Uninstall: the chat program's own files, its empty folders and, on
// request, its shortcuts. User data stays.
#include <stdlib.h>
#include <string.h>

#include "core/path.h"
#include "core/settings.h"
#include "ui/controls.h"
#include "ui/operations.h"

static const wchar_t UNINSTALL_QUESTION[] =
    L"The Corvane Chat program will be removed. Your character database, screenshots, saved "
    L"costumes, and other files will be left in place. Do you want to continue?";
static const wchar_t SHORTCUT_QUESTION[] =
    L"Do you want to remove Corvane Chat from the Start Menu and Desktop?";
static const wchar_t UNINSTALL_SUCCESS[] = L"Corvane Chat was successfully uninstalled.";
static const wchar_t UNINSTALL_FAILURE[] =
    L"There was a problem uninstalling Corvane Chat. Check that you have completely exited "
    L"Corvane Chat before attempting to uninstall.";

static const PlatformFolder shortcut_folders[] = {PLATFORM_FOLDER_PROGRAMS,
                                                  PLATFORM_FOLDER_DESKTOP};
constexpr int SHORTCUT_COUNT = sizeof shortcut_folders / sizeof shortcut_folders[0];

bool remove_folder_if_present(const char* path) {
    if (path == nullptr || !path_exists(path)) {
        return true;
    }
    const wchar_t* wide = path_to_long_wide(path);
    return wide != nullptr && platform_remove_directory(wide);
}

// Deletes the file when it is there; false only when it is there and stays.
static bool delete_if_present(const char* folder, const char* name) {
    return path_delete_if_present(path_join3(install_folder, folder, name));
}

bool uninstall_files(void) {
    delete_if_present(UI_QORBS_FOLDER, UI_ARCHIVE_FILE);
    delete_if_present(UI_CONFIG_FOLDER, UI_CHAT_CONFIG_FILE);
    if (!delete_if_present(PROGRAM_FOLDER_NAME, UI_COMPANION_FILE)) {
        return false;
    }
    if (!delete_if_present(PROGRAM_FOLDER_NAME, PROGRAM_FILE_NAME)) {
        return false;
    }
    // A folder that still holds anything stays.
    remove_folder_if_present(path_join(install_folder, PROGRAM_FOLDER_NAME));
    remove_folder_if_present(path_join(install_folder, UI_QORBS_FOLDER));
    return true;
}

// Owned copies of the shortcut paths; a folder the system cannot name
// gives none.
static void find_shortcuts(char* paths[SHORTCUT_COUNT]) {
    for (int i = 0; i < SHORTCUT_COUNT; i++) {
        paths[i] = nullptr;
        wchar_t folder[PLATFORM_MAX_PATH];
        if (!platform_known_folder(shortcut_folders[i], folder)) {
            continue;
        }
        const char* path = path_join(path_from_wide(folder), UI_SHORTCUT_FILE);
        if (path != nullptr) {
            paths[i] = strdup(path);
        }
    }
}

static void offer_shortcut_removal(PlatformWindow owner) {
    char* paths[SHORTCUT_COUNT];
    find_shortcuts(paths);
    bool any = false;
    for (char* path : paths) {
        any = any || path_exists(path);
    }
    if (any && operation_box(owner, SHORTCUT_QUESTION,
                             PLATFORM_MB_ICONQUESTION | PLATFORM_MB_YESNO) == PLATFORM_IDYES) {
        for (char* path : paths) {
            const wchar_t* wide = path != nullptr ? path_to_long_wide(path) : nullptr;
            if (wide != nullptr) {
                platform_delete_file(wide);
            }
        }
    }
    for (char* path : paths) {
        free(path);
    }
}

void on_uninstall_clicked(PlatformWindow owner) {
    if (!operation_confirmed(owner, UNINSTALL_QUESTION)) {
        return;
    }
    if (!uninstall_files()) {
        operation_box(owner, UNINSTALL_FAILURE, PLATFORM_MB_ICONERROR);
        update_controls(true);
        return;
    }
    offer_shortcut_removal(owner);
    operation_box(owner, UNINSTALL_SUCCESS, PLATFORM_MB_ICONINFORMATION);
    update_controls(true);
}
