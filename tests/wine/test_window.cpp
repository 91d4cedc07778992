// The shipped Windows tool under Wine: its main window, the controls with
// their texts, places and states, the layout at every display scale, the
// Install/Launch! rule, Browse with either folder picker, Tab order, and the
// ways of closing the window that end the process with exit code 0.
#include <string.h>
#include <wchar.h>

#include <algorithm>

#include "tests/ui/window_cases.h"
#include "tests/wine/wine_fixture.h"

#ifndef CORVANE_WINE_TOOL
#error "CORVANE_WINE_TOOL names the tool's .exe (POSIX path)"
#endif

namespace {

std::wstring tool_path() {
    return wine_path(CORVANE_WINE_TOOL);
}

// Lengths of the table at 96 DPI scaled to dpi, as the system rounds them.
int scaled(int length, int dpi) {
    return MulDiv(length, dpi, 96);
}

// The dots per inch this test process was started with.
int own_dpi() {
    HDC dc = GetDC(nullptr);
    int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
    return dpi;
}

// Height of the welcome text word-wrapped to the scaled 464 pixels in the
// GUI font for dpi (the stock font at this process's own scale, else that
// font's height scaled, as the system makes its stock font at a scale).
int welcome_height(int dpi) {
    HFONT stock = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    HFONT font = stock;
    if (dpi != own_dpi()) {
        LOGFONTW description = {};
        GetObjectW(stock, sizeof description, &description);
        description.lfHeight = MulDiv(description.lfHeight, dpi, own_dpi());
        font = CreateFontIndirectW(&description);
    }
    HDC dc = GetDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, font);
    RECT rect = {0, 0, scaled(464, dpi), 0};
    DrawTextW(dc, WELCOME_TEXT, -1, &rect, DT_CALCRECT | DT_WORDBREAK);
    SelectObject(dc, previous);
    ReleaseDC(nullptr, dc);
    if (font != stock) {
        DeleteObject(font);
    }
    return rect.bottom;
}

std::string rect_text(const RECT& r) {
    return "x=" + std::to_string(r.left) + " y=" + std::to_string(r.top) +
           " w=" + std::to_string(r.right - r.left) + " h=" + std::to_string(r.bottom - r.top);
}

// The control table's places at 96 DPI. Rows under the welcome text count
// y from Y = H + 36; the welcome text is as tall as it measures (h unused).
struct TablePlace {
    int x, y, w, h;
    bool from_text;
};
const TablePlace TABLE_PLACES[] = {
    {18, 18, 464, 0, false},    {18, 0, 348, 20, true},    {375, -1, 107, 22, true},
    {48, 38, 122, 30, true},    {188, 38, 122, 30, true},  {328, 38, 122, 30, true},
    {18, 252, 414, 32, false},  {450, 252, 32, 32, false}, {18, 302, 348, 20, false},
    {375, 301, 107, 22, false},
};
constexpr size_t CONTROL_COUNT = sizeof TABLE_PLACES / sizeof TABLE_PLACES[0];
// The welcome text's height the fixed rows leave room for at 96 DPI (ten
// lines of the 8-point GUI font, 18 pixels above the tip).
constexpr int WELCOME_ROOM = 130;

struct ExpectedLayout {
    int client_width;
    int client_height;
    RECT rects[CONTROL_COUNT];
};

// The table at dpi for a welcome text h pixels high: every length scaled,
// and the fixed rows under the text, like the client area's bottom, pushed
// down by as much as h is taller than the room the table leaves at that scale.
ExpectedLayout expected_layout(int dpi, int h) {
    int extra = std::max(0, h - scaled(WELCOME_ROOM, dpi));
    ExpectedLayout layout = {scaled(500, dpi), scaled(340, dpi) + extra, {}};
    for (size_t i = 0; i < CONTROL_COUNT; i++) {
        const TablePlace& p = TABLE_PLACES[i];
        int x = scaled(p.x, dpi);
        int y = p.from_text ? h + scaled(36 + p.y, dpi) : scaled(p.y, dpi) + (i == 0 ? 0 : extra);
        int height = i == 0 ? h : scaled(p.h, dpi);
        layout.rects[i] = {x, y, x + scaled(p.w, dpi), y + height};
    }
    return layout;
}

// The window's client area and controls against the table at dpi, each
// length within tolerance pixels; every control inside the client area and
// none overlapping another.
void expect_layout(HWND window, const std::vector<ControlInfo>& controls, int dpi, int h,
                   int tolerance) {
    ExpectedLayout expected = expected_layout(dpi, h);
    RECT client = {};
    ASSERT_TRUE(GetClientRect(window, &client));
    EXPECT_NEAR(client.right, expected.client_width, tolerance);
    EXPECT_NEAR(client.bottom, expected.client_height, tolerance);
    ASSERT_EQ(controls.size(), CONTROL_COUNT);
    for (size_t i = 0; i < CONTROL_COUNT; i++) {
        const RECT& a = controls[i].rect;
        const RECT& e = expected.rects[i];
        SCOPED_TRACE("control " + std::to_string(i + 1) + " (" + narrow(controls[i].class_name) +
                     ") at " + rect_text(a));
        if (tolerance == 0) {
            EXPECT_EQ(rect_text(a), rect_text(e));
        } else {
            EXPECT_NEAR(a.left, e.left, tolerance) << rect_text(e);
            EXPECT_NEAR(a.top, e.top, tolerance) << rect_text(e);
            EXPECT_NEAR(a.right - a.left, e.right - e.left, tolerance) << rect_text(e);
            EXPECT_NEAR(a.bottom - a.top, e.bottom - e.top, tolerance) << rect_text(e);
        }
        EXPECT_TRUE(a.left >= 0 && a.top >= 0 && a.right <= client.right &&
                    a.bottom <= client.bottom)
            << "outside the client area " << rect_text(client);
        for (size_t j = i + 1; j < CONTROL_COUNT; j++) {
            RECT both;
            EXPECT_FALSE(IntersectRect(&both, &a, &controls[j].rect))
                << "overlaps control " << j + 1 << " at " << rect_text(controls[j].rect);
        }
    }
}

bool same_class(const std::wstring& actual, const wchar_t* expected) {
    return _wcsicmp(actual.c_str(), expected) == 0;
}

class WineWindowTest : public WineToolTest {
  protected:
    // Starts the tool on folder (quoted, as a user would pass it).
    void start_in(const std::wstring& folder) { start(tool_path(), L"-cvdir \"" + folder + L"\""); }

    // A folder holding the chat program file.
    std::wstring installed_folder(const std::wstring& name) {
        std::wstring folder = temp.file(name);
        EXPECT_TRUE(win_make_folders(folder + L"\\Bin"));
        EXPECT_TRUE(win_write_file(folder + L"\\Bin\\CorvaneChat.exe", "not really a program"));
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
        int id;
        bool enabled;
    };
    const Expected table[] = {
        {L"Static", WELCOME_TEXT, 0x50000000, 0, true},
        {L"Edit", folder.c_str(), 0x50810000, ID_FOLDER_BOX, true},
        {L"Button", L"&Browse...", 0x50010000, ID_BROWSE, true},
        {L"Button", L"&Install", 0x50010000, ID_INSTALL, true},
        {L"Button", L"&Repair", 0x58010000, ID_REPAIR, false},
        {L"Button", L"&Uninstall", 0x58010000, ID_UNINSTALL, false},
        {L"Static", TIP_TEXT, 0x50000000, 0, true},
        {L"Static", nullptr, 0x50000003, 0, true},
        {L"msctls_progress32", nullptr, 0x50000000, 0, true},
        {L"Button", L"&Cancel", 0x58010000, ID_CANCEL, false},
    };
    std::vector<ControlInfo> controls = tool.controls();
    ASSERT_EQ(controls.size(), sizeof table / sizeof table[0]);
    // Places: the table's own pixels at this scale (96 DPI here).
    int h = welcome_height(own_dpi());
    ASSERT_GT(h, 0);
    expect_layout(window, controls, own_dpi(), h, 0);
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
        if (!e.enabled) {
            expected_style |= WS_DISABLED;
        }
        DWORD style_bits = c.style;
        if (same_class(c.class_name, L"Edit")) {
            // The edit control takes WS_BORDER out of its style at creation
            // and draws the border inside its client area; nothing of it
            // is left to read from another process.
            style_bits |= WS_BORDER;
        }
        EXPECT_EQ(style_bits & 0xFFFF0000u, expected_style & 0xFFFF0000u) << std::hex << c.style;
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

// Tells the window it is now on a display of dpi, as the system does when
// it moves to another monitor: wparam the new scale, lparam the suggested
// outer rectangle, which lives in the tool's own memory.
bool send_dpi_changed(const WinTool& tool, int dpi, const RECT& suggested) {
    void* remote =
        VirtualAllocEx(tool.process(), nullptr, sizeof suggested, MEM_COMMIT, PAGE_READWRITE);
    if (remote == nullptr) {
        return false;
    }
    DWORD_PTR result = 0;
    bool sent = WriteProcessMemory(tool.process(), remote, &suggested, sizeof suggested, nullptr) &&
                SendMessageTimeoutW(tool.window(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                                    (LPARAM)remote, SMTO_ABORTIFHUNG, 10000, &result) != 0;
    VirtualFreeEx(tool.process(), remote, 0, MEM_RELEASE);
    return sent;
}

// The place the system suggests on a move from from_dpi to to_dpi: the
// same corner, the outer size scaled.
RECT suggested_rect(HWND window, int from_dpi, int to_dpi) {
    RECT outer = {};
    GetWindowRect(window, &outer);
    return {outer.left, outer.top, outer.left + MulDiv(outer.right - outer.left, to_dpi, from_dpi),
            outer.top + MulDiv(outer.bottom - outer.top, to_dpi, from_dpi)};
}

// The window and its icons at the scale the tool started on.
void expect_scaled_window(const WinTool& tool, int dpi) {
    HWND window = tool.window();
    std::vector<ControlInfo> controls = tool.controls();
    int h = welcome_height(dpi);
    ASSERT_GT(h, 0);
    expect_layout(window, controls, dpi, h, dpi == 96 ? 0 : 2);
    // Centred on the screen at its scaled size.
    RECT client = {};
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    EXPECT_EQ(origin.x, (GetSystemMetrics(SM_CXSCREEN) - client.right) / 2);
    EXPECT_EQ(origin.y, (GetSystemMetrics(SM_CYSCREEN) - client.bottom) / 2);
    // The picture is there (its image's size cannot be read from another
    // process, nor the window's own icons under Wine; the resources hold
    // every scale's size).
    ASSERT_EQ(controls.size(), CONTROL_COUNT);
    EXPECT_NE(SendMessageW(controls[7].handle, STM_GETICON, 0, 0), 0);
}

// The scales most displays run at, each in one start of the tool with the
// prefix set to it; at 96 the window is also moved to a 144-DPI display and
// back, without a new start.
const int DISPLAY_DPIS[] = {96, 120, 144, 192};

TEST_F(WineWindowTest, LayoutScalesWithTheDisplay) {
    for (int dpi : DISPLAY_DPIS) {
        SCOPED_TRACE(std::to_string(dpi) + " DPI");
        WinTool shown;
        {
            // Only the start reads the scale; later tests get the prefix back.
            WinDisplayDpi display(dpi);
            ASSERT_TRUE(display.ok());
            std::string error;
            ASSERT_TRUE(shown.start(tool_path(), L"-cvdir \"" + temp.file(L"A") + L"\"",
                                    temp.path(), &error))
                << error;
            ASSERT_NE(shown.find_main_window(WINDOW_TIMEOUT_MS), nullptr);
        }
        expect_scaled_window(shown, dpi);
        if (dpi == 96) {
            RECT to_144 = suggested_rect(shown.window(), 96, 144);
            ASSERT_TRUE(send_dpi_changed(shown, 144, to_144));
            {
                SCOPED_TRACE("moved to 144 DPI");
                expect_layout(shown.window(), shown.controls(), 144, welcome_height(144), 2);
                RECT outer = {};
                GetWindowRect(shown.window(), &outer);
                EXPECT_EQ(outer.left, to_144.left);
                EXPECT_EQ(outer.top, to_144.top);
            }
            ASSERT_TRUE(send_dpi_changed(shown, 96, suggested_rect(shown.window(), 144, 96)));
            SCOPED_TRACE("moved back to 96 DPI");
            expect_layout(shown.window(), shown.controls(), 96, welcome_height(96), 0);
        }
        ASSERT_TRUE(PostMessageW(shown.window(), WM_CLOSE, 0, 0));
        EXPECT_EQ(shown.wait_exit(EXIT_TIMEOUT_MS), 0);
    }
}

// The size of the image the system picks from an icon resource of exe for
// size x size pixels, or 0 when it has none.
int picked_icon_size(HMODULE exe, int resource, int size) {
    HRSRC group = FindResourceW(exe, MAKEINTRESOURCEW(resource), MAKEINTRESOURCEW(14));
    BYTE* directory =
        group != nullptr ? static_cast<BYTE*>(LockResource(LoadResource(exe, group))) : nullptr;
    int id = directory != nullptr
                 ? LookupIconIdFromDirectoryEx(directory, TRUE, size, size, LR_DEFAULTCOLOR)
                 : 0;
    HRSRC image = id != 0 ? FindResourceW(exe, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(3)) : nullptr;
    const BITMAPINFOHEADER* header =
        image != nullptr
            ? static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(exe, image)))
            : nullptr;
    return header != nullptr ? header->biWidth : 0;
}

// What the system reads before the first window: the display-scale
// awareness (per monitor, version 2 first, with the older fallback) and
// every supported Windows from Vista to 10 and 11; and icons with an image
// of each scale's own size, so none is stretched.
TEST(WineResources, ManifestAndIconsServeEveryScale) {
    HMODULE exe = LoadLibraryExW(tool_path().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(exe, nullptr);
    HRSRC found = FindResourceW(exe, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    const char* bytes = found != nullptr
                            ? static_cast<const char*>(LockResource(LoadResource(exe, found)))
                            : nullptr;
    std::string manifest = bytes != nullptr ? std::string(bytes, SizeofResource(exe, found)) : "";
    const char* const declarations[] = {
        "<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">"
        "PerMonitorV2, PerMonitor</dpiAwareness>",
        "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm"
        "</dpiAware>",
        "<supportedOS Id=\"{e2011457-1546-43c5-a5fe-008deee3d3f0}\"/>",  // Vista
        "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>",  // 7
        "<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>",  // 8
        "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>",  // 8.1
        "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>",  // 10 and 11
        "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>",
    };
    for (const char* declaration : declarations) {
        EXPECT_NE(manifest.find(declaration), std::string::npos) << declaration;
    }
    for (int dpi : DISPLAY_DPIS) {
        SCOPED_TRACE(std::to_string(dpi) + " DPI");
        EXPECT_EQ(picked_icon_size(exe, 101, scaled(32, dpi)), scaled(32, dpi));  // title bar
        EXPECT_EQ(picked_icon_size(exe, 101, scaled(16, dpi)), scaled(16, dpi));  // small
        EXPECT_EQ(picked_icon_size(exe, 102, scaled(32, dpi)), scaled(32, dpi));  // picture
    }
    FreeLibrary(exe);
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
        if (made_bin) {
            RemoveDirectoryW(bin.c_str());
        }
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

TEST_F(WineWindowTest, LeavingTheFolderBoxSwitchesBetweenInstallAndLaunch) {
    std::wstring fresh = temp.file(L"Fresh");
    std::wstring installed = installed_folder(L"Installed");
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

// ---- The shared window tables, on the exe ---------------------------------

const wchar_t PICKER_TITLE[] = L"Choose Corvane Chat Installation Folder";

// A table path in Windows form: under root, except that "/" is the drive
// root C:\ and "/X" is C:\X.
std::wstring case_path(const std::wstring& root, const char* path) {
    if (strcmp(path, "/") == 0) {
        return L"C:\\";
    }
    std::wstring out = path[0] == '/' ? std::wstring(L"C:") : root + L"\\";
    out += widen(path);
    for (wchar_t& c : out) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return out;
}

bool make_case_files(const std::wstring& root, const CaseFile (&files)[CASE_FILES_MAX]) {
    for (const CaseFile& f : files) {
        if (f.path == nullptr) {
            break;
        }
        std::wstring path = case_path(root, f.path);
        if (!win_make_folders(path.substr(0, path.rfind(L'\\'))) ||
            !win_write_file(path, f.bytes)) {
            return false;
        }
    }
    return true;
}

std::string case_state(const char* label, bool install, bool repair_uninstall) {
    bool launch = strcmp(label, "Launch!") == 0;
    return expected_state(launch ? L"Launch!" : L"&Install", install, repair_uninstall,
                          repair_uninstall, false);
}

// The children of a window whose class is class_name, in Z order.
std::vector<HWND> children_of_class(HWND parent, const wchar_t* class_name) {
    std::vector<HWND> found;
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (_wcsicmp(class_of(child).c_str(), class_name) == 0) {
            found.push_back(child);
        }
    }
    return found;
}

enum PickerKind { PICKER_NONE, PICKER_FILE_DIALOG, PICKER_FOLDER_BROWSER };

// The modern dialog carries the title as its caption; the folder browser
// shows it as a text above its folder tree.
PickerKind picker_kind(HWND dialog) {
    if (dialog == nullptr) {
        return PICKER_NONE;
    }
    if (window_text(dialog) == PICKER_TITLE) {
        return PICKER_FILE_DIALOG;
    }
    bool tree = !children_of_class(dialog, L"SysTreeView32").empty();
    for (HWND text : children_of_class(dialog, L"Static")) {
        if (tree && window_text(text) == PICKER_TITLE) {
            return PICKER_FOLDER_BROWSER;
        }
    }
    return PICKER_NONE;
}

bool gone(HWND dialog) {
    return wait_until([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, 10000);
}

class WineBrowseTest : public WineWindowTest {
  protected:
    // Presses Browse and returns the picker that opens, or null.
    HWND open_picker() {
        press(tool, ID_BROWSE);
        return tool.find_dialog(WINDOW_TIMEOUT_MS);
    }

    // The modern dialog in folder mode: the folder's full path typed as the
    // name, then Open.
    static bool choose_in_file_dialog(HWND dialog, const std::wstring& folder) {
        std::vector<HWND> edits = children_of_class(dialog, L"Edit");
        if (edits.empty() || !set_window_text(edits[0], folder)) {
            return false;
        }
        return PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0) && gone(dialog);
    }

    // Opens the folder browser and waits for it to show the preset folder.
    // Wine's browser sometimes stops short of a deep preset (it shows a
    // folder on the way); a fresh browser then gets there, so up to three
    // are tried. Null when none did.
    HWND open_browser_at(const std::wstring& preset) {
        std::wstring seen;
        for (int attempt = 0; attempt < 3; attempt++) {
            HWND dialog = open_picker();
            if (picker_kind(dialog) != PICKER_FOLDER_BROWSER) {
                ADD_FAILURE() << "no folder browser";
                return nullptr;
            }
            std::vector<HWND> edits = children_of_class(dialog, L"Edit");
            if (!edits.empty() &&
                wait_until([&] { return (seen = window_text(edits[0])) == preset; }, 3000)) {
                return dialog;
            }
            if (!cancel_picker(dialog)) {
                break;
            }
        }
        ADD_FAILURE() << "the browser starts at " << narrow(seen);
        return nullptr;
    }

    // The browser takes its choice from its tree only: walk the selection up
    // until it names the folder, then OK.
    static bool choose_in_folder_browser(HWND dialog, const std::wstring& name) {
        std::vector<HWND> trees = children_of_class(dialog, L"SysTreeView32");
        std::vector<HWND> edits = children_of_class(dialog, L"Edit");
        if (trees.empty() || edits.empty()) {
            return false;
        }
        for (int step = 0; window_text(edits[0]) != name; step++) {
            if (step == 10) {
                return false;
            }
            std::wstring before = window_text(edits[0]);
            PostMessageW(trees[0], WM_KEYDOWN, VK_UP, 0);
            PostMessageW(trees[0], WM_KEYUP, VK_UP, 0);
            wait_until([&] { return window_text(edits[0]) != before; }, 2000);
        }
        return PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0) && gone(dialog);
    }

    static bool cancel_picker(HWND dialog) {
        return PostMessageW(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0) && gone(dialog);
    }

    std::wstring folder_box() { return tool.control(ID_FOLDER_BOX).text; }
};

// Sends the folder box's notice code as the box would; the tool has handled
// it when this returns.
bool send_box_notice(const WinTool& tool, int code) {
    HWND box = GetDlgItem(tool.window(), ID_FOLDER_BOX);
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(tool.window(), WM_COMMAND, MAKEWPARAM(ID_FOLDER_BOX, code),
                               (LPARAM)box, SMTO_ABORTIFHUNG, 10000, &result) != 0;
}

// Types into the folder box and moves the focus away.
bool type_and_leave(const WinTool& tool, const std::wstring& text) {
    return set_window_text(GetDlgItem(tool.window(), ID_FOLDER_BOX), text) &&
           send_box_notice(tool, EN_KILLFOCUS);
}

TEST_F(WineWindowTest, StateRulesFollowTheFolder) {
    // One window for the whole table: each row's folder is typed into the
    // box, which changes nothing until the box is left.
    start_in(temp.file(L"start"));
    int row = 0;
    for (const StateCase& c : state_cases) {
        SCOPED_TRACE(c.name);
        std::wstring root = temp.file(L"case" + std::to_wstring(++row));
        ASSERT_TRUE(win_make_folders(root));
        ASSERT_TRUE(make_case_files(root, c.files));
        std::string before = button_state(tool);
        ASSERT_TRUE(
            set_window_text(GetDlgItem(tool.window(), ID_FOLDER_BOX), case_path(root, c.folder)));
        ASSERT_TRUE(send_box_notice(tool, EN_CHANGE));
        EXPECT_EQ(button_state(tool), before);
        ASSERT_TRUE(send_box_notice(tool, EN_KILLFOCUS));
        EXPECT_EQ(button_state(tool), case_state(c.label, c.install, c.repair_uninstall));
    }
    close_and_expect_exit();
}

TEST_F(WineBrowseTest, FileDialogDecidesTheFinalFolder) {
    std::wstring start = temp.file(L"start");
    ASSERT_TRUE(win_make_folders(start));
    start_in(start);
    // Whatever C:\ holds already must not decide the root's row.
    ASSERT_FALSE(win_exists(L"C:\\Bin\\CorvaneChat.exe"));
    ASSERT_FALSE(win_exists(L"C:\\vexamoria.exe"));
    for (const BrowseCase& c : browse_cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(make_case_files(temp.path(), c.files));
        std::wstring chosen = case_path(temp.path(), c.chosen);
        // A picker can only pick a folder that is there.
        ASSERT_TRUE(win_make_folders(chosen));
        HWND dialog = open_picker();
        ASSERT_EQ(picker_kind(dialog), PICKER_FILE_DIALOG);
        ASSERT_TRUE(choose_in_file_dialog(dialog, chosen));
        std::wstring final_folder = case_path(temp.path(), c.final_folder);
        EXPECT_TRUE(wait_until([&] { return folder_box() == final_folder; }, STATE_TIMEOUT_MS))
            << narrow(folder_box());
        EXPECT_TRUE(state_becomes(case_state(c.label, c.install, c.label[0] == 'L')));
        // What Browse shows reads back as the same folder.
        ASSERT_TRUE(type_and_leave(tool, folder_box()));
        EXPECT_EQ(button_state(tool), case_state(c.label, c.install, c.label[0] == 'L'));
    }
    // A cancelled picker changes nothing.
    std::wstring before = folder_box();
    std::string state = button_state(tool);
    HWND dialog = open_picker();
    ASSERT_EQ(picker_kind(dialog), PICKER_FILE_DIALOG);
    ASSERT_TRUE(cancel_picker(dialog));
    Sleep(300);
    EXPECT_EQ(folder_box(), before);
    EXPECT_EQ(button_state(tool), state);
    close_and_expect_exit();
}

// The tool under a name of its own, for which Wine is told not to load the
// common dialogs: the modern dialog cannot be created, so the tool falls back
// to the folder browser. The setting goes again at the end, pass or fail.
struct WithoutFileDialog {
    std::wstring name = L"corvane-fallback-" + std::to_wstring(GetCurrentProcessId()) + L".exe";
    std::wstring key = L"Software\\Wine\\AppDefaults\\" + name;
    bool set() {
        HKEY overrides = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, (key + L"\\DllOverrides").c_str(), 0, nullptr, 0,
                            KEY_SET_VALUE, nullptr, &overrides, nullptr) != ERROR_SUCCESS) {
            return false;
        }
        // An empty entry disables the library.
        bool ok = RegSetValueExW(overrides, L"comdlg32", 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(L""), sizeof(wchar_t)) == 0;
        RegCloseKey(overrides);
        return ok;
    }
    ~WithoutFileDialog() { RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str()); }
};

TEST_F(WineBrowseTest, FolderBrowserWhenTheFileDialogCannotBeMade) {
    WithoutFileDialog without;
    ASSERT_TRUE(without.set());
    std::wstring program = temp.file(without.name);
    ASSERT_TRUE(CopyFileW(tool_path().c_str(), program.c_str(), FALSE));
    // The browser starts at the install folder, which exists here.
    std::wstring first = temp.file(L"Start");
    ASSERT_TRUE(win_make_folders(first));
    ASSERT_TRUE(win_make_folders(temp.file(L"Games")));
    ASSERT_TRUE(win_make_folders(temp.file(L"Mine\\Bin\\CorvaneChat.exe")));
    start(program, L"-cvdir \"" + first + L"\"");

    // Preset at the install folder: OK alone takes it.
    HWND dialog = open_browser_at(L"Start");
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(choose_in_folder_browser(dialog, L"Start"));
    EXPECT_TRUE(wait_until([&] { return folder_box() == first + L"\\CorvaneChat"; }, 5000))
        << narrow(folder_box());
    EXPECT_EQ(button_state(tool), case_state("Install", true, false));

    // That folder does not exist: the browser starts at its parent, Start;
    // one folder up in the tree is Mine, which holds the chat program.
    dialog = open_browser_at(L"Start");
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(choose_in_folder_browser(dialog, L"Mine"));
    EXPECT_TRUE(wait_until([&] { return folder_box() == temp.file(L"Mine"); }, 5000))
        << narrow(folder_box());
    EXPECT_TRUE(state_becomes(case_state("Launch!", true, true)));

    // And Games, one up from Mine, gets CorvaneChat; then a cancel changes
    // nothing.
    dialog = open_browser_at(L"Mine");
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(choose_in_folder_browser(dialog, L"Games"));
    EXPECT_TRUE(wait_until([&] { return folder_box() == temp.file(L"Games\\CorvaneChat"); }, 5000))
        << narrow(folder_box());
    EXPECT_TRUE(state_becomes(case_state("Install", true, false)));
    dialog = open_picker();
    ASSERT_EQ(picker_kind(dialog), PICKER_FOLDER_BROWSER);
    ASSERT_TRUE(cancel_picker(dialog));
    Sleep(300);
    EXPECT_EQ(folder_box(), temp.file(L"Games\\CorvaneChat"));
    EXPECT_EQ(button_state(tool), case_state("Install", true, false));
    close_and_expect_exit();
}

// The control that has the keyboard focus in the tool's window thread.
HWND focus_of(const WinTool& tool) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    DWORD thread = GetWindowThreadProcessId(tool.window(), nullptr);
    return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

// The identifiers focus visits when Tab is pressed count times, starting
// from the focus as it is.
std::vector<int> tab_walk(const WinTool& tool, int count) {
    std::vector<int> visited;
    for (int i = 0; i < count; i++) {
        HWND from = focus_of(tool);
        if (from == nullptr) {
            break;
        }
        PostMessageW(from, WM_KEYDOWN, VK_TAB, 0);
        PostMessageW(from, WM_KEYUP, VK_TAB, 0);
        wait_until([&] { return focus_of(tool) != from; }, 2000);
        visited.push_back(GetDlgCtrlID(focus_of(tool)));
    }
    return visited;
}

TEST_F(WineWindowTest, TabVisitsTheEnabledControlsInCreationOrder) {
    std::wstring installed = installed_folder(L"Installed");
    start_in(temp.file(L"Fresh"));
    ASSERT_TRUE(wait_until([&] { return focus_of(tool) != nullptr; }, 5000));
    // Install state: Repair, Uninstall and Cancel are off and skipped; the
    // first Tab goes from the window to the folder box.
    EXPECT_EQ(tab_walk(tool, 4),
              (std::vector<int>{ID_FOLDER_BOX, ID_BROWSE, ID_INSTALL, ID_FOLDER_BOX}));
    // Launch! state: Repair and Uninstall join in, Cancel is still off.
    ASSERT_TRUE(type_and_leave(tool, installed));
    EXPECT_EQ(tab_walk(tool, 5),
              (std::vector<int>{ID_BROWSE, ID_INSTALL, ID_REPAIR, ID_UNINSTALL, ID_FOLDER_BOX}));
    close_and_expect_exit();
}

}  // namespace
