// Repair and Uninstall as a user meets them: the install folder before, the
// boxes shown with the answer given to each, the main button's label and
// the folder afterwards. One table, run by the console driver (ui_tool_test)
// and by the Win32 driver on the Windows tool under Wine.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum OperationAction { OPERATION_REPAIR, OPERATION_UNINSTALL };

// What the update server offers: no server at all, a server without a
// release (a download fails), or the signed test release below.
enum OperationServer { OPERATION_NO_SERVER, OPERATION_EMPTY_SERVER, OPERATION_RELEASE };
// The released program: test_program_bytes(length, seed).
constexpr size_t OPERATION_RELEASE_LENGTH = 30000;
constexpr uint32_t OPERATION_RELEASE_SEED = 3;

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

constexpr int OPERATION_MAX_BOXES = 4;
constexpr int OPERATION_MAX_FILES = 12;

struct OperationCase {
    const char* name;
    OperationAction action;
    OperationServer server;
    // The boxes in the order shown; no other box may appear. Ends at a
    // null kind.
    OperationBox boxes[OPERATION_MAX_BOXES];
    const char* label_after;  // the main button's label, without '&'
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
};

// The installation every case starts from: path and contents.
struct OperationFile {
    const char* path;
    const char* contents;
};

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
};

constexpr int OPERATION_CASE_COUNT = sizeof OPERATION_CASES / sizeof OPERATION_CASES[0];
