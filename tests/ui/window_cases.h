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
    const char* name;
    CaseFile files[CASE_FILES_MAX];
    const char* folder;  // the install folder
    const char* label;   // "Install" or "Launch!"
    bool install, repair_uninstall;
};

inline constexpr StateCase state_cases[] = {
    {"empty folder", {{"A/readme.txt", "x"}}, "A", "Install", true, false},
    {"folder not there yet", {}, "new/CorvaneChat", "Install", true, false},
    {"program file in Bin", {{"A/Bin/CorvaneChat.exe", "x"}}, "A", "Launch!", true, true},
    {"folder named like the program in Bin",
     {{"A/Bin/CorvaneChat.exe/inside.txt", "x"}},
     "A",
     "Launch!",
     true,
     true},
    {"program file beside Bin only", {{"A/CorvaneChat.exe", "x"}}, "A", "Install", true, false},
    {"host game in the folder", {{"G/vexamoria.exe", "x"}}, "G", "Install", false, false},
    {"host game in the parent", {{"G/vexamoria.exe", "x"}}, "G/Chat", "Install", false, false},
    {"host game two levels up", {{"G/vexamoria.exe", "x"}}, "G/Mods/Chat", "Install", true, false},
    {"host game beside an installed program",
     {{"G/vexamoria.exe", "x"}, {"G/Bin/CorvaneChat.exe", "x"}},
     "G",
     "Launch!",
     true,
     true},
};

// Run in order in one window: a row's files stay for the rows after it.
struct BrowseCase {
    const char* name;
    CaseFile files[CASE_FILES_MAX];
    const char* chosen;
    const char* final_folder;
    const char* label;
    bool install;
};

inline constexpr BrowseCase browse_cases[] = {
    {"plain folder gets CorvaneChat",
     {{"Games/x.txt", "x"}},
     "Games",
     "Games/CorvaneChat",
     "Install",
     true},
    {"folder not there gets CorvaneChat", {}, "Nowhere", "Nowhere/CorvaneChat", "Install", true},
    {"name CorvaneChat in any case is kept",
     {},
     "Games/corvanechat",
     "Games/corvanechat",
     "Install",
     true},
    {"installed folder is kept whatever its name",
     {{"Stuff/Bin/CorvaneChat.exe", "x"}},
     "Stuff",
     "Stuff",
     "Launch!",
     true},
    {"host game folder gives its child, Install off",
     {{"Host/vexamoria.exe", "x"}},
     "Host",
     "Host/CorvaneChat",
     "Install",
     false},
    // The root is a folder like any other, not "no folder".
    {"root gets CorvaneChat", {}, "/", "/CorvaneChat", "Install", true},
};
