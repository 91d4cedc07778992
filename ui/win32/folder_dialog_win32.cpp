// The folder picker on Windows: the modern file dialog in folder mode, and
// the older folder browser when the modern one cannot be created.
#include <windows.h>

#include <objbase.h>
#include <oleauto.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <string.h>
#include <wchar.h>

#include "ui/window_iface.h"

// The published identifiers, spelled out so no import library is needed.
static const CLSID CLSID_FILE_OPEN_DIALOG = {
    0xDC1C5A9C, 0xE88A, 0x4DDE, {0xA5, 0xA1, 0x60, 0xF8, 0x2A, 0x20, 0xAE, 0xF7}};
static const IID IID_FILE_DIALOG = {
    0x42F85136, 0xDB7E, 0x439C, {0x85, 0xF1, 0xE4, 0x07, 0x5D, 0x13, 0x5F, 0xC8}};
static const IID IID_SHELL_ITEM = {
    0x43826D1E, 0xE718, 0x42EE, {0xBC, 0x55, 0xA1, 0xE2, 0x61, 0xC3, 0x7B, 0xFE}};

constexpr FILEOPENDIALOGOPTIONS PICKER_OPTIONS = FOS_PICKFOLDERS | FOS_DONTADDTORECENT;
constexpr UINT BROWSER_FLAGS = BIF_USENEWUI;  // the resizable browser with an edit box
constexpr int BROWSER_BUFFER_UNITS = 260;

typedef HRESULT(WINAPI* CreateItemFn)(PCWSTR path, IBindCtx* bind, REFIID riid, void** item);

// The modern dialog. False when it could not be created; *chosen stays
// null on a cancel or any later failure.
static bool pick_with_file_dialog(HWND owner, const wchar_t* title, const wchar_t* initial,
                                  wchar_t** chosen) {
    IFileDialog* dialog = nullptr;
    if (CoCreateInstance(CLSID_FILE_OPEN_DIALOG, nullptr, CLSCTX_INPROC_SERVER, IID_FILE_DIALOG,
                         reinterpret_cast<void**>(&dialog)) != S_OK) {
        return false;
    }
    // Looked up at run time: older systems lack it. The library stays loaded.
    HMODULE shell = LoadLibraryW(L"shell32.dll");
    CreateItemFn create_item = shell != nullptr
                                   ? reinterpret_cast<CreateItemFn>(reinterpret_cast<void*>(
                                         GetProcAddress(shell, "SHCreateItemFromParsingName")))
                                   : nullptr;
    dialog->SetOptions(PICKER_OPTIONS);
    dialog->SetTitle(title);
    if (create_item != nullptr) {
        BSTR start = SysAllocString(initial);
        IShellItem* folder = nullptr;
        if (SUCCEEDED(
                create_item(start, nullptr, IID_SHELL_ITEM, reinterpret_cast<void**>(&folder)))) {
            dialog->SetFolder(folder);
            folder->Release();
        }
        SysFreeString(start);
    }
    if (SUCCEEDED(dialog->Show(owner))) {
        IShellItem* item = nullptr;
        if (SUCCEEDED(dialog->GetResult(&item))) {
            PWSTR path = nullptr;
            if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
                *chosen = _wcsdup(path);
                CoTaskMemFree(path);
            }
            item->Release();
        }
    }
    dialog->Release();
    return true;
}

static int CALLBACK browse_folder_callback(HWND browser, UINT code, LPARAM parameter, LPARAM data) {
    if (code == BFFM_INITIALIZED && data != 0) {
        SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, data);
    }
    return 0;
}

static wchar_t* pick_with_folder_browser(HWND owner, const wchar_t* title, const wchar_t* initial) {
    wchar_t buffer[BROWSER_BUFFER_UNITS] = {};
    BROWSEINFOW info = {};
    info.hwndOwner = owner;
    info.pidlRoot = nullptr;
    info.pszDisplayName = buffer;
    info.lpszTitle = title;
    info.ulFlags = BROWSER_FLAGS;
    info.lpfn = browse_folder_callback;
    info.lParam = reinterpret_cast<LPARAM>(initial);
    PIDLIST_ABSOLUTE list = SHBrowseForFolderW(&info);
    if (list == nullptr) {
        return nullptr;
    }
    wchar_t* chosen = nullptr;
    if (SHGetPathFromIDListW(list, buffer)) {
        chosen = _wcsdup(buffer);
    }
    CoTaskMemFree(list);
    return chosen;
}

wchar_t* window_pick_folder(PlatformWindow owner, const wchar_t* title, const wchar_t* initial) {
    HWND hwnd = static_cast<HWND>(owner);
    wchar_t* chosen = nullptr;
    if (pick_with_file_dialog(hwnd, title, initial, &chosen)) {
        return chosen;
    }
    return pick_with_folder_browser(hwnd, title, initial);
}
