// The window's rules as a user meets them: what the install folder holds
// and the buttons that follows, and what Browse makes of a chosen folder.
// One table each, run by the console driver (ui_tool_test) and by the Win32
// driver on the Windows tool under Wine. Paths are "/"-separated and under
// the case's own folder, except a chosen "/", which stands for the root (a
// drive root on Windows).
#pragma once

struct CaseFile {
    const char* path;  // null: no more files
    const char* bytes;
};

constexpr int CASE_FILES_MAX = 2;

struct StateCase {
    const char* name = nullptr;
    CaseFile files[CASE_FILES_MAX] = {};
    const char* folder = nullptr;  // the install folder
    const char* label = nullptr;   // "Install" or "Launch!"
    bool install = false, repair_uninstall = false;
};

inline constexpr StateCase state_cases[] = {
    {.name = "empty folder",
     .files = {{"A/readme.txt", "x"}},
     .folder = "A",
     .label = "Install",
     .install = true},
    {.name = "folder not there yet",
     .folder = "new/CorvaneChat",
     .label = "Install",
     .install = true},
    {.name = "program file in Bin",
     .files = {{"A/Bin/CorvaneChat.exe", "x"}},
     .folder = "A",
     .label = "Launch!",
     .install = true,
     .repair_uninstall = true},
    {.name = "folder named like the program in Bin",
     .files = {{"A/Bin/CorvaneChat.exe/inside.txt", "x"}},
     .folder = "A",
     .label = "Launch!",
     .install = true,
     .repair_uninstall = true},
    {.name = "program file beside Bin only",
     .files = {{"A/CorvaneChat.exe", "x"}},
     .folder = "A",
     .label = "Install",
     .install = true},
    {.name = "host game in the folder",
     .files = {{"G/vexamoria.exe", "x"}},
     .folder = "G",
     .label = "Install"},
    {.name = "host game in the parent",
     .files = {{"G/vexamoria.exe", "x"}},
     .folder = "G/Chat",
     .label = "Install"},
    {.name = "host game two levels up",
     .files = {{"G/vexamoria.exe", "x"}},
     .folder = "G/Mods/Chat",
     .label = "Install",
     .install = true},
    {.name = "host game beside an installed program",
     .files = {{"G/vexamoria.exe", "x"}, {"G/Bin/CorvaneChat.exe", "x"}},
     .folder = "G",
     .label = "Launch!",
     .install = true,
     .repair_uninstall = true},
};

// Run in order in one window: a row's files stay for the rows after it.
struct BrowseCase {
    const char* name = nullptr;
    CaseFile files[CASE_FILES_MAX] = {};
    const char* chosen = nullptr;
    const char* final_folder = nullptr;
    const char* label = nullptr;
    bool install = false;
};

inline constexpr BrowseCase browse_cases[] = {
    {.name = "plain folder gets CorvaneChat",
     .files = {{"Games/x.txt", "x"}},
     .chosen = "Games",
     .final_folder = "Games/CorvaneChat",
     .label = "Install",
     .install = true},
    {.name = "folder not there gets CorvaneChat",
     .chosen = "Nowhere",
     .final_folder = "Nowhere/CorvaneChat",
     .label = "Install",
     .install = true},
    {.name = "name CorvaneChat in any case is kept",
     .chosen = "Games/corvanechat",
     .final_folder = "Games/corvanechat",
     .label = "Install",
     .install = true},
    {.name = "installed folder is kept whatever its name",
     .files = {{"Stuff/Bin/CorvaneChat.exe", "x"}},
     .chosen = "Stuff",
     .final_folder = "Stuff",
     .label = "Launch!",
     .install = true},
    {.name = "host game folder gives its child, Install off",
     .files = {{"Host/vexamoria.exe", "x"}},
     .chosen = "Host",
     .final_folder = "Host/CorvaneChat",
     .label = "Install"},
    // The root is a folder like any other, not "no folder".
    {.name = "root gets CorvaneChat",
     .chosen = "/",
     .final_folder = "/CorvaneChat",
     .label = "Install",
     .install = true},
};
