// The Windows tool under test as a child process; see wine_tool.h.
#include "tests/wine/wine_tool.h"

#include <objbase.h>
#include <shlobj.h>
#include <stdio.h>

#include <filesystem>

namespace fs = std::filesystem;

std::wstring widen(const std::string& utf8) {
    int units = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), (int)utf8.size(), nullptr, 0);
    std::wstring wide((size_t)units, L'\0');
    if (units > 0) {
        MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), (int)utf8.size(), &wide[0], units);
    }
    return wide;
}

std::string narrow(const std::wstring& wide) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), (int)wide.size(), nullptr, 0, nullptr,
                                    nullptr);
    std::string utf8((size_t)bytes, '\0');
    if (bytes > 0) {
        WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), (int)wide.size(), &utf8[0], bytes, nullptr,
                            nullptr);
    }
    return utf8;
}

std::wstring wine_path(const std::string& posix_path) {
    std::wstring path = L"Z:" + widen(posix_path);
    for (wchar_t& c : path) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return path;
}

WinTempDir::WinTempDir() {
    wchar_t base[MAX_PATH];
    DWORD n = GetTempPathW(MAX_PATH, base);
    std::wstring root = n > 0 && n < MAX_PATH ? std::wstring(base, n) : std::wstring(L"C:\\");
    if (!root.empty() && root.back() == L'\\') {
        root.pop_back();
    }
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; attempt++) {
        std::wstring candidate = root + L"\\corvane-wine-" +
                                 std::to_wstring(GetCurrentProcessId()) + L"-" +
                                 std::to_wstring(++counter);
        if (CreateDirectoryW(candidate.c_str(), nullptr)) {
            path_ = candidate;
            return;
        }
    }
}

WinTempDir::~WinTempDir() {
    if (path_.empty()) {
        return;
    }
    std::error_code ignored;
    fs::remove_all(fs::path(path_), ignored);
}

bool win_exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool win_write_file(const std::wstring& path, const std::string& bytes) {
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (file == nullptr) {
        return false;
    }
    bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && ok;
}

bool win_read_file(const std::wstring& path, std::string* bytes) {
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr) {
        return false;
    }
    bytes->clear();
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes->append(buffer, n);
    }
    fclose(file);
    return true;
}

bool win_make_folders(const std::wstring& path) {
    std::error_code error;
    fs::create_directories(fs::path(path), error);
    return fs::is_directory(fs::path(path));
}

std::wstring win_shell_folder(int csidl) {
    wchar_t folder[MAX_PATH];
    if (SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, folder) !=
        S_OK) {
        return std::wstring();
    }
    return folder;
}

bool win_make_shortcut(const std::wstring& link_path, const std::wstring& target) {
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bool saved = false;
    IShellLinkW* link = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link)))) {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(link->SetPath(target.c_str())) &&
            SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            saved = SUCCEEDED(file->Save(link_path.c_str(), TRUE));
            file->Release();
        }
        link->Release();
    }
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    return saved;
}

static const wchar_t USER_SHELL_FOLDERS[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

WinUserValueOverride::WinUserValueOverride(const wchar_t* key, const wchar_t* value)
    : key_(key), value_(value) {
    HKEY opened;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) {
        return;
    }
    DWORD size = 0;
    if (RegQueryValueExW(opened, value, nullptr, &old_type_, nullptr, &size) == ERROR_SUCCESS) {
        old_.resize(size);
        had_old_ = RegQueryValueExW(opened, value, nullptr, &old_type_, old_.data(), &size) ==
                   ERROR_SUCCESS;
        old_.resize(size);
    }
    RegCloseKey(opened);
}

bool WinUserValueOverride::set(DWORD type, const void* data, DWORD size) {
    HKEY opened;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &opened, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    changed_ = true;
    bool ok = RegSetValueExW(opened, value_.c_str(), 0, type, static_cast<const BYTE*>(data),
                             size) == ERROR_SUCCESS;
    RegCloseKey(opened);
    return ok;
}

void WinUserValueOverride::restore() {
    HKEY opened;
    if (!changed_ || RegOpenKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, KEY_SET_VALUE, &opened) !=
                         ERROR_SUCCESS) {
        return;
    }
    if (had_old_) {
        RegSetValueExW(opened, value_.c_str(), 0, old_type_, old_.data(), (DWORD)old_.size());
    } else {
        RegDeleteValueW(opened, value_.c_str());
    }
    RegCloseKey(opened);
    changed_ = false;
}

WinShellFolderOverride::WinShellFolderOverride(const wchar_t* value, const std::wstring& folder)
    : value_(USER_SHELL_FOLDERS, value) {
    ok_ = win_make_folders(folder) &&
          value_.set(REG_EXPAND_SZ, folder.c_str(), (DWORD)((folder.size() + 1) * sizeof(wchar_t)));
}

WinDisplayDpi::WinDisplayDpi(DWORD dpi) : value_(L"Control Panel\\Desktop", L"LogPixels") {
    ok_ = value_.set(REG_DWORD, &dpi, sizeof dpi);
}

std::wstring window_text(HWND window) {
    // GetWindowTextW does not ask a window of another process (an edit
    // control there would read as empty); WM_GETTEXT is passed across.
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) {
        return L"<no answer>";
    }
    std::wstring text((size_t)length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, (WPARAM)text.size(), (LPARAM)&text[0],
                             SMTO_ABORTIFHUNG, 5000, &copied)) {
        return L"<no answer>";
    }
    text.resize((size_t)copied);
    return text;
}

bool set_window_text(HWND window, const std::wstring& text) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(window, WM_SETTEXT, 0, (LPARAM)text.c_str(), SMTO_ABORTIFHUNG, 5000,
                               &result) != 0 &&
           result == TRUE;
}

std::wstring class_of(HWND window) {
    wchar_t name[256];
    int n = GetClassNameW(window, name, 256);
    return std::wstring(name, (size_t)(n > 0 ? n : 0));
}

ControlInfo read_control(HWND parent, HWND control) {
    ControlInfo info;
    if (control == nullptr) {
        return info;
    }
    info.handle = control;
    info.class_name = class_of(control);
    info.text = window_text(control);
    info.enabled = IsWindowEnabled(control) != FALSE;
    info.visible = IsWindowVisible(control) != FALSE;
    info.style = (DWORD)GetWindowLongW(control, GWL_STYLE);
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
    info.rect = rect;
    return info;
}

WinTool::~WinTool() {
    if (info_.hProcess != nullptr) {
        if (running()) {
            TerminateProcess(info_.hProcess, 99);
            WaitForSingleObject(info_.hProcess, 10000);
        }
        CloseHandle(info_.hProcess);
        CloseHandle(info_.hThread);
    }
}

bool WinTool::start(const std::wstring& program, const std::wstring& tail,
                    const std::wstring& current_directory, std::string* error) {
    std::wstring line = L"\"" + program + L"\" " + tail;
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessW(program.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        current_directory.empty() ? nullptr : current_directory.c_str(), &startup,
                        &info_)) {
        *error = "CreateProcessW failed for " + narrow(program) + ": error " +
                 std::to_string(GetLastError());
        info_ = {};
        return false;
    }
    return true;
}

bool WinTool::running() {
    return info_.hProcess != nullptr && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

namespace {

struct WindowSearch {
    DWORD process;
    const wchar_t* class_name;
    HWND except;
    HWND found;
};

BOOL CALLBACK match_window(HWND window, LPARAM data) {
    WindowSearch* search = reinterpret_cast<WindowSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->process || window == search->except) {
        return TRUE;
    }
    if (class_of(window) != search->class_name) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

HWND find_top_level(DWORD process, const wchar_t* class_name, HWND except) {
    WindowSearch search = {process, class_name, except, nullptr};
    EnumWindows(match_window, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

HWND WinTool::find_main_window(DWORD timeout_ms) {
    HWND found = nullptr;
    wait_until(
        [&] {
            // FindWindowW would also see a window left by another test's
            // tool; only this process's window counts.
            found = find_top_level(info_.dwProcessId, L"CorvaneChatBootstrap", nullptr);
            // The window exists from the start of its creation; it is shown
            // once WM_CREATE has built the controls and set their state.
            return (found != nullptr && IsWindowVisible(found)) || !running();
        },
        timeout_ms);
    window_ = found;
    return found;
}

HWND WinTool::find_dialog(DWORD timeout_ms) {
    HWND found = nullptr;
    wait_until(
        [&] {
            found = find_top_level(info_.dwProcessId, L"#32770", window_);
            return found != nullptr && IsWindowVisible(found);
        },
        timeout_ms);
    return found;
}

long WinTool::wait_exit(DWORD timeout_ms) {
    if (info_.hProcess == nullptr) {
        return -1;
    }
    if (WaitForSingleObject(info_.hProcess, timeout_ms) != WAIT_OBJECT_0) {
        return -1;
    }
    DWORD code = 0;
    if (!GetExitCodeProcess(info_.hProcess, &code)) {
        return -1;
    }
    return (long)code;
}

ControlInfo WinTool::control(int id) const {
    return read_control(window_, GetDlgItem(window_, id));
}

std::vector<ControlInfo> WinTool::controls() const {
    std::vector<ControlInfo> all;
    for (HWND child = GetWindow(window_, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        all.push_back(read_control(window_, child));
    }
    return all;
}

bool WinTool::type_into(int id, const std::wstring& text) const {
    HWND box = GetDlgItem(window_, id);
    if (box == nullptr || !set_window_text(box, text)) {
        return false;
    }
    return PostMessageW(window_, WM_COMMAND, MAKEWPARAM(id, EN_KILLFOCUS), (LPARAM)box) != 0;
}

bool WinTool::close() const {
    return PostMessageW(window_, WM_CLOSE, 0, 0) != 0;
}

namespace {

// The system icons a message box shows, by the kind the tests name.
struct IconKind {
    LPCWSTR icon;
    const char* kind;
};
const IconKind icon_kinds[] = {{IDI_QUESTION, "question"},
                               {IDI_INFORMATION, "information"},
                               {IDI_WARNING, "warning"},
                               {IDI_ERROR, "error"}};

// The icon as drawn at the standard size on a background of one colour.
// Icon handles belong to the process that loaded them, so the
// tool's icon is compared with ours by what it draws.
std::vector<DWORD> icon_pixels(HWND window, HICON icon, int background) {
    int size = GetSystemMetrics(SM_CXICON);
    std::vector<DWORD> pixels((size_t)(size * size), 0);
    HDC screen = GetDC(window);
    HDC dc = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = size;
    info.bmiHeader.biHeight = -size;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap != nullptr && bits != nullptr) {
        HGDIOBJ old = SelectObject(dc, bitmap);
        RECT all = {0, 0, size, size};
        FillRect(dc, &all, (HBRUSH)GetStockObject(background));
        DrawIconEx(dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
        GdiFlush();
        const DWORD* p = static_cast<const DWORD*>(bits);
        for (size_t i = 0; i < pixels.size(); i++) {
            pixels[i] = p[i] & 0x00FFFFFF;
        }
        SelectObject(dc, old);
        DeleteObject(bitmap);
    }
    DeleteDC(dc);
    ReleaseDC(window, screen);
    return pixels;
}

// The picture the icon static of the box shows, captured off its own paint
// (WM_PRINTCLIENT is not sent across processes, the screen is).
std::vector<DWORD> shown_icon_pixels(HWND icon_static) {
    int size = GetSystemMetrics(SM_CXICON);
    std::vector<DWORD> pixels((size_t)(size * size), 0);
    RECT at;
    GetWindowRect(icon_static, &at);
    HDC screen = GetDC(nullptr);
    for (int y = 0; y < size; y++) {
        for (int x = 0; x < size; x++) {
            COLORREF c = GetPixel(screen, at.left + x, at.top + y);
            pixels[(size_t)(y * size + x)] =
                (DWORD)((GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c));
        }
    }
    ReleaseDC(nullptr, screen);
    return pixels;
}

}  // namespace

static std::string icon_kind_of(HWND box) {
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (class_of(child) != L"Static" ||
            ((DWORD)GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON ||
            !IsWindowVisible(child)) {
            continue;
        }
        DWORD_PTR shown = 0;
        SendMessageTimeoutW(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 5000, &shown);
        if (shown == 0) {
            return "none";
        }
        for (const IconKind& k : icon_kinds) {
            if ((HICON)shown == LoadIconW(nullptr, k.icon)) {
                return k.kind;
            }
        }
        // Handles differ between processes: compare what each draws where
        // the icon is opaque, that is where it draws alike on black and
        // on white (the box's background shows elsewhere).
        std::vector<DWORD> seen = shown_icon_pixels(child);
        for (const IconKind& k : icon_kinds) {
            HICON ours = LoadIconW(nullptr, k.icon);
            std::vector<DWORD> on_black = icon_pixels(child, ours, BLACK_BRUSH);
            std::vector<DWORD> on_white = icon_pixels(child, ours, WHITE_BRUSH);
            size_t same = 0, opaque = 0;
            for (size_t i = 0; i < seen.size(); i++) {
                if (on_black[i] != on_white[i]) {
                    continue;
                }
                opaque++;
                same += seen[i] == on_black[i];
            }
            if (opaque > 0 && same * 100 >= opaque * 98) {
                return k.kind;
            }
        }
        return "unknown";
    }
    return "none";
}

MessageBoxInfo read_message_box(HWND box) {
    MessageBoxInfo info;
    info.caption = window_text(box);
    // The text is the one static that is not an icon.
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (class_of(child) == L"Static" &&
            ((DWORD)GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) {
            std::wstring text = window_text(child);
            if (!text.empty()) {
                info.text = text;
            }
        }
    }
    info.kind = icon_kind_of(box);
    return info;
}

bool press_box_button(HWND box, int button_id) {
    HWND button = GetDlgItem(box, button_id);
    if (button == nullptr || !IsWindowVisible(button)) {
        return false;
    }
    return PostMessageW(button, BM_CLICK, 0, 0) != 0;
}
