// The command line, the install folder and the program file's place.
#include "core/settings.h"

#include <stdlib.h>
#include <string.h>

#include "core/path.h"
#include "core/text.h"
#include "platform/platform.h"

char* install_folder;
char* base_folder;
const wchar_t* command_tail = L"";
std::atomic<uint8_t> updates_held;
std::atomic<bool> startup_done;
std::atomic<bool> held_request_declined;

// Held while a setting is replaced and while another thread turns the
// install folder into the program file's path, so that reader never meets a
// freed string (the UI thread may replace the folder while the main thread
// handles the end of a cycle).
static PlatformLazyLock settings_lock;

static PlatformLock* settings_lock_get(void) {
    return platform_lazy_lock(&settings_lock, 0);
}

void settings_store(char** setting, const char* value) {
    char* copy = value != nullptr && *value != 0 ? strdup(value) : nullptr;
    PlatformLock* lock = settings_lock_get();
    platform_lock_enter(lock);
    char* old = *setting;
    *setting = copy;
    platform_lock_leave(lock);
    free(old);
}

// Option names are matched without regard to case (ASCII letters only, as
// both names are ASCII).
static bool option_is(const wchar_t* arg, const wchar_t* name) {
    return text_equal_nocase(arg, name, TEXT_WHOLE, TEXT_FOLD_LETTERS);
}

// Reads one folder value: "/" becomes "\" so C:/Chat is the drive path it
// means, and the result is stored in internal form. The argument is
// changed in place, as the system's vector belongs to the process.
static void store_folder_option(char** setting, wchar_t* value) {
    for (wchar_t* p = value; *p; p++) {
        if (*p == L'/') {
            *p = L'\\';
        }
    }
    settings_store(setting, path_from_wide(value));
}

void parse_command_line(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; i++) {
        // An option in the last place has no value; it is ignored.
        if (option_is(argv[i], L"-cvdir") && i + 1 < argc) {
            i++;
            store_folder_option(&install_folder, argv[i]);
        }
        // The value just taken is looked at as an option too.
        if (option_is(argv[i], L"-basedir") && i + 1 < argc) {
            i++;
            store_folder_option(&base_folder, argv[i]);
        }
    }
}

void choose_default_install_folder(void) {
    if (install_folder != nullptr) {
        return;
    }
    wchar_t appdata[PLATFORM_MAX_PATH];
    if (!platform_known_folder(PLATFORM_FOLDER_APPDATA, appdata)) {
        return;
    }
    char* folder = path_from_wide(appdata);
    if (folder == nullptr) {
        return;
    }
    settings_store(&install_folder, path_join(folder, DEFAULT_INSTALL_FOLDER_NAME));
}

char* program_file_path(void) {
    PlatformLock* lock = settings_lock_get();
    platform_lock_enter(lock);
    const char* bin =
        install_folder != nullptr ? path_join(install_folder, PROGRAM_FOLDER_NAME) : nullptr;
    platform_lock_leave(lock);
    if (bin == nullptr) {
        return nullptr;
    }
    wchar_t* wide = path_to_long_wide(bin);
    if (wide == nullptr) {
        return nullptr;
    }
    // Only this one level is made; a missing install folder makes it fail,
    // which is fine here.
    if (platform_path_kind(wide) != PLATFORM_PATH_DIRECTORY) {
        platform_create_directory(wide);
    }
    return const_cast<char*>(path_join(bin, PROGRAM_FILE_NAME));
}

void recover_program_file(void) {
    char* program = program_file_path();
    if (program == nullptr) {
        return;
    }
    wchar_t* program_wide = path_to_long_wide(program);
    wchar_t* old_wide = path_to_long_wide(old_name(program));
    if (program_wide == nullptr || old_wide == nullptr) {
        return;
    }
    // A download cut off by the end of the process leaves its staging
    // file; nothing can use it, and the next download starts afresh.
    wchar_t* stage_wide = path_to_long_wide(stage_name(program));
    if (stage_wide != nullptr) {
        platform_delete_file(stage_wide);
    }
    if (platform_path_kind(program_wide) != PLATFORM_PATH_NONE) {
        platform_delete_file(old_wide);
    } else if (platform_path_kind(old_wide) == PLATFORM_PATH_FILE) {
        // An update's swap was cut off between its two renames.
        platform_move(old_wide, program_wide);
    }
    // A Repair that the process did not finish: its backup is the program
    // file unless its cycle had already put a new one in place. Left alone,
    // the backup would also make every later Repair fail at once. Beside a
    // folder of the program file's name the backup is all that is left of
    // the program, so it stays.
    wchar_t* repair_wide = path_to_long_wide(repair_name(program));
    if (repair_wide == nullptr) {
        return;
    }
    PlatformPathKind now = platform_path_kind(program_wide);
    if (now == PLATFORM_PATH_FILE) {
        platform_delete_file(repair_wide);
    } else if (now == PLATFORM_PATH_NONE && platform_path_kind(repair_wide) != PLATFORM_PATH_NONE) {
        platform_move(repair_wide, program_wide);
    }
}
