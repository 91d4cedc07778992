// The Win32 backend of the window: the class, the main window, its
// controls, text measuring and message boxes.
#include <windows.h>

#include <objbase.h>
#include <stdlib.h>

#include "ui/window.h"
#include "ui/window_iface.h"

constexpr DWORD MAIN_STYLE = WS_CAPTION | WS_SYSMENU;  // 0xC80000
constexpr DWORD MAIN_EX_STYLE = WS_EX_CLIENTEDGE;      // 0x200
constexpr WORD ICON_WINDOW = 101;

static HINSTANCE module_instance;

static LRESULT CALLBACK win32_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return (LRESULT)main_window_proc(window, message, wparam, lparam);
}

void window_init_thread(void) {
    // The folder dialogs need a single-threaded apartment; the result does
    // not matter (the older browser works without the newer dialog).
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
}

PlatformWindow window_create_main(void* instance, int32_t show_command) {
    module_instance = static_cast<HINSTANCE>(instance);
    WNDCLASSW window_class = {};
    window_class.style = 0;
    window_class.lpfnWndProc = win32_window_proc;
    window_class.hInstance = module_instance;
    window_class.hIcon = LoadIconW(module_instance, MAKEINTRESOURCEW(ICON_WINDOW));
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    window_class.lpszClassName = UI_WINDOW_CLASS;
    RegisterClassW(&window_class);

    RECT rect;
    rect.left = (GetSystemMetrics(SM_CXSCREEN) - UI_CLIENT_WIDTH) / 2;
    rect.top = (GetSystemMetrics(SM_CYSCREEN) - UI_CLIENT_HEIGHT) / 2;
    rect.right = rect.left + UI_CLIENT_WIDTH;
    rect.bottom = rect.top + UI_CLIENT_HEIGHT;
    AdjustWindowRectEx(&rect, MAIN_STYLE, FALSE, MAIN_EX_STYLE);
    HWND window = CreateWindowExW(
        MAIN_EX_STYLE, UI_WINDOW_CLASS, UI_WINDOW_CAPTION, MAIN_STYLE, rect.left, rect.top,
        rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr, module_instance, nullptr);
    ShowWindow(window, show_command);
    UpdateWindow(window);
    return window;
}

static const wchar_t* class_name(int kind) {
    switch (kind) {
        case UI_CLASS_EDIT:
            return L"EDIT";
        case UI_CLASS_BUTTON:
            return L"BUTTON";
        default:
            return L"STATIC";  // plain text and the icon
    }
}

PlatformWindow window_create_control(PlatformWindow parent, const UiControlRow* layout,
                                     const wchar_t* text, int32_t y) {
    HWND control =
        CreateWindowExW(0, class_name(layout->kind), text, layout->style, layout->x, y,
                        layout->width, layout->height, static_cast<HWND>(parent),
                        reinterpret_cast<HMENU>((UINT_PTR)layout->id), module_instance, nullptr);
    if (layout->gui_font) {
        SendMessageW(control, WM_SETFONT, (WPARAM)GetStockObject(DEFAULT_GUI_FONT), FALSE);
    }
    return control;
}

void window_adopt_progress_bar(PlatformWindow bar) {
    // The control draws itself.
}

int32_t window_measure_text(PlatformWindow window, const wchar_t* text, int32_t width) {
    HWND hwnd = static_cast<HWND>(window);
    HDC dc = GetDC(hwnd);
    HGDIOBJ previous = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    RECT rect = {0, 0, width, 0};
    DrawTextW(dc, text, -1, &rect, DT_CALCRECT | DT_WORDBREAK);
    SelectObject(dc, previous);
    ReleaseDC(hwnd, dc);
    return rect.bottom;
}

void window_destroy(PlatformWindow window) {
    DestroyWindow(static_cast<HWND>(window));
}

intptr_t window_default_proc(PlatformWindow window, uint32_t message, uintptr_t wparam,
                             intptr_t lparam) {
    return DefWindowProcW(static_cast<HWND>(window), message, wparam, lparam);
}

void window_set_text(PlatformWindow control, const wchar_t* text) {
    SetWindowTextW(static_cast<HWND>(control), text);
}

wchar_t* window_get_text(PlatformWindow control) {
    HWND hwnd = static_cast<HWND>(control);
    int length = GetWindowTextLengthW(hwnd);
    wchar_t* text = static_cast<wchar_t*>(malloc(((size_t)length + 1) * sizeof(wchar_t)));
    if (text == nullptr) {
        return nullptr;
    }
    text[0] = 0;
    GetWindowTextW(hwnd, text, length + 1);
    return text;
}

void window_enable(PlatformWindow control, bool enabled) {
    EnableWindow(static_cast<HWND>(control), enabled ? TRUE : FALSE);
}

int window_message_box(PlatformWindow owner, const wchar_t* text, const wchar_t* caption,
                       uint32_t type) {
    return platform_message_box(owner, text, caption, type);
}
