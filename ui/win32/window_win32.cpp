// The Win32 backend of the window: the class, the main window, its
// controls, their font and icons at the display's scale, and text
// measuring.
#include <windows.h>

#include <objbase.h>
#include <stdlib.h>

#include "ui/window.h"
#include "ui/window_iface.h"

constexpr DWORD MAIN_STYLE = WS_CAPTION | WS_SYSMENU;  // 0xC80000
constexpr DWORD MAIN_EX_STYLE = WS_EX_CLIENTEDGE;      // 0x200
constexpr WORD ICON_WINDOW = 101;
constexpr int32_t ICON_BIG_SIZE = 32;  // at 96 DPI
constexpr int32_t ICON_SMALL_SIZE = 16;

static HINSTANCE module_instance;

// The scale calls of newer systems, looked up once; null where the system
// has none, and the older calls stand in.
typedef UINT(WINAPI* DpiForWindowFn)(HWND window);
typedef BOOL(WINAPI* AdjustForDpiFn)(RECT* rect, DWORD style, BOOL menu, DWORD ex_style, UINT dpi);
struct DpiCalls {
    bool looked_up;
    DpiForWindowFn dpi_for_window;
    AdjustForDpiFn adjust_for_dpi;
};
static DpiCalls dpi_calls;

// The GUI font in force: the stock font at the system's own scale, else an
// owned copy scaled to the window's. The one before it is kept until the
// next change, since controls may still hold it until they are given the
// new one.
static HFONT gui_font;
static HFONT gui_font_owned;
static HFONT gui_font_retired;
static int32_t window_scale_dpi = UI_DPI_BASE;
// The window's own icons at its scale (owned; the class keeps its own).
static HICON window_icon_big;
static HICON window_icon_small;
static HICON picture_icon;

static const DpiCalls* dpi_api(void) {
    if (!dpi_calls.looked_up) {
        HMODULE user32 = GetModuleHandleW(L"user32.dll");
        if (user32 != nullptr) {
            dpi_calls.dpi_for_window = reinterpret_cast<DpiForWindowFn>(
                reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForWindow")));
            dpi_calls.adjust_for_dpi = reinterpret_cast<AdjustForDpiFn>(
                reinterpret_cast<void*>(GetProcAddress(user32, "AdjustWindowRectExForDpi")));
        }
        dpi_calls.looked_up = true;
    }
    return &dpi_calls;
}

// The dots per inch of a device context of hwnd's (the screen's when null).
static int32_t device_dpi(HWND hwnd) {
    HDC dc = GetDC(hwnd);
    int32_t dpi = dc != nullptr ? GetDeviceCaps(dc, LOGPIXELSY) : 0;
    if (dc != nullptr) {
        ReleaseDC(hwnd, dc);
    }
    return dpi > 0 ? dpi : UI_DPI_BASE;
}

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

    // No place or size of its own: WM_CREATE sizes the window for the
    // display's scale and the measured welcome text, and centres it.
    HWND window = CreateWindowExW(MAIN_EX_STYLE, UI_WINDOW_CLASS, UI_WINDOW_CAPTION, MAIN_STYLE, 0,
                                  0, 0, 0, nullptr, nullptr, module_instance, nullptr);
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

// Let go of a font or an icon this backend owns; *handle becomes null.
static void release_font(HFONT* handle) {
    if (*handle != nullptr) {
        DeleteObject(*handle);
        *handle = nullptr;
    }
}
static void release_icon(HICON* handle) {
    if (*handle != nullptr) {
        DestroyIcon(*handle);
        *handle = nullptr;
    }
}

// An icon resource's image for size x size pixels (owned), or null.
static HICON load_icon(WORD resource, int32_t size) {
    return static_cast<HICON>(
        LoadImageW(module_instance, MAKEINTRESOURCEW(resource), IMAGE_ICON, size, size, 0));
}

// Gives the icon control the picture of its resource ("#102") at the
// control's size; the picture it replaces goes when it was ours (the one the
// control loaded itself is the system's shared copy).
static void set_control_icon(HWND control, const UiControlRow* layout) {
    int32_t size = layout->width < layout->height ? layout->width : layout->height;
    HICON icon = load_icon((WORD)_wtoi(layout->text + 1), size);
    if (icon == nullptr) {
        return;
    }
    SendMessageW(control, STM_SETICON, (WPARAM)icon, 0);
    release_icon(&picture_icon);
    picture_icon = icon;
}

PlatformWindow window_create_control(PlatformWindow parent, const UiControlRow* layout,
                                     const wchar_t* text, int32_t y) {
    DWORD style = layout->style | (layout->disabled ? WS_DISABLED : 0);
    HWND control =
        CreateWindowExW(0, class_name(layout->kind), text, style, layout->x, y, layout->width,
                        layout->height, static_cast<HWND>(parent),
                        reinterpret_cast<HMENU>((UINT_PTR)layout->id), module_instance, nullptr);
    if (layout->gui_font) {
        SendMessageW(control, WM_SETFONT, (WPARAM)gui_font, FALSE);
    }
    if (layout->kind == UI_CLASS_ICON && control != nullptr) {
        set_control_icon(control, layout);
    }
    return control;
}

void window_place_control(PlatformWindow control, const UiControlRow* layout, int32_t y) {
    HWND hwnd = static_cast<HWND>(control);
    SetWindowPos(hwnd, nullptr, layout->x, y, layout->width, layout->height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    if (layout->gui_font) {
        SendMessageW(hwnd, WM_SETFONT, (WPARAM)gui_font, TRUE);
    }
    if (layout->kind == UI_CLASS_ICON) {
        set_control_icon(hwnd, layout);
        // The control takes the icon's size; the row's box is the same.
        SetWindowPos(hwnd, nullptr, layout->x, y, layout->width, layout->height,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

int32_t window_dpi(PlatformWindow window) {
    HWND hwnd = static_cast<HWND>(window);
    const DpiCalls* calls = dpi_api();
    UINT dpi = calls->dpi_for_window != nullptr ? calls->dpi_for_window(hwnd) : 0;
    return dpi > 0 ? (int32_t)dpi : device_dpi(hwnd);
}

// The GUI font for dpi: the stock one when dpi is the system's, else a copy
// of it scaled (owned by the caller), or the stock one when none can be made.
static HFONT font_for_dpi(int32_t dpi, bool* owned) {
    HFONT stock = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    int32_t system_dpi = device_dpi(nullptr);
    *owned = false;
    LOGFONTW font = {};
    if (dpi == system_dpi || GetObjectW(stock, sizeof font, &font) != sizeof font) {
        return stock;
    }
    font.lfHeight = MulDiv(font.lfHeight, dpi, system_dpi);
    HFONT scaled = CreateFontIndirectW(&font);
    if (scaled == nullptr) {
        return stock;
    }
    *owned = true;
    return scaled;
}

// Gives the window resource 101 at size as its icon of kind (ICON_BIG or
// ICON_SMALL); *kept, the one before, goes. Unchanged when none loads.
static void set_window_icon(HWND hwnd, WPARAM kind, int32_t size, HICON* kept) {
    HICON icon = load_icon(ICON_WINDOW, size);
    if (icon == nullptr) {
        return;
    }
    SendMessageW(hwnd, WM_SETICON, kind, (LPARAM)icon);
    release_icon(kept);
    *kept = icon;
}

void window_use_dpi(PlatformWindow window, int32_t dpi) {
    HWND hwnd = static_cast<HWND>(window);
    if (gui_font == nullptr || dpi != window_scale_dpi) {
        bool owned = false;
        HFONT font = font_for_dpi(dpi, &owned);
        release_font(&gui_font_retired);
        gui_font_retired = gui_font_owned;
        gui_font_owned = owned ? font : nullptr;
        gui_font = font;
        window_scale_dpi = dpi;
    }
    set_window_icon(hwnd, ICON_BIG, ui_scale(ICON_BIG_SIZE, dpi), &window_icon_big);
    set_window_icon(hwnd, ICON_SMALL, ui_scale(ICON_SMALL_SIZE, dpi), &window_icon_small);
}

void window_set_client_size(PlatformWindow window, int32_t width, int32_t height,
                            const UiScreenRect* outer) {
    HWND hwnd = static_cast<HWND>(window);
    RECT rect;
    rect.left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    rect.top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    rect.right = rect.left + width;
    rect.bottom = rect.top + height;
    const DpiCalls* calls = dpi_api();
    if (calls->adjust_for_dpi != nullptr) {
        calls->adjust_for_dpi(&rect, MAIN_STYLE, FALSE, MAIN_EX_STYLE, (UINT)window_scale_dpi);
    } else {
        AdjustWindowRectEx(&rect, MAIN_STYLE, FALSE, MAIN_EX_STYLE);
    }
    int32_t left = outer != nullptr ? outer->left : rect.left;
    int32_t top = outer != nullptr ? outer->top : rect.top;
    int32_t outer_width = rect.right - rect.left;
    int32_t outer_height = rect.bottom - rect.top;
    SetWindowPos(hwnd, nullptr, left, top, outer_width, outer_height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    // The frame the system drew may not be the one computed for the scale
    // (a frame still at the old scale while it changes): the client area
    // decides, so the frame's difference is made up once.
    RECT client;
    if (!GetClientRect(hwnd, &client)) {
        return;
    }
    int32_t short_x = width - (client.right - client.left);
    int32_t short_y = height - (client.bottom - client.top);
    if (short_x != 0 || short_y != 0) {
        SetWindowPos(hwnd, nullptr, 0, 0, outer_width + short_x, outer_height + short_y,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    }
}

void window_adopt_progress_bar(PlatformWindow bar) {
    // The control draws itself.
}

int32_t window_measure_text(PlatformWindow window, const wchar_t* text, int32_t width) {
    HWND hwnd = static_cast<HWND>(window);
    HDC dc = GetDC(hwnd);
    HGDIOBJ previous =
        SelectObject(dc, gui_font != nullptr ? gui_font : GetStockObject(DEFAULT_GUI_FONT));
    RECT rect = {0, 0, width, 0};
    DrawTextW(dc, text, -1, &rect, DT_CALCRECT | DT_WORDBREAK);
    SelectObject(dc, previous);
    ReleaseDC(hwnd, dc);
    return rect.bottom;
}

void window_destroy(PlatformWindow window) {
    DestroyWindow(static_cast<HWND>(window));
    // No window is left to use the scale's font and icons.
    gui_font = nullptr;
    release_font(&gui_font_owned);
    release_font(&gui_font_retired);
    release_icon(&window_icon_big);
    release_icon(&window_icon_small);
    release_icon(&picture_icon);
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
