// Install, launch, repair and uninstall, run on the UI thread from the
// window's buttons, and the main thread's handling of a finished cycle.
#pragma once

#include <atomic>

#include "core/mailbox.h"
#include "platform/platform.h"

// Fixed names of the install folder's layout.
constexpr const char* UI_CONFIG_FOLDER = "Config";
constexpr const char* UI_QORBS_FOLDER = "Qorbs";
constexpr const char* UI_COMPANION_FILE = "CorvaneChatClient.exe";
constexpr const char* UI_ARCHIVE_FILE = "CorvaneChat.qorb";
constexpr const char* UI_CHAT_CONFIG_FILE = "CorvaneChat.cfg";
constexpr const char* UI_SHORTCUT_FILE = "Corvane Chat.lnk";
constexpr const char* UI_OWN_FILE = "CorvaneChatBootstrap.exe";

extern const wchar_t UI_OPERATION_CAPTION[];

// Read by the main thread's completion handler, written by the UI thread.
extern std::atomic<bool> launch_after_update;

void on_install_clicked(void);
void on_repair_clicked(PlatformWindow owner);
void on_uninstall_clicked(PlatformWindow owner);

// Starts the installed chat program with the pass-on command line and ends
// the tool; returns only when it could not be started.
void launch_chat_program(void);
// The pass-on command line as a heap string (free it), or null.
wchar_t* chat_command_line(void);

bool start_install(void);
bool repair_files(void);
bool uninstall_files(void);

bool backup_for_repair(const char* program);
bool discard_repair_backup(const char* program);
bool restore_repair_backup(const char* program);
bool remove_folder_if_present(const char* path);

// The main mailbox's handler of the update-finished broadcast.
int32_t on_update_complete(Mailbox* sender, uint32_t id, int32_t param, void* payload);
// The UI mailbox's handler of the same broadcast: keeps its outcome for
// the operation whose wait it ends.
int32_t on_ui_update_done(Mailbox* sender, uint32_t id, int32_t param, void* payload);

// True while Install or Repair waits for its cycle (UI thread only).
bool operation_waiting(void);
// The window closed while an operation waited: the operation finishes its
// file steps and then ends the tool (UI thread only).
void operation_note_close(void);

// ---- Shared by the operations --------------------------------------------

// The opening of every button's click. False while an operation waits for
// its cycle: a nested one would work on the files, or the folder, under the
// running cycle. Else it re-reads the folder box; false when that flipped
// the window between Install and Launch! (the click only relabels).
bool operation_opening(void);
// The opening of Repair and Uninstall: operation_opening, then question,
// answered Yes.
bool operation_confirmed(PlatformWindow owner, const wchar_t* question);
// A message box of the operations: owned by the window, captioned
// UI_OPERATION_CAPTION; the button pressed.
int operation_box(PlatformWindow owner, const wchar_t* text, uint32_t type);

// Releases the updater, posts one update request and waits for its end.
// True when a completion ended the wait, with its parameter in *outcome;
// false (outcome 0) when the window closed first or there is no updater
// that takes the request.
bool wait_for_cycle(int32_t* outcome);

// True once the window has closed during a wait.
bool operation_closed(void);
// After a close during a wait: deletes the abandoned cycle's staging file,
// keeps that cycle from creating it again, and lets the main thread end
// the tool.
void operation_finish_after_close(void);

// Turns the folder box, Browse and Install/Launch! off, with Cancel on,
// while an operation runs; afterwards gives the controls back as the
// folder decides.
void operation_controls_busy(bool busy);
