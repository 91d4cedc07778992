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
// the window.
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

// One message box: its icon kind ("question", "information", "error"),
// caption, text, and the button pressed ("yes", "no" or "ok"). A text
// that carries details of the moment (an error's cause) is matched by its
// start.
struct OperationBox {
    const char* kind;
    const char* caption;
    const char* text;
    const char* answer;
    bool text_is_start = false;
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
    const char* name;
    OperationAction action;
    OperationServer server;
    // The boxes in the order shown; no other box may appear. Ends at a
    // null kind.
    OperationBox boxes[OPERATION_MAX_BOXES];
    // The main button's label afterwards, without '&'; null when the tool
    // ends (it started the chat program, or the window was closed during the
    // download).
    const char* label_after;
    // Folder-relative paths ('/' separated) that must still hold what they
    // held before, and paths (files or folders) that must be gone; both end
    // at null.
    const char* kept[OPERATION_MAX_FILES];
    const char* gone[OPERATION_MAX_FILES];
    // Bin/CorvaneChat.exe holds the released program afterwards.
    bool program_is_release = false;
    // A file of the installation made a folder (holding one file) instead:
    // deleting it fails, as for a running program's file on Windows, also
    // for root elsewhere.
    const char* held = nullptr;
    OperationFolder folder = OPERATION_FOLDER_INSTALLED;
    OperationFile leftover = {nullptr, nullptr};
    OperationShortcuts shortcuts = OPERATION_NO_SHORTCUTS;
    // The installed program is the driver's chat stand-in, and it runs
    // (started by the driver) while the tool works.
    bool chat_running = false;
    // The tool's arguments after "-cvdir" and the folder; end at null.
    const char* arguments[OPERATION_MAX_ARGUMENTS] = {};
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
constexpr char REPAIR_QUESTION_TEXT[] =
    "The Corvane Chat program will be checked against the latest version, and configuration "
    "files that can cause startup issues will be reset to the defaults. Do you want to continue?";
constexpr char UNINSTALL_QUESTION_TEXT[] =
    "The Corvane Chat program will be removed. Your character database, screenshots, saved "
    "costumes, and other files will be left in place. Do you want to continue?";
constexpr char REPAIR_SUCCESS_TEXT[] = "The repair process completed successfully.";
constexpr char REPAIR_FAILURE_TEXT[] =
    "There was a problem repairing Corvane Chat. Check that you have completely exited Corvane "
    "Chat before attempting to repair.";
constexpr char DOWNLOAD_ERROR_START[] =
    "An error occured while attempting to download Corvane Chat.";
constexpr char UNINSTALL_FAILURE_TEXT[] =
    "There was a problem uninstalling Corvane Chat. Check that you have completely exited "
    "Corvane Chat before attempting to uninstall.";
constexpr char UNINSTALL_SUCCESS_TEXT[] = "Corvane Chat was successfully uninstalled.";
constexpr char SHORTCUT_QUESTION_TEXT[] =
    "Do you want to remove Corvane Chat from the Start Menu and Desktop?";
// The tool's own error reports carry the tool's name as their caption.
constexpr char REPORT_CAPTION[] = "Corvane Chat Bootstrap";
constexpr char FOLDER_ERROR_TEXT[] = "Error creating Corvane Chat folder.";

const OperationCase OPERATION_CASES[] = {
    {"RepairAnsweredNoChangesNothing",
     OPERATION_REPAIR,
     OPERATION_NO_SERVER,
     {{"question", OPERATION_CAPTION, REPAIR_QUESTION_TEXT, "no"}},
     "Launch!",
     {"Bin/CorvaneChat.exe", "Bin/CorvaneChatClient.exe", "Qorbs/CorvaneChat.qorb",
      "Config/emote.cfg", "Config/string.cfg", "Config/travel.cfg", "Config/zone.cfg",
      "Config/user.cfg"},
     {}},
    // The old program went to the backup, so the swap kept no ".old".
    {"RepairReplacesTheProgramAndResetsTheConfiguration",
     OPERATION_REPAIR,
     OPERATION_RELEASE,
     {{"question", OPERATION_CAPTION, REPAIR_QUESTION_TEXT, "yes"},
      {"information", OPERATION_CAPTION, REPAIR_SUCCESS_TEXT, "ok"}},
     "Launch!",
     {"Config/CorvaneChat.cfg", "Config/user.cfg", "Screenshots/one.png"},
     {"Bin/CorvaneChat.exe.repair", "Bin/CorvaneChat.exe.old", "Bin/CorvaneChat.exe.stage",
      "Bin/CorvaneChatClient.exe", "Qorbs/CorvaneChat.qorb", "Config/emote.cfg",
      "Config/string.cfg", "Config/travel.cfg", "Config/zone.cfg"},
     true},
    // The reset files stay deleted; the program file comes back from its
    // backup, and the backup is gone.
    {"FailedRepairRestoresTheProgramFile",
     OPERATION_REPAIR,
     OPERATION_EMPTY_SERVER,
     {{"question", OPERATION_CAPTION, REPAIR_QUESTION_TEXT, "yes"},
      {"error", "Corvane Chat Bootstrap", DOWNLOAD_ERROR_START, "ok", true},
      {"error", OPERATION_CAPTION, REPAIR_FAILURE_TEXT, "ok"}},
     "Launch!",
     {"Bin/CorvaneChat.exe", "Config/CorvaneChat.cfg", "Config/user.cfg", "Screenshots/one.png"},
     {"Bin/CorvaneChat.exe.repair", "Bin/CorvaneChat.exe.stage", "Bin/CorvaneChatClient.exe",
      "Qorbs/CorvaneChat.qorb", "Config/emote.cfg", "Config/string.cfg", "Config/travel.cfg",
      "Config/zone.cfg"}},
    {"UninstallAnsweredNoKeepsEverything",
     OPERATION_UNINSTALL,
     OPERATION_NO_SERVER,
     {{"question", OPERATION_CAPTION, UNINSTALL_QUESTION_TEXT, "no"}},
     "Launch!",
     {"Bin/CorvaneChat.exe", "Bin/CorvaneChatClient.exe", "Qorbs/CorvaneChat.qorb",
      "Config/CorvaneChat.cfg", "Config/emote.cfg", "Screenshots/one.png"},
     {}},
    // No shortcuts exist, so no shortcut question; Qorbs and Bin end empty
    // and go, Config and Screenshots hold user data and stay.
    {"UninstallRemovesTheProgramFilesAndEmptyFolders",
     OPERATION_UNINSTALL,
     OPERATION_NO_SERVER,
     {{"question", OPERATION_CAPTION, UNINSTALL_QUESTION_TEXT, "yes"},
      {"information", OPERATION_CAPTION, UNINSTALL_SUCCESS_TEXT, "ok"}},
     "Install",
     {"Config/emote.cfg", "Config/user.cfg", "Screenshots/one.png"},
     {"Bin/CorvaneChat.exe", "Bin/CorvaneChatClient.exe", "Qorbs/CorvaneChat.qorb",
      "Config/CorvaneChat.cfg", "Qorbs", "Bin"}},
    // What comes before the held file goes; the main program stays.
    {"UninstallOfAHeldFileFails",
     OPERATION_UNINSTALL,
     OPERATION_NO_SERVER,
     {{"question", OPERATION_CAPTION, UNINSTALL_QUESTION_TEXT, "yes"},
      {"error", OPERATION_CAPTION, UNINSTALL_FAILURE_TEXT, "ok"}},
     "Launch!",
     {"Bin/CorvaneChat.exe"},
     {"Qorbs/CorvaneChat.qorb", "Config/CorvaneChat.cfg"},
     false,
     "Bin/CorvaneChatClient.exe"},
    // Every missing parent is made; the chat program starts and the tool
    // ends.
    {"InstallMakesTheFolderAndStartsTheChatProgram",
     OPERATION_INSTALL,
     OPERATION_CHAT_RELEASE,
     {},
     nullptr,
     {},
     {"Bin/CorvaneChat.exe.stage"},
     true,
     nullptr,
     OPERATION_FOLDER_NEW,
     {nullptr, nullptr},
     OPERATION_NO_SHORTCUTS,
     false,
     {},
     true},
    {"InstallWithoutAServerReportsAndStaysInInstall",
     OPERATION_INSTALL,
     OPERATION_NO_SERVER,
     {{"error", REPORT_CAPTION, DOWNLOAD_ERROR_START, "ok", true}},
     "Install",
     {},
     {"Bin/CorvaneChat.exe", "Bin/CorvaneChat.exe.stage"},
     false,
     nullptr,
     OPERATION_FOLDER_NEW},
    {"InstallWithoutAReleaseReportsAndStaysInInstall",
     OPERATION_INSTALL,
     OPERATION_EMPTY_SERVER,
     {{"error", REPORT_CAPTION, DOWNLOAD_ERROR_START, "ok", true}},
     "Install",
     {},
     {"Bin/CorvaneChat.exe", "Bin/CorvaneChat.exe.stage"},
     false,
     nullptr,
     OPERATION_FOLDER_NEW},
    // No download is tried: it would show a second box.
    {"InstallFolderThatCannotBeMadeIsReported",
     OPERATION_INSTALL,
     OPERATION_NO_SERVER,
     {{"error", REPORT_CAPTION, FOLDER_ERROR_TEXT, "ok"}},
     "Install",
     {},
     {},
     false,
     nullptr,
     OPERATION_FOLDER_UNDER_FILE},
    // A removable drive's root as the install folder, passed on as it was
    // given. Windows only: a POSIX system has one root, the system's own,
    // which is no place to install into.
    {"InstallIntoADriveRoot",
     OPERATION_INSTALL,
     OPERATION_CHAT_RELEASE,
     {},
     nullptr,
     {},
     {"Bin/CorvaneChat.exe.stage"},
     true,
     nullptr,
     OPERATION_FOLDER_DRIVE_ROOT,
     {nullptr, nullptr},
     OPERATION_NO_SHORTCUTS,
     false,
     {},
     true,
     nullptr,
     OPERATION_WINDOWS_ONLY},
    // The window closed while the download runs: no program, no staging file,
    // no chat program.
    {"ClosingDuringTheInstallDownloadLeavesNothing",
     OPERATION_INSTALL,
     OPERATION_SLOW_RELEASE,
     {},
     nullptr,
     {},
     {"Bin/CorvaneChat.exe", "Bin/CorvaneChat.exe.stage"},
     false,
     nullptr,
     OPERATION_FOLDER_NEW},
    // A backup that appeared while the tool runs (left by another copy of
    // it): the program file cannot be moved aside, so nothing is touched and
    // no download runs (it would have succeeded).
    {"RepairWithALeftoverBackupFailsAtOnce",
     OPERATION_REPAIR,
     OPERATION_RELEASE,
     {{"question", OPERATION_CAPTION, REPAIR_QUESTION_TEXT, "yes"},
      {"error", OPERATION_CAPTION, REPAIR_FAILURE_TEXT, "ok"}},
     "Launch!",
     {"Bin/CorvaneChat.exe", "Bin/CorvaneChatClient.exe", "Qorbs/CorvaneChat.qorb",
      "Config/CorvaneChat.cfg", "Config/emote.cfg", "Config/string.cfg", "Config/travel.cfg",
      "Config/zone.cfg", "Config/user.cfg", "Screenshots/one.png"},
     {"Bin/CorvaneChat.exe.stage"},
     false,
     nullptr,
     OPERATION_FOLDER_INSTALLED,
     {"Bin/CorvaneChat.exe.repair", "an earlier backup"}},
    // The window closed while the download runs: the program file is back
    // under its own name; what Repair reset stays reset.
    {"ClosingDuringTheRepairDownloadPutsTheBackupBack",
     OPERATION_REPAIR,
     OPERATION_SLOW_RELEASE,
     {{"question", OPERATION_CAPTION, REPAIR_QUESTION_TEXT, "yes"}},
     nullptr,
     {"Bin/CorvaneChat.exe", "Config/CorvaneChat.cfg", "Config/user.cfg", "Screenshots/one.png"},
     {"Bin/CorvaneChat.exe.repair", "Bin/CorvaneChat.exe.stage", "Bin/CorvaneChatClient.exe",
      "Qorbs/CorvaneChat.qorb", "Config/emote.cfg", "Config/string.cfg", "Config/travel.cfg",
      "Config/zone.cfg"}},
    {"UninstallRemovesTheShortcutsOnYes",
     OPERATION_UNINSTALL,
     OPERATION_NO_SERVER,
     {{"question", OPERATION_CAPTION, UNINSTALL_QUESTION_TEXT, "yes"},
      {"question", OPERATION_CAPTION, SHORTCUT_QUESTION_TEXT, "yes"},
      {"information", OPERATION_CAPTION, UNINSTALL_SUCCESS_TEXT, "ok"}},
     "Install",
     {"Config/emote.cfg", "Config/user.cfg", "Screenshots/one.png"},
     {"Bin/CorvaneChat.exe", "Bin/CorvaneChatClient.exe", "Qorbs/CorvaneChat.qorb",
      "Config/CorvaneChat.cfg", "Qorbs", "Bin"},
     false,
     nullptr,
     OPERATION_FOLDER_INSTALLED,
     {nullptr, nullptr},
     OPERATION_SHORTCUTS_REMOVED},
    {"UninstallKeepsTheShortcutsOnNo",
     OPERATION_UNINSTALL,
     OPERATION_NO_SERVER,
     {{"question", OPERATION_CAPTION, UNINSTALL_QUESTION_TEXT, "yes"},
      {"question", OPERATION_CAPTION, SHORTCUT_QUESTION_TEXT, "no"},
      {"information", OPERATION_CAPTION, UNINSTALL_SUCCESS_TEXT, "ok"}},
     "Install",
     {"Config/emote.cfg", "Config/user.cfg", "Screenshots/one.png"},
     {"Bin/CorvaneChat.exe", "Bin/CorvaneChatClient.exe", "Qorbs/CorvaneChat.qorb",
      "Config/CorvaneChat.cfg", "Qorbs", "Bin"},
     false,
     nullptr,
     OPERATION_FOLDER_INSTALLED,
     {nullptr, nullptr},
     OPERATION_SHORTCUTS_KEPT},
    // The companion goes before the program file, which the running program
    // holds. Windows only: elsewhere a running program's file can be
    // deleted; UninstallOfAHeldFileFails is that platform's form of it.
    {"UninstallWhileTheChatProgramRunsFails",
     OPERATION_UNINSTALL,
     OPERATION_NO_SERVER,
     {{"question", OPERATION_CAPTION, UNINSTALL_QUESTION_TEXT, "yes"},
      {"error", OPERATION_CAPTION, UNINSTALL_FAILURE_TEXT, "ok"}},
     "Launch!",
     {"Bin/CorvaneChat.exe", "Config/emote.cfg", "Config/user.cfg", "Screenshots/one.png"},
     {"Bin/CorvaneChatClient.exe", "Qorbs/CorvaneChat.qorb", "Config/CorvaneChat.cfg"},
     false,
     nullptr,
     OPERATION_FOLDER_INSTALLED,
     {nullptr, nullptr},
     OPERATION_NO_SHORTCUTS,
     true,
     {},
     false,
     nullptr,
     OPERATION_WINDOWS_ONLY},
    {"LaunchStartsTheChatProgramAndEnds",
     OPERATION_LAUNCH,
     OPERATION_NO_SERVER,
     {},
     nullptr,
     {"Bin/CorvaneChat.exe", "Config/CorvaneChat.cfg"},
     {},
     false,
     nullptr,
     OPERATION_FOLDER_INSTALLED,
     {nullptr, nullptr},
     OPERATION_NO_SHORTCUTS,
     false,
     {},
     true},
    // The pass-on line names the base folder's tool (display form) and
    // passes the tail on as given, not re-quoted.
    {"LaunchWithABaseFolderNamesTheBaseFoldersTool",
     OPERATION_LAUNCH,
     OPERATION_NO_SERVER,
     {},
     nullptr,
     {"Bin/CorvaneChat.exe"},
     {},
     false,
     nullptr,
     OPERATION_FOLDER_INSTALLED,
     {nullptr, nullptr},
     OPERATION_NO_SHORTCUTS,
     false,
     {"-basedir", "D:/Tools/Chat", "extra arg"},
     true,
     "D:\\Tools\\Chat\\CorvaneChatBootstrap.exe"},
};

constexpr int OPERATION_CASE_COUNT = sizeof OPERATION_CASES / sizeof OPERATION_CASES[0];
