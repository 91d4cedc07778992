// The Windows tool as a child process of a Wine-run test: started with
// CreateProcessW, its main window found among the top-level windows of its
// process, its controls read and pressed through window messages.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Windows form of a POSIX path as Wine maps it (drive Z: is the root).
std::wstring wine_path(const std::string& posix_path);
std::wstring widen(const std::string& utf8);
std::string narrow(const std::wstring& wide);

// A fresh folder under the Wine user's temporary folder, removed with
// everything in it by the destructor.
class WinTempDir {
  public:
    WinTempDir();
    ~WinTempDir();
    WinTempDir(const WinTempDir&) = delete;
    WinTempDir& operator=(const WinTempDir&) = delete;
    const std::wstring& path() const { return path_; }
    std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }

  private:
    std::wstring path_;
};

bool win_exists(const std::wstring& path);
bool win_write_file(const std::wstring& path, const std::string& bytes);
bool win_read_file(const std::wstring& path, std::string* bytes);
// Creates path and its missing parents.
bool win_make_folders(const std::wstring& path);
// The user's folder that the shell names for a CSIDL_ value, made if
// missing; empty when the shell names none.
std::wstring win_shell_folder(int csidl);
// Saves a shell link to target at link_path, as an installer would.
bool win_make_shortcut(const std::wstring& link_path, const std::wstring& target);

// A value under HKEY_CURRENT_USER\key as it was when this was made; set()
// replaces it, and the destructor (or restore) puts back what was there,
// or takes the value away again when there was none.
class WinUserValueOverride {
  public:
    WinUserValueOverride(const wchar_t* key, const wchar_t* value);
    ~WinUserValueOverride() { restore(); }
    WinUserValueOverride(const WinUserValueOverride&) = delete;
    WinUserValueOverride& operator=(const WinUserValueOverride&) = delete;
    bool set(DWORD type, const void* data, DWORD size);
    void restore();

  private:
    std::wstring key_;
    std::wstring value_;
    std::vector<BYTE> old_;
    DWORD old_type_ = 0;
    bool had_old_ = false;
    bool changed_ = false;
};

// Points one of the user's shell folders (a "User Shell Folders" value such
// as "Desktop" or "Programs") at folder until destroyed, so that a test's
// files there stay out of the folders the prefix shares with the user's
// home (Wine links the desktop to it).
class WinShellFolderOverride {
  public:
    WinShellFolderOverride(const wchar_t* value, const std::wstring& folder);
    bool ok() const { return ok_; }

  private:
    WinUserValueOverride value_;
    bool ok_ = false;
};

// The display scale programs started from now on see: the prefix's
// LogPixels (dots per inch; Wine reads the user's value first, then the
// machine's), back as it was when destroyed.
class WinDisplayDpi {
  public:
    explicit WinDisplayDpi(DWORD dpi);
    bool ok() const { return ok_; }

  private:
    WinUserValueOverride value_;
    bool ok_ = false;
};

// What a test reads off one control.
struct ControlInfo {
    HWND handle = nullptr;
    std::wstring class_name;
    std::wstring text;
    bool enabled = false;
    bool visible = false;
    DWORD style = 0;
    RECT rect = {};  // in the main window's client coordinates
};

class WinTool {
  public:
    WinTool() = default;
    ~WinTool();
    WinTool(const WinTool&) = delete;
    WinTool& operator=(const WinTool&) = delete;

    // Starts program with the command tail (the text after the quoted
    // program path) in current_directory. False with *error on failure.
    bool start(const std::wstring& program, const std::wstring& tail,
               const std::wstring& current_directory, std::string* error);
    // Polls for the process's visible top-level window of class
    // "CorvaneChatBootstrap"; null after timeout_ms or when the process ended.
    HWND find_main_window(DWORD timeout_ms = 20000);
    // A top-level dialog (class "#32770") of the process, other than the
    // main window; null after timeout_ms.
    HWND find_dialog(DWORD timeout_ms);
    // Waits for the process to end; its exit code, or -1 on timeout.
    long wait_exit(DWORD timeout_ms);
    bool running();
    DWORD process_id() const { return info_.dwProcessId; }
    HANDLE process() const { return info_.hProcess; }
    HWND window() const { return window_; }

    // The child of the main window with the control identifier.
    ControlInfo control(int id) const;
    // The children of the main window in creation (Z) order.
    std::vector<ControlInfo> controls() const;

    // Types text into the edit control and moves the focus away, as the
    // window learns it: WM_SETTEXT, then the box's EN_KILLFOCUS notice.
    bool type_into(int id, const std::wstring& text) const;
    // Asks the main window to close (WM_CLOSE, as the title bar's X does).
    bool close() const;

  private:
    PROCESS_INFORMATION info_ = {};
    HWND window_ = nullptr;
};

ControlInfo read_control(HWND parent, HWND control);
std::wstring window_text(HWND window);
// Sets the text of a window of another process (WM_SETTEXT).
bool set_window_text(HWND window, const std::wstring& text);
std::wstring class_of(HWND window);

// What a test reads off one of the tool's message boxes. kind is
// "question", "information", "warning" or "error" from the icon shown, or
// "none".
struct MessageBoxInfo {
    std::wstring caption;
    std::wstring text;
    std::string kind;
};
MessageBoxInfo read_message_box(HWND box);
// Presses the box's button IDYES, IDNO, IDOK or IDCANCEL (BM_CLICK).
bool press_box_button(HWND box, int button_id);

// Polls predicate every 50 ms until it holds or timeout_ms passed.
template <typename Predicate>
bool wait_until(Predicate predicate, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    for (;;) {
        if (predicate()) {
            return true;
        }
        if (GetTickCount() - start >= timeout_ms) {
            return false;
        }
        Sleep(50);
    }
}
