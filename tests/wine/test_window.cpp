// The shipped Windows tool under Wine: its main window, the controls with
// their texts, places and states, the Install/Launch! rule, and the ways of
// closing the window that end the process with exit code 0.
#include <wchar.h>

#include "tests/wine/wine_fixture.h"

#ifndef CORVANE_WINE_TOOL
#error "CORVANE_WINE_TOOL names the tool's .exe (POSIX path)"
#endif

namespace {

std::wstring tool_path() {
    return wine_path(CORVANE_WINE_TOOL);
}

// Height of the welcome text word-wrapped to 464 pixels in the GUI font.
int welcome_height() {
    HDC dc = GetDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    RECT rect = {0, 0, 464, 0};
    DrawTextW(dc, WELCOME_TEXT, -1, &rect, DT_CALCRECT | DT_WORDBREAK);
    SelectObject(dc, previous);
    ReleaseDC(nullptr, dc);
    return rect.bottom;
}

std::string rect_text(const RECT& r) {
    return "x=" + std::to_string(r.left) + " y=" + std::to_string(r.top) +
           " w=" + std::to_string(r.right - r.left) + " h=" + std::to_string(r.bottom - r.top);
}

std::string rect_text(int x, int y, int w, int h) {
    RECT r = {x, y, x + w, y + h};
    return rect_text(r);
}

bool same_class(const std::wstring& actual, const wchar_t* expected) {
    return _wcsicmp(actual.c_str(), expected) == 0;
}

class WineWindowTest : public WineToolTest {
  protected:
    // Starts the tool on folder (quoted, as a user would pass it).
    void start_in(const std::wstring& folder) { start(tool_path(), L"-cvdir \"" + folder + L"\""); }

    // A folder holding the chat program file (or a folder of its name).
    std::wstring installed_folder(const std::wstring& name, bool as_folder) {
        std::wstring folder = temp.file(name);
        EXPECT_TRUE(win_make_folders(folder + L"\\Bin"));
        std::wstring program = folder + L"\\Bin\\CorvaneChat.exe";
        if (as_folder)
            EXPECT_TRUE(win_make_folders(program));
        else
            EXPECT_TRUE(win_write_file(program, "not really a program"));
        return folder;
    }
};

TEST_F(WineWindowTest, FreshFolderShowsTheWindowInTheInstallState) {
    std::wstring folder = temp.file(L"Corvane Chat");
    start_in(folder);
    HWND window = tool.window();

    EXPECT_EQ(window_text(window), L"Corvane Chat");
    EXPECT_TRUE(IsWindowVisible(window));
    DWORD style = (DWORD)GetWindowLongW(window, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU), (DWORD)(WS_CAPTION | WS_SYSMENU))
        << std::hex << style;
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_CHILD), 0u)
        << std::hex << style;
    EXPECT_NE((DWORD)GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_CLIENTEDGE, 0u);
    EXPECT_EQ(GetMenu(window), nullptr);
    EXPECT_EQ(GetParent(window), nullptr);

    // The client area: exactly 500 x 340, centred on the screen.
    RECT client;
    ASSERT_TRUE(GetClientRect(window, &client));
    EXPECT_EQ(client.right - client.left, 500);
    EXPECT_EQ(client.bottom - client.top, 340);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    EXPECT_EQ(origin.x, (GetSystemMetrics(SM_CXSCREEN) - 500) / 2);
    EXPECT_EQ(origin.y, (GetSystemMetrics(SM_CYSCREEN) - 340) / 2);

    struct Expected {
        const wchar_t* class_name;
        const wchar_t* text;  // null: not compared here
        DWORD style;
        int x, y, w, h;
        int id;
        bool enabled;
    };
    int h = welcome_height();
    ASSERT_GT(h, 0);
    int y = h + 36;
    const Expected table[] = {
        {L"Static", WELCOME_TEXT, 0x50000000, 18, 18, 464, h, 0, true},
        {L"Edit", folder.c_str(), 0x50810000, 18, y, 348, 20, ID_FOLDER_BOX, true},
        {L"Button", L"&Browse...", 0x50010000, 375, y - 1, 107, 22, ID_BROWSE, true},
        {L"Button", L"&Install", 0x50010000, 48, y + 38, 122, 30, ID_INSTALL, true},
        {L"Button", L"&Repair", 0x58010000, 188, y + 38, 122, 30, ID_REPAIR, false},
        {L"Button", L"&Uninstall", 0x58010000, 328, y + 38, 122, 30, ID_UNINSTALL, false},
        {L"Static", TIP_TEXT, 0x50000000, 18, 252, 414, 32, 0, true},
        {L"Static", nullptr, 0x50000003, 450, 252, 32, 32, 0, true},
        {L"msctls_progress32", nullptr, 0x50000000, 18, 302, 348, 20, 0, true},
        {L"Button", L"&Cancel", 0x58010000, 375, 301, 107, 22, ID_CANCEL, false},
    };
    std::vector<ControlInfo> controls = tool.controls();
    ASSERT_EQ(controls.size(), sizeof table / sizeof table[0]);
    for (size_t i = 0; i < controls.size(); i++) {
        const Expected& e = table[i];
        const ControlInfo& c = controls[i];
        SCOPED_TRACE("control " + std::to_string(i + 1) + " (" + narrow(c.class_name) + ")");
        EXPECT_TRUE(same_class(c.class_name, e.class_name)) << narrow(c.class_name);
        if (e.text != nullptr) {
            EXPECT_EQ(c.text, e.text);
        }
        // The window-style bits (high word) as created, WS_DISABLED
        // following the state; the low word where the table fixes it.
        DWORD expected_style = e.style & ~(DWORD)WS_DISABLED;
        if (!e.enabled)
            expected_style |= WS_DISABLED;
        DWORD style_bits = c.style;
        if (same_class(c.class_name, L"Edit")) {
            // The edit control takes WS_BORDER out of its style at creation
            // and draws the border inside its client area; nothing of it
            // is left to read from another process.
            style_bits |= WS_BORDER;
        }
        EXPECT_EQ(style_bits & 0xFFFF0000u, expected_style & 0xFFFF0000u) << std::hex << c.style;
        EXPECT_EQ(rect_text(c.rect), rect_text(e.x, e.y, e.w, e.h));
        EXPECT_EQ(GetDlgCtrlID(c.handle), e.id);
        EXPECT_EQ(c.enabled, e.enabled);
        EXPECT_TRUE(c.visible);
    }
    // (The controls' font cannot be read from here: Wine does not pass a
    // font handle between processes, WM_GETFONT answers null.)
    // The icon shows resource 102.
    EXPECT_EQ(controls[7].style & SS_TYPEMASK, (DWORD)SS_ICON);
    EXPECT_NE(SendMessageW(controls[7].handle, STM_GETICON, 0, 0), 0);
    EXPECT_EQ(controls[1].style & ES_AUTOHSCROLL, 0u);
    EXPECT_EQ(controls[0].style & 0xFFFF, 0u);  // plain left-aligned text
    EXPECT_EQ(controls[3].style & BS_TYPEMASK, (DWORD)BS_PUSHBUTTON);

    EXPECT_EQ(button_state(tool), expected_state(L"&Install", true, false, false, false));
    // Nothing is created in the install folder just by looking at it.
    EXPECT_FALSE(win_exists(folder));
    close_and_expect_exit();
}

TEST_F(WineWindowTest, ClosingTheWindowEndsTheProcessWithCodeZero) {
    start_in(temp.file(L"A"));
    HWND window = tool.window();
    ASSERT_TRUE(PostMessageW(window, WM_CLOSE, 0, 0));
    EXPECT_EQ(tool.wait_exit(EXIT_TIMEOUT_MS), 0);
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(WineWindowTest, SystemMenuCloseEndsTheProcessWithCodeZero) {
    start_in(temp.file(L"A"));
    ASSERT_TRUE(PostMessageW(tool.window(), WM_SYSCOMMAND, SC_CLOSE, 0));
    EXPECT_EQ(tool.wait_exit(EXIT_TIMEOUT_MS), 0);
}

TEST_F(WineWindowTest, CancelCommandEndsTheProcessWithCodeZero) {
    start_in(temp.file(L"A"));
    post_command(tool, ID_CANCEL, BN_CLICKED);
    EXPECT_EQ(tool.wait_exit(EXIT_TIMEOUT_MS), 0);
}

TEST_F(WineWindowTest, ProgramFileInBinShowsLaunch) {
    std::wstring folder = installed_folder(L"Installed", false);
    start_in(folder);
    EXPECT_EQ(button_state(tool), expected_state(L"Launch!", true, true, true, false));
    EXPECT_EQ(tool.control(ID_FOLDER_BOX).text, folder);
    close_and_expect_exit();
}

TEST_F(WineWindowTest, ProgramFileLeftAsOldIsRecoveredBeforeTheFirstState) {
    // An update's swap cut off between its two renames leaves only ".old".
    std::wstring folder = temp.file(L"Swapped");
    ASSERT_TRUE(win_make_folders(folder + L"\\Bin"));
    std::wstring program = folder + L"\\Bin\\CorvaneChat.exe";
    ASSERT_TRUE(win_write_file(program + L".old", "the program before the update"));
    start_in(folder);
    // The very first state already counts the recovered program.
    EXPECT_EQ(button_state(tool), expected_state(L"Launch!", true, true, true, false));
    std::string text;
    EXPECT_TRUE(win_read_file(program, &text));
    EXPECT_EQ(text, "the program before the update");
    EXPECT_FALSE(win_exists(program + L".old"));
    close_and_expect_exit();
}

// The Wine prefix's own drive C: serves as the drive root; what the test
// puts there goes again at its end, pass or fail.
struct DriveRootProgram {
    std::wstring bin = L"C:\\Bin";
    std::wstring program = bin + L"\\CorvaneChat.exe";
    bool made_bin = false;
    ~DriveRootProgram() {
        DeleteFileW(program.c_str());
        if (made_bin)
            RemoveDirectoryW(bin.c_str());
    }
};

TEST_F(WineWindowTest, DriveRootShowsWithItsBackslashAndReadsBackTheSame) {
    DriveRootProgram root;
    ASSERT_FALSE(win_exists(root.program)) << "C:\\Bin\\CorvaneChat.exe is not the test's";
    root.made_bin = !win_exists(root.bin);
    ASSERT_TRUE(win_make_folders(root.bin));
    ASSERT_TRUE(win_write_file(root.program, "a program"));
    start(tool_path(), L"-cvdir C:\\");
    EXPECT_EQ(tool.control(ID_FOLDER_BOX).text, L"C:\\");
    EXPECT_EQ(button_state(tool), expected_state(L"Launch!", true, true, true, false));
    // Leaving the box reads its text back as the install folder.
    post_command(tool, ID_FOLDER_BOX, EN_KILLFOCUS);
    EXPECT_FALSE(state_becomes(expected_state(L"&Install", true, false, false, false), 2000));
    EXPECT_EQ(button_state(tool), expected_state(L"Launch!", true, true, true, false));
    close_and_expect_exit();
}

TEST_F(WineWindowTest, FolderNamedLikeTheProgramFileAlsoCountsAsInstalled) {
    start_in(installed_folder(L"Installed", true));
    EXPECT_EQ(button_state(tool), expected_state(L"Launch!", true, true, true, false));
    close_and_expect_exit();
}

TEST_F(WineWindowTest, HostGameInTheFolderOrItsParentDisablesInstall) {
    std::wstring game = temp.file(L"Game");
    ASSERT_TRUE(win_make_folders(game + L"\\Chat\\Deeper"));
    ASSERT_TRUE(win_write_file(game + L"\\vexamoria.exe", "game"));

    start_in(game);
    EXPECT_EQ(button_state(tool), expected_state(L"&Install", false, false, false, false));

    // Typing a folder changes nothing until the box loses focus; then the
    // rule runs on the new folder: a child of the game's folder stays off,
    // a grandchild is allowed.
    HWND box = tool.control(ID_FOLDER_BOX).handle;
    std::wstring deeper = game + L"\\Chat\\Deeper";
    ASSERT_TRUE(set_window_text(box, deeper));
    post_command(tool, ID_FOLDER_BOX, EN_CHANGE);
    Sleep(500);
    EXPECT_EQ(button_state(tool), expected_state(L"&Install", false, false, false, false));
    post_command(tool, ID_FOLDER_BOX, EN_KILLFOCUS);
    EXPECT_TRUE(state_becomes(expected_state(L"&Install", true, false, false, false)));

    std::wstring child = game + L"\\Chat";
    ASSERT_TRUE(set_window_text(box, child));
    post_command(tool, ID_FOLDER_BOX, EN_KILLFOCUS);
    EXPECT_TRUE(state_becomes(expected_state(L"&Install", false, false, false, false)));
    close_and_expect_exit();
}

TEST_F(WineWindowTest, LeavingTheFolderBoxSwitchesBetweenInstallAndLaunch) {
    std::wstring fresh = temp.file(L"Fresh");
    std::wstring installed = installed_folder(L"Installed", false);
    start_in(fresh);
    EXPECT_EQ(button_state(tool), expected_state(L"&Install", true, false, false, false));
    HWND box = tool.control(ID_FOLDER_BOX).handle;

    ASSERT_TRUE(set_window_text(box, installed));
    post_command(tool, ID_FOLDER_BOX, EN_KILLFOCUS);
    EXPECT_TRUE(state_becomes(expected_state(L"Launch!", true, true, true, false)));

    // An empty box keeps the folder in force: still Launch!, box empty.
    ASSERT_TRUE(set_window_text(box, L""));
    post_command(tool, ID_FOLDER_BOX, EN_KILLFOCUS);
    Sleep(500);
    EXPECT_EQ(button_state(tool), expected_state(L"Launch!", true, true, true, false));
    EXPECT_EQ(tool.control(ID_FOLDER_BOX).text, L"");

    // Forward slashes and ".." are normalised before the rule runs.
    std::wstring messy = temp.path() + L"/Installed/../Fresh";
    ASSERT_TRUE(set_window_text(box, messy));
    post_command(tool, ID_FOLDER_BOX, EN_KILLFOCUS);
    EXPECT_TRUE(state_becomes(expected_state(L"&Install", true, false, false, false)));
    close_and_expect_exit();
}

}  // namespace
