// Repair: put the program file aside, reset configuration files, run one
// update cycle, then keep the new file or put the old one back.
#include <stdlib.h>
#include <string.h>

#include "core/path.h"
#include "core/settings.h"
#include "ui/operations.h"

static const wchar_t REPAIR_QUESTION[] =
    L"The Corvane Chat program will be checked against the latest version, and configuration "
    L"files that can cause startup issues will be reset to the defaults. Do you want to continue?";
static const wchar_t REPAIR_SUCCESS[] = L"The repair process completed successfully.";
static const wchar_t REPAIR_FAILURE[] =
    L"There was a problem repairing Corvane Chat. Check that you have completely exited Corvane "
    L"Chat before attempting to repair.";

struct RepairDeletion {
    const char* folder;
    const char* name;
};

// Deleted before the cycle, in this order; none of them is restored.
static const RepairDeletion repair_deletions[] = {
    {PROGRAM_FOLDER_NAME, UI_COMPANION_FILE}, {UI_QORBS_FOLDER, UI_ARCHIVE_FILE},
    {UI_CONFIG_FOLDER, "emote.cfg"},          {UI_CONFIG_FOLDER, "string.cfg"},
    {UI_CONFIG_FOLDER, "travel.cfg"},         {UI_CONFIG_FOLDER, "zone.cfg"},
};

bool backup_for_repair(const char* program) {
    if (!path_exists(program)) {
        return true;
    }
    const wchar_t* from = path_to_long_wide(program);
    const wchar_t* to = path_to_long_wide(repair_name(program));
    // A folder in the program file's place is no program file to keep:
    // moved aside, the backup could never be deleted, and every later
    // Repair would fail on it. The Repair fails instead, changing nothing.
    if (from == nullptr || platform_path_kind(from) == PLATFORM_PATH_DIRECTORY) {
        return false;
    }
    return to != nullptr && platform_move(from, to);
}

bool discard_repair_backup(const char* program) {
    const wchar_t* backup = path_to_long_wide(repair_name(program));
    return backup != nullptr && platform_delete_file(backup);
}

bool restore_repair_backup(const char* program) {
    const wchar_t* from = path_to_long_wide(repair_name(program));
    const wchar_t* to = path_to_long_wide(program);
    return from != nullptr && to != nullptr && platform_move(from, to);
}

bool repair_files(void) {
    const char* found = program_file_path();
    if (found == nullptr) {
        return false;
    }
    // Owned: the wait dispatches many messages, each free to use scratch.
    char* program = strdup(found);
    if (program == nullptr) {
        return false;
    }
    if (!backup_for_repair(program)) {
        free(program);
        return false;
    }
    for (const RepairDeletion& entry : repair_deletions) {
        path_delete_if_present(path_join3(install_folder, entry.folder, entry.name));
    }
    launch_after_update = false;
    int32_t outcome = 0;
    // The outcome is the one the ending completion carried, never a flag
    // another thread may not have written yet.
    bool ok = wait_for_cycle(&outcome) && outcome == 1;
    if (ok) {
        discard_repair_backup(program);
    } else {
        restore_repair_backup(program);
    }
    free(program);
    return ok;
}

void on_repair_clicked(PlatformWindow owner) {
    if (!operation_confirmed(owner, REPAIR_QUESTION)) {
        return;
    }
    operation_controls_busy(true);
    bool ok = repair_files();
    if (operation_closed()) {
        operation_finish_after_close();
        return;
    }
    if (ok) {
        operation_box(owner, REPAIR_SUCCESS, PLATFORM_MB_ICONINFORMATION);
    } else {
        operation_box(owner, REPAIR_FAILURE, PLATFORM_MB_ICONERROR);
    }
    operation_controls_busy(false);
}
