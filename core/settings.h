// Process-wide settings of the tool, written by start-up on the main thread.
#pragma once

#include <stdint.h>
#include <wchar.h>

#include <atomic>

constexpr const char* PROGRAM_FOLDER_NAME = "Bin";
constexpr const char* PROGRAM_FILE_NAME = "CorvaneChat.exe";
constexpr const char* DEFAULT_INSTALL_FOLDER_NAME = "CorvaneChat";

// Owned internal paths, or none.
extern char* install_folder;
extern char* base_folder;
// The command line after the tool's own name, as the system passed it.
extern const wchar_t* command_tail;
// Set from start-up until the first Install or Repair releases the updater.
// Read by the updater thread while other threads write it.
extern std::atomic<uint8_t> updates_held;
// Set once start-up has finished, just before the main loop.
extern std::atomic<bool> startup_done;
// Set by the updater when it declines a request because updates are held,
// or by start-up when it had no updater to post its held request to. Until
// then start-up's request may still be queued, and clearing the hold would
// let it run a cycle of its own.
extern std::atomic<bool> held_request_declined;

// Replaces an owned setting with a copy of value, or none for none or empty.
void settings_store(char** setting, const char* value);

// Reads "-cvdir FOLDER" and "-basedir FOLDER" (any case). An option with no
// value after it is ignored. Both turn "/" into "\" before the conversion.
void parse_command_line(int argc, wchar_t** argv);

// Fills install_folder from the application-data folder when it is none.
void choose_default_install_folder(void);

// install_folder/Bin/CorvaneChat.exe as a scratch string, creating "Bin"
// (one level) when no folder of that name exists; none without a folder.
char* program_file_path(void);

// Start-up recovery of the program file: with the file present a left-over
// ".old" is deleted; with only ".old" present (a swap cut short) it is moved
// back to the program file's name. A left-over ".stage" is deleted. A
// Repair's ".repair" backup is then deleted when the program file is
// present, and moved back to its name when it is not.
void recover_program_file(void);
