// The main window: building it, laying it out and routing its messages.
#include "ui/window.h"

#include "core/report.h"
#include "ui/folder_choice.h"
#include "ui/operations.h"
#include "update/status.h"

const wchar_t UI_WINDOW_CLASS[] = L"CorvaneChatBootstrap";
const wchar_t UI_WINDOW_CAPTION[] = L"Corvane Chat";
const wchar_t UI_WELCOME_TEXT[] =
    L"Welcome to the Corvane Chat installation and maintenance tool.\n\nCorvane Chat is a portable "
    L"application that is entirely self-contained within its own folder. It does not install or "
    L"require any system-wide components, and does not need to be run as an administrator.\n\nThe "
    L"default Corvane Chat folder is shown below. Using this location is recommended as it "
    L"simplifies troubleshooting support issues and allows third-party addons to easily locate "
    L"Corvane Chat. However, advanced users may choose to install in a custom location such as a "
    L"removable drive.";
const wchar_t UI_TIP_TEXT[] =
    L"TIP: Remember that you can always find where Corvane Chat is installed by using the folder "
    L"button in the main Corvane Chat window.";

// Styles as the system takes them.
constexpr uint32_t STYLE_STATIC = 0x50000000;
constexpr uint32_t STYLE_EDIT = 0x50810000;
constexpr uint32_t STYLE_BUTTON = 0x50010000;
constexpr uint32_t STYLE_ICON = 0x50000003;

const UiControlRow ui_control_table[UI_CONTROL_COUNT] = {
    // The welcome text; its height is the measured H.
    {UI_CLASS_STATIC, nullptr, STYLE_STATIC, false, 18, 18, false, 464, 0, 0, true},
    {UI_CLASS_EDIT, nullptr, STYLE_EDIT, false, 18, 0, true, 348, 20, UI_ID_FOLDER_BOX, true},
    {UI_CLASS_BUTTON, L"&Browse...", STYLE_BUTTON, false, 375, -1, true, 107, 22, UI_ID_BROWSE,
     true},
    {UI_CLASS_BUTTON, UI_LABEL_INSTALL, STYLE_BUTTON, true, 48, 38, true, 122, 30, UI_ID_INSTALL,
     true},
    {UI_CLASS_BUTTON, L"&Repair", STYLE_BUTTON, true, 188, 38, true, 122, 30, UI_ID_REPAIR, true},
    {UI_CLASS_BUTTON, L"&Uninstall", STYLE_BUTTON, true, 328, 38, true, 122, 30, UI_ID_UNINSTALL,
     true},
    {UI_CLASS_STATIC, UI_TIP_TEXT, STYLE_STATIC, false, 18, 252, false, 414, 32, 0, true},
    {UI_CLASS_ICON, L"#102", STYLE_ICON, false, 450, 252, false, 32, 32, 0, false},
    {UI_CLASS_PROGRESS, nullptr, 0, false, STATUS_BAR_X, STATUS_BAR_Y, false, STATUS_BAR_WIDTH,
     STATUS_BAR_HEIGHT, 0, false},
    {UI_CLASS_BUTTON, L"&Cancel", STYLE_BUTTON, true, 375, 301, false, 107, 22, UI_ID_CANCEL, true},
};

const HandlerEntry ui_handlers[] = {
    {MAIL_START, on_create_window},
    {MAIL_WINDOW_QUIT, on_ui_quit},
    {MAIL_UPDATE_DONE, on_ui_update_done},
    {MAIL_SHOW_ERROR, on_show_error},
    {0, nullptr},
};

int32_t ui_control_y(const UiControlRow* layout, int32_t text_height) {
    return layout->y_from_text ? text_height + UI_FOLDER_BOX_OFFSET + layout->y : layout->y;
}

int32_t ui_scale(int32_t length, int32_t dpi) {
    int64_t scaled = (int64_t)length * dpi;
    int64_t half = UI_DPI_BASE / 2;
    return (int32_t)((scaled >= 0 ? scaled + half : scaled - half) / UI_DPI_BASE);
}

// The welcome text is the one row whose text the window fills in as a static.
static bool is_welcome_row(const UiControlRow* layout) {
    return layout->kind == UI_CLASS_STATIC && layout->text == nullptr;
}

void ui_layout_compute(int32_t dpi, int32_t text_height, UiLayout* layout) {
    int32_t taller = text_height - ui_scale(UI_WELCOME_ROOM, dpi);
    int32_t extra = taller > 0 ? taller : 0;
    layout->client_width = ui_scale(UI_CLIENT_WIDTH, dpi);
    layout->client_height = ui_scale(UI_CLIENT_HEIGHT, dpi) + extra;
    for (int i = 0; i < UI_CONTROL_COUNT; i++) {
        const UiControlRow* table = &ui_control_table[i];
        UiControlRow* row = &layout->rows[i];
        *row = *table;
        row->x = ui_scale(table->x, dpi);
        row->width = ui_scale(table->width, dpi);
        row->height = ui_scale(table->height, dpi);
        // The offset from the text's height is scaled as one length, so the
        // rows keep their order at every scale.
        int32_t y = ui_scale(ui_control_y(table, 0), dpi);
        if (table->y_from_text) {
            y += text_height;
        } else if (!is_welcome_row(table)) {
            y += extra;
        }
        if (is_welcome_row(table)) {
            row->height = text_height;
        }
        layout->y[i] = y;
    }
}

int32_t on_create_window(Mailbox* sender, uint32_t id, int32_t param, void* payload) {
    window_init_thread();
    PlatformWindow window = window_create_main(payload, param);
    report_set_box_owner(window);
    mail_set_dialog_window(window);
    mail_post(main_mailbox, MAIL_WINDOW_READY, 0, nullptr, nullptr);
    return 0;
}

int32_t on_ui_quit(Mailbox* sender, uint32_t id, int32_t param, void* payload) {
    // An operation still waiting for its cycle ends the tool itself once its
    // file steps are done; ending now would cut them off.
    if (operation_waiting()) {
        operation_note_close();
        return -1;
    }
    mail_post(main_mailbox, MAIL_QUIT, 0, nullptr, nullptr);
    return -1;
}

// Remembers the handle of each control the logic talks to.
static void keep_control(uint32_t id, PlatformWindow control) {
    switch (id) {
        case UI_ID_FOLDER_BOX:
            ui_controls.folder_box = control;
            return;
        case UI_ID_BROWSE:
            ui_controls.browse = control;
            return;
        case UI_ID_INSTALL:
            ui_controls.install = control;
            return;
        case UI_ID_REPAIR:
            ui_controls.repair = control;
            return;
        case UI_ID_UNINSTALL:
            ui_controls.uninstall = control;
            return;
        case UI_ID_CANCEL:
            ui_controls.cancel = control;
            return;
        default:
            return;
    }
}

// Measures the welcome text in the GUI font for dpi and lays the table out
// for that scale.
static void layout_for_dpi(PlatformWindow window, int32_t dpi, UiLayout* layout) {
    window_use_dpi(window, dpi);
    int32_t text_height =
        window_measure_text(window, UI_WELCOME_TEXT, ui_scale(UI_WELCOME_WIDTH, dpi));
    ui_layout_compute(dpi, text_height, layout);
}

static intptr_t on_window_create(PlatformWindow window) {
    ui_controls.window = window;
    UiLayout layout;
    layout_for_dpi(window, window_dpi(window), &layout);
    window_set_client_size(window, layout.client_width, layout.client_height, nullptr);
    const wchar_t* folder_text = install_folder_shown();
    for (int i = 0; i < UI_CONTROL_COUNT; i++) {
        const UiControlRow* row = &layout.rows[i];
        if (row->kind == UI_CLASS_PROGRESS) {
            // The update engine makes the bar at the table's own place.
            progress_bar_create(window);
            ui_controls.rows[i] = status_progress_bar();
            window_adopt_progress_bar(ui_controls.rows[i]);
            window_place_control(ui_controls.rows[i], row, layout.y[i]);
            continue;
        }
        const wchar_t* text = row->text;
        if (is_welcome_row(row)) {
            text = UI_WELCOME_TEXT;
        }
        if (row->kind == UI_CLASS_EDIT) {
            text = folder_text;
        }
        ui_controls.rows[i] = window_create_control(window, row, text, layout.y[i]);
        keep_control(row->id, ui_controls.rows[i]);
    }
    update_controls(true);
    return 0;
}

// On a display of another scale every control takes its place for the new
// scale and the window its size at the place the system suggests.
static intptr_t on_window_dpi_changed(PlatformWindow window, uintptr_t wparam, intptr_t lparam) {
    UiLayout layout;
    layout_for_dpi(window, (int32_t)(wparam & 0xFFFF), &layout);
    for (int i = 0; i < UI_CONTROL_COUNT; i++) {
        if (ui_controls.rows[i] != nullptr) {
            window_place_control(ui_controls.rows[i], &layout.rows[i], layout.y[i]);
        }
    }
    window_set_client_size(window, layout.client_width, layout.client_height,
                           reinterpret_cast<const UiScreenRect*>(lparam));
    return 0;
}

typedef void (*CommandHandler)(PlatformWindow window, uint32_t code);

static void command_folder_box(PlatformWindow window, uint32_t code) {
    // Keystrokes change nothing; leaving the box takes the folder.
    if (code != UI_EN_KILLFOCUS) {
        return;
    }
    update_controls(false);
}

static void command_browse(PlatformWindow window, uint32_t code) {
    choose_install_folder(window);
}
static void command_install(PlatformWindow window, uint32_t code) {
    on_install_clicked();
}
static void command_repair(PlatformWindow window, uint32_t code) {
    on_repair_clicked(window);
}
static void command_uninstall(PlatformWindow window, uint32_t code) {
    on_uninstall_clicked(window);
}
static void command_cancel(PlatformWindow window, uint32_t code) {
    window_destroy(window);
}

struct CommandEntry {
    uint32_t id;
    CommandHandler handler;
};

static const CommandEntry command_table[] = {
    {UI_ID_FOLDER_BOX, command_folder_box}, {UI_ID_BROWSE, command_browse},
    {UI_ID_INSTALL, command_install},       {UI_ID_REPAIR, command_repair},
    {UI_ID_UNINSTALL, command_uninstall},   {UI_ID_CANCEL, command_cancel},
};

static void on_window_command(PlatformWindow window, uintptr_t wparam) {
    uint32_t id = (uint32_t)(wparam & 0xFFFF);
    uint32_t code = (uint32_t)((wparam >> 16) & 0xFFFF);
    for (const CommandEntry& entry : command_table) {
        if (entry.id == id) {
            entry.handler(window, code);
            return;
        }
    }
}

intptr_t main_window_proc(PlatformWindow window, uint32_t message, uintptr_t wparam,
                          intptr_t lparam) {
    switch (message) {
        case UI_WM_CREATE:
            return on_window_create(window);
        case UI_WM_CLOSE:
            window_destroy(window);
            return 0;
        case UI_WM_DESTROY:
            platform_post_quit(0);
            return 0;
        case UI_WM_DPICHANGED:
            return on_window_dpi_changed(window, wparam, lparam);
        case UI_WM_COMMAND:
            on_window_command(window, wparam);
            return window_default_proc(window, message, wparam, lparam);
        default:
            return window_default_proc(window, message, wparam, lparam);
    }
}
