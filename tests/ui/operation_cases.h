// Install, Launch!, Repair and Uninstall as a user meets them: the install
// folder before, the boxes shown with the answer given to each, the main
// button's label and the folder afterwards, the chat program's start. One
// table, run by the console driver (ui_tool_test) and by the Win32 driver on
// the Windows tool under Wine.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum OperationAction { OPERATION_REPAIR, OPERATION_UNINSTALL, OPERATION_INSTALL, OPERATION_LAUNCH };

// What the update server offers: no server at all, a server without a
// release (a download fails), the signed test release below, the driver's
// chat stand-in as the signed release (it records how it was started), or a
// 4 MiB release served at 64 KiB/s, during whose download the driver closes
// the window (or presses Cancel).
enum OperationServer {
    OPERATION_NO_SERVER,
    OPERATION_EMPTY_SERVER,
    OPERATION_RELEASE,
    OPERATION_CHAT_RELEASE,
    OPERATION_SLOW_RELEASE
};
// The released program: test_program_bytes(length, seed).
constexpr size_t OPERATION_RELEASE_LENGTH = 30000;
constexpr uint32_t OPERATION_RELEASE_SEED = 3;
constexpr size_t OPERATION_SLOW_RELEASE_LENGTH = 4 * 1024 * 1024;

// The install folder the tool is given: the installation below; a folder
// that does not exist yet, two levels below the test's folder; a folder
// below a file, which cannot be made; the root of a drive of its own.
enum OperationFolder {
    OPERATION_FOLDER_INSTALLED,
    OPERATION_FOLDER_NEW,
    OPERATION_FOLDER_UNDER_FILE,
    OPERATION_FOLDER_DRIVE_ROOT
};

// Both shortcuts ("Corvane Chat.lnk" in the Start menu's programs folder and
// on the desktop) exist before, and afterwards are still there or gone.
enum OperationShortcuts {
    OPERATION_NO_SHORTCUTS,
    OPERATION_SHORTCUTS_KEPT,
    OPERATION_SHORTCUTS_REMOVED
};

// Which drivers run a case; a case for one only says why in its comment.
enum OperationDrivers { OPERATION_BOTH_DRIVERS, OPERATION_WINDOWS_ONLY };

// The progress bar: not looked at, never moved, or ended in its error state
// (the Win32 driver reads it only while the window stays).
enum OperationProgress {
    OPERATION_PROGRESS_UNCHECKED,
    OPERATION_PROGRESS_NONE,
    OPERATION_PROGRESS_ERROR
};

// One message box: its icon kind ("question", "information", "error"),
// caption, text, and the button pressed ("yes", "no" or "ok"). A text
// that carries details of the moment (an error's cause) is matched by its
// start. A busy box shows while the operation still runs: behind it Cancel
// is on, Install/Launch!, the folder box and Browse off.
struct OperationBox {
    const char* kind = nullptr;
    const char* caption = nullptr;
    const char* text = nullptr;
    const char* answer = nullptr;
    bool text_is_start = false;
    bool busy = false;
};

// A file of the test's own, written once the window shows (start-up has
// settled the folder by then); it must still hold its contents afterwards.
struct OperationFile {
    const char* path;
    const char* contents;
};

constexpr int OPERATION_MAX_BOXES = 4;
constexpr int OPERATION_MAX_FILES = 12;
constexpr int OPERATION_MAX_ARGUMENTS = 4;

struct OperationCase {
    const char* name = nullptr;
    OperationAction action = OPERATION_INSTALL;
    OperationServer server = OPERATION_NO_SERVER;
    OperationFolder folder = OPERATION_FOLDER_INSTALLED;
    // A file of the installation made a folder (holding one file) instead:
    // deleting it fails, as for a running program's file on Windows, also
    // for root elsewhere.
    const char* held = nullptr;
    OperationShortcuts shortcuts = OPERATION_NO_SHORTCUTS;
    // The installed program is the driver's chat stand-in, and it runs
    // (started by the driver) while the tool works.
    bool chat_running = false;
    // The tool's arguments after "-cvdir" and the folder; end at null.
    const char* arguments[OPERATION_MAX_ARGUMENTS] = {};
    OperationFile leftover = {nullptr, nullptr};
    // The boxes in the order shown; no other box may appear. Ends at a
    // null kind.
    OperationBox boxes[OPERATION_MAX_BOXES] = {};
    // The slow download is ended with Cancel rather than by closing.
    bool cancel_download = false;
    // The main button's label afterwards, without '&'; null when the tool
    // ends (it started the chat program, or the window was closed during the
    // download).
    const char* label_after = nullptr;
    OperationProgress progress = OPERATION_PROGRESS_UNCHECKED;
    // Folder-relative paths ('/' separated) that must be there afterwards,
    // those of the installation holding what they held before, and paths
    // (files or folders) that must be gone; both end at null.
    const char* kept[OPERATION_MAX_FILES] = {};
    const char* gone[OPERATION_MAX_FILES] = {};
    // Bin/CorvaneChat.exe holds the released program afterwards.
    bool program_is_release = false;
    // The chat program was started, by a pass-on command line that names
    // own_path as the tool's, or the tool's own program file when null.
    bool chat_started = false;
    const char* own_path = nullptr;
    OperationDrivers drivers = OPERATION_BOTH_DRIVERS;
};

// The installation every case on OPERATION_FOLDER_INSTALLED starts from.
// Its program file is the driver's chat stand-in for Launch! and for a
// running chat program.
constexpr OperationFile OPERATION_INSTALLATION[] = {
    {"Bin/CorvaneChat.exe", "program"},       {"Bin/CorvaneChatClient.exe", "companion"},
    {"Qorbs/CorvaneChat.qorb", "archive"},    {"Config/CorvaneChat.cfg", "own configuration"},
    {"Config/emote.cfg", "emote settings"},   {"Config/string.cfg", "string settings"},
    {"Config/travel.cfg", "travel settings"}, {"Config/zone.cfg", "zone settings"},
    {"Config/user.cfg", "user settings"},     {"Screenshots/one.png", "user data"},
};

constexpr char OPERATION_CAPTION[] = "Corvane Chat";
// The tool's own error reports carry the tool's name as their caption.
constexpr char REPORT_CAPTION[] = "Corvane Chat Bootstrap";
constexpr char REPAIR_QUESTION[] =
    "The Corvane Chat program will be checked against the latest version, and configuration "
    "files that can cause startup issues will be reset to the defaults. Do you want to continue?";
constexpr char UNINSTALL_QUESTION[] =
    "The Corvane Chat program will be removed. Your character database, screenshots, saved "
    "costumes, and other files will be left in place. Do you want to continue?";
constexpr char SHORTCUT_QUESTION[] =
    "Do you want to remove Corvane Chat from the Start Menu and Desktop?";

constexpr OperationBox REPAIR_ASKED_YES = {"question", OPERATION_CAPTION, REPAIR_QUESTION, "yes"};
constexpr OperationBox REPAIR_ASKED_NO = {"question", OPERATION_CAPTION, REPAIR_QUESTION, "no"};
constexpr OperationBox REPAIR_SUCCEEDED = {.kind = "information",
                                           .caption = OPERATION_CAPTION,
                                           .text = "The repair process completed successfully.",
                                           .answer = "ok",
                                           .busy = true};
constexpr OperationBox REPAIR_FAILED = {
    .kind = "error",
    .caption = OPERATION_CAPTION,
    .text =
        "There was a problem repairing Corvane Chat. Check that you have completely exited "
        "Corvane Chat before attempting to repair.",
    .answer = "ok",
    .busy = true};
constexpr OperationBox DOWNLOAD_FAILED = {
    .kind = "error",
    .caption = REPORT_CAPTION,
    .text = "An error occured while attempting to download Corvane Chat.",
    .answer = "ok",
    .text_is_start = true,
    .busy = true};
constexpr OperationBox FOLDER_NOT_MADE = {"error", REPORT_CAPTION,
                                          "Error creating Corvane Chat folder.", "ok"};
constexpr OperationBox UNINSTALL_ASKED_YES = {"question", OPERATION_CAPTION, UNINSTALL_QUESTION,
                                              "yes"};
constexpr OperationBox UNINSTALL_ASKED_NO = {"question", OPERATION_CAPTION, UNINSTALL_QUESTION,
                                             "no"};
constexpr OperationBox UNINSTALL_SUCCEEDED = {"information", OPERATION_CAPTION,
                                              "Corvane Chat was successfully uninstalled.", "ok"};
constexpr OperationBox UNINSTALL_FAILED = {
    "error", OPERATION_CAPTION,
    "There was a problem uninstalling Corvane Chat. Check that you have completely exited "
    "Corvane Chat before attempting to uninstall.",
    "ok"};
constexpr OperationBox SHORTCUTS_ASKED_YES = {"question", OPERATION_CAPTION, SHORTCUT_QUESTION,
                                              "yes"};
constexpr OperationBox SHORTCUTS_ASKED_NO = {"question", OPERATION_CAPTION, SHORTCUT_QUESTION,
                                             "no"};

const OperationCase OPERATION_CASES[] = {
    {.name = "RepairAnsweredNoChangesNothing",
     .action = OPERATION_REPAIR,
     .boxes = {REPAIR_ASKED_NO},
     .label_after = "Launch!",
     .progress = OPERATION_PROGRESS_NONE,
     .kept = {"Bin/CorvaneChat.exe", "Bin/CorvaneChatClient.exe", "Qorbs/CorvaneChat.qorb",
              "Config/emote.cfg", "Config/string.cfg", "Config/travel.cfg", "Config/zone.cfg",
              "Config/user.cfg"}},
    // The old program went to the backup, so the swap kept no ".old".
    {.name = "RepairReplacesTheProgramAndResetsTheConfiguration",
     .action = OPERATION_REPAIR,
     .server = OPERATION_RELEASE,
     .boxes = {REPAIR_ASKED_YES, REPAIR_SUCCEEDED},
     .label_after = "Launch!",
     .kept = {"Config/CorvaneChat.cfg", "Config/user.cfg", "Screenshots/one.png"},
     .gone = {"Bin/CorvaneChat.exe.repair", "Bin/CorvaneChat.exe.old", "Bin/CorvaneChat.exe.stage",
              "Bin/CorvaneChatClient.exe", "Qorbs/CorvaneChat.qorb", "Config/emote.cfg",
              "Config/string.cfg", "Config/travel.cfg", "Config/zone.cfg"},
     .program_is_release = true},
    // The reset files stay deleted; the program file comes back from its
    // backup, and the backup is gone.
    {.name = "FailedRepairRestoresTheProgramFile",
     .action = OPERATION_REPAIR,
     .server = OPERATION_EMPTY_SERVER,
     .boxes = {REPAIR_ASKED_YES, DOWNLOAD_FAILED, REPAIR_FAILED},
     .label_after = "Launch!",
     .progress = OPERATION_PROGRESS_ERROR,
     .kept = {"Bin/CorvaneChat.exe", "Config/CorvaneChat.cfg", "Config/user.cfg",
              "Screenshots/one.png"},
     .gone = {"Bin/CorvaneChat.exe.repair", "Bin/CorvaneChat.exe.stage",
              "Bin/CorvaneChatClient.exe", "Qorbs/CorvaneChat.qorb", "Config/emote.cfg",
              "Config/string.cfg", "Config/travel.cfg", "Config/zone.cfg"}},
    {.name = "UninstallAnsweredNoKeepsEverything",
     .action = OPERATION_UNINSTALL,
     .shortcuts = OPERATION_SHORTCUTS_KEPT,
     .boxes = {UNINSTALL_ASKED_NO},
     .label_after = "Launch!",
     .kept = {"Bin/CorvaneChat.exe", "Bin/CorvaneChatClient.exe", "Qorbs/CorvaneChat.qorb",
              "Config/CorvaneChat.cfg", "Config/emote.cfg", "Screenshots/one.png"}},
    // No shortcuts exist, so no shortcut question; Qorbs and Bin end empty
    // and go, Config and Screenshots hold user data and stay.
    {.name = "UninstallRemovesTheProgramFilesAndEmptyFolders",
     .action = OPERATION_UNINSTALL,
     .boxes = {UNINSTALL_ASKED_YES, UNINSTALL_SUCCEEDED},
     .label_after = "Install",
     .kept = {"Config/emote.cfg", "Config/user.cfg", "Screenshots/one.png"},
     .gone = {"Bin/CorvaneChat.exe", "Bin/CorvaneChatClient.exe", "Qorbs/CorvaneChat.qorb",
              "Config/CorvaneChat.cfg", "Qorbs", "Bin"}},
    // What comes before the held file goes; the main program stays.
    {.name = "UninstallOfAHeldFileFails",
     .action = OPERATION_UNINSTALL,
     .held = "Bin/CorvaneChatClient.exe",
     .boxes = {UNINSTALL_ASKED_YES, UNINSTALL_FAILED},
     .label_after = "Launch!",
     .kept = {"Bin/CorvaneChat.exe"},
     .gone = {"Qorbs/CorvaneChat.qorb", "Config/CorvaneChat.cfg"}},
    // Every missing parent is made; the chat program starts and the tool
    // ends.
    {.name = "InstallMakesTheFolderAndStartsTheChatProgram",
     .action = OPERATION_INSTALL,
     .server = OPERATION_CHAT_RELEASE,
     .folder = OPERATION_FOLDER_NEW,
     .gone = {"Bin/CorvaneChat.exe.stage"},
     .program_is_release = true,
     .chat_started = true},
    {.name = "InstallWithoutAServerReportsAndStaysInInstall",
     .action = OPERATION_INSTALL,
     .folder = OPERATION_FOLDER_NEW,
     .boxes = {DOWNLOAD_FAILED},
     .label_after = "Install",
     .progress = OPERATION_PROGRESS_ERROR,
     .gone = {"Bin/CorvaneChat.exe", "Bin/CorvaneChat.exe.stage"}},
    // The folder made for the download stays.
    {.name = "InstallWithoutAReleaseReportsAndStaysInInstall",
     .action = OPERATION_INSTALL,
     .server = OPERATION_EMPTY_SERVER,
     .folder = OPERATION_FOLDER_NEW,
     .boxes = {DOWNLOAD_FAILED},
     .label_after = "Install",
     .progress = OPERATION_PROGRESS_ERROR,
     .kept = {"Bin"},
     .gone = {"Bin/CorvaneChat.exe", "Bin/CorvaneChat.exe.stage"}},
    // No download is tried: it would show a second box.
    {.name = "InstallFolderThatCannotBeMadeIsReported",
     .action = OPERATION_INSTALL,
     .folder = OPERATION_FOLDER_UNDER_FILE,
     .boxes = {FOLDER_NOT_MADE},
     .label_after = "Install",
     .progress = OPERATION_PROGRESS_NONE},
    // A removable drive's root as the install folder, passed on as it was
    // given. Windows only: a POSIX system has one root, the system's own,
    // which is no place to install into.
    {.name = "InstallIntoADriveRoot",
     .action = OPERATION_INSTALL,
     .server = OPERATION_CHAT_RELEASE,
     .folder = OPERATION_FOLDER_DRIVE_ROOT,
     .gone = {"Bin/CorvaneChat.exe.stage"},
     .program_is_release = true,
     .chat_started = true,
     .drivers = OPERATION_WINDOWS_ONLY},
    // The window closed, or Cancel pressed, while the download runs: no
    // program, no staging file, no chat program.
    {.name = "ClosingDuringTheInstallDownloadLeavesNothing",
     .action = OPERATION_INSTALL,
     .server = OPERATION_SLOW_RELEASE,
     .folder = OPERATION_FOLDER_NEW,
     .gone = {"Bin/CorvaneChat.exe", "Bin/CorvaneChat.exe.stage"}},
    {.name = "CancelDuringTheInstallDownloadLeavesNothing",
     .action = OPERATION_INSTALL,
     .server = OPERATION_SLOW_RELEASE,
     .folder = OPERATION_FOLDER_NEW,
     .cancel_download = true,
     .gone = {"Bin/CorvaneChat.exe", "Bin/CorvaneChat.exe.stage"}},
    // A backup that appeared while the tool runs (left by another copy of
    // it): the program file cannot be moved aside, so nothing is touched and
    // no download runs (it would have succeeded).
    {.name = "RepairWithALeftoverBackupFailsAtOnce",
     .action = OPERATION_REPAIR,
     .server = OPERATION_RELEASE,
     .leftover = {"Bin/CorvaneChat.exe.repair", "an earlier backup"},
     .boxes = {REPAIR_ASKED_YES, REPAIR_FAILED},
     .label_after = "Launch!",
     .progress = OPERATION_PROGRESS_NONE,
     .kept = {"Bin/CorvaneChat.exe", "Bin/CorvaneChatClient.exe", "Qorbs/CorvaneChat.qorb",
              "Config/CorvaneChat.cfg", "Config/emote.cfg", "Config/string.cfg",
              "Config/travel.cfg", "Config/zone.cfg", "Config/user.cfg", "Screenshots/one.png"},
     .gone = {"Bin/CorvaneChat.exe.stage"}},
    // The window closed while the download runs: the program file is back
    // under its own name; what Repair reset stays reset.
    {.name = "ClosingDuringTheRepairDownloadPutsTheBackupBack",
     .action = OPERATION_REPAIR,
     .server = OPERATION_SLOW_RELEASE,
     .boxes = {REPAIR_ASKED_YES},
     .kept = {"Bin/CorvaneChat.exe", "Config/CorvaneChat.cfg", "Config/user.cfg",
              "Screenshots/one.png"},
     .gone = {"Bin/CorvaneChat.exe.repair", "Bin/CorvaneChat.exe.stage",
              "Bin/CorvaneChatClient.exe", "Qorbs/CorvaneChat.qorb", "Config/emote.cfg",
              "Config/string.cfg", "Config/travel.cfg", "Config/zone.cfg"}},
    {.name = "UninstallRemovesTheShortcutsOnYes",
     .action = OPERATION_UNINSTALL,
     .shortcuts = OPERATION_SHORTCUTS_REMOVED,
     .boxes = {UNINSTALL_ASKED_YES, SHORTCUTS_ASKED_YES, UNINSTALL_SUCCEEDED},
     .label_after = "Install",
     .kept = {"Config/emote.cfg", "Config/user.cfg", "Screenshots/one.png"},
     .gone = {"Bin/CorvaneChat.exe", "Bin/CorvaneChatClient.exe", "Qorbs/CorvaneChat.qorb",
              "Config/CorvaneChat.cfg", "Qorbs", "Bin"}},
    {.name = "UninstallKeepsTheShortcutsOnNo",
     .action = OPERATION_UNINSTALL,
     .shortcuts = OPERATION_SHORTCUTS_KEPT,
     .boxes = {UNINSTALL_ASKED_YES, SHORTCUTS_ASKED_NO, UNINSTALL_SUCCEEDED},
     .label_after = "Install",
     .kept = {"Config/emote.cfg", "Config/user.cfg", "Screenshots/one.png"},
     .gone = {"Bin/CorvaneChat.exe", "Bin/CorvaneChatClient.exe", "Qorbs/CorvaneChat.qorb",
              "Config/CorvaneChat.cfg", "Qorbs", "Bin"}},
    // The companion goes before the program file, which the running program
    // holds. Windows only: elsewhere a running program's file can be
    // deleted; UninstallOfAHeldFileFails is that platform's form of it.
    {.name = "UninstallWhileTheChatProgramRunsFails",
     .action = OPERATION_UNINSTALL,
     .chat_running = true,
     .boxes = {UNINSTALL_ASKED_YES, UNINSTALL_FAILED},
     .label_after = "Launch!",
     .kept = {"Bin/CorvaneChat.exe", "Config/emote.cfg", "Config/user.cfg", "Screenshots/one.png"},
     .gone = {"Bin/CorvaneChatClient.exe", "Qorbs/CorvaneChat.qorb", "Config/CorvaneChat.cfg"},
     .drivers = OPERATION_WINDOWS_ONLY},
    {.name = "LaunchStartsTheChatProgramAndEnds",
     .action = OPERATION_LAUNCH,
     .kept = {"Bin/CorvaneChat.exe", "Config/CorvaneChat.cfg"},
     .chat_started = true},
    // The pass-on line names the base folder's tool (display form) and
    // passes the tail on as given, not re-quoted.
    {.name = "LaunchWithABaseFolderNamesTheBaseFoldersTool",
     .action = OPERATION_LAUNCH,
     .arguments = {"-basedir", "D:/Tools/Chat", "extra arg"},
     .kept = {"Bin/CorvaneChat.exe"},
     .chat_started = true,
     .own_path = "D:\\Tools\\Chat\\CorvaneChatBootstrap.exe"},
};

constexpr int OPERATION_CASE_COUNT = sizeof OPERATION_CASES / sizeof OPERATION_CASES[0];
