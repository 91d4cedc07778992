// The window's rules that need no window: the layout at every scale, the final-folder and
// preset-folder rules, the pass-on command line, the console's lines, and
// the hand-over from start-up's held update request to the first Install.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "core/mailbox.h"
#include "core/path.h"
#include "core/settings.h"
#include "tests/support/servers.h"
#include "ui/console/console.h"
#include "ui/folder_choice.h"
#include "ui/operations.h"
#include "ui/window.h"
#include "update/cycle.h"
#include "update/manifest.h"

namespace fs = std::filesystem;

namespace {

std::string internal(const std::string& posix) {
    std::wstring wide(posix.begin(), posix.end());
    return path_from_wide(wide.c_str());
}

TEST(UiLayout, RowsBelowTheWelcomeTextFollowItsHeight) {
    struct Row {
        uint32_t id;
        int32_t y_for_100;
        int32_t y_for_130;
    };
    const Row rows[] = {
        {UI_ID_FOLDER_BOX, 136, 166}, {UI_ID_BROWSE, 135, 165},    {UI_ID_INSTALL, 174, 204},
        {UI_ID_REPAIR, 174, 204},     {UI_ID_UNINSTALL, 174, 204}, {UI_ID_CANCEL, 301, 301},
    };
    for (const Row& row : rows) {
        const UiControlRow* layout = nullptr;
        for (const UiControlRow& s : ui_control_table) {
            if (s.id == row.id) {
                layout = &s;
            }
        }
        ASSERT_NE(layout, nullptr) << row.id;
        EXPECT_EQ(ui_control_y(layout, 100), row.y_for_100) << row.id;
        EXPECT_EQ(ui_control_y(layout, 130), row.y_for_130) << row.id;
    }
    // The tip, the icon and the bar keep their places.
    EXPECT_EQ(ui_control_y(&ui_control_table[6], 500), 252);
    EXPECT_EQ(ui_control_y(&ui_control_table[7], 500), 252);
    EXPECT_EQ(ui_control_table[8].kind, UI_CLASS_PROGRESS);
    EXPECT_EQ(ui_control_y(&ui_control_table[8], 500), 302);
}

// The layout at every scale and text height: each control inside the
// client area, no two overlapping, and at 96 DPI with a text that fits the
// room the table itself in 500 x 340.
TEST(UiLayout, EveryScaleKeepsTheControlsInsideAndApart) {
    struct Row {
        int32_t dpi;
        int32_t text_height;  // the welcome text as measured at that scale
    };
    const Row rows[] = {
        {96, 100},  {96, 130},  {96, 300},  {120, 120}, {120, 163}, {144, 195},
        {144, 200}, {144, 420}, {192, 200}, {192, 260}, {192, 700},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.dpi << " dpi, text " << row.text_height);
        UiLayout layout;
        ui_layout_compute(row.dpi, row.text_height, &layout);
        const int32_t room = ui_scale(UI_WELCOME_ROOM, row.dpi);
        const int32_t grown = row.text_height > room ? row.text_height - room : 0;
        EXPECT_EQ(layout.client_width, ui_scale(UI_CLIENT_WIDTH, row.dpi));
        EXPECT_EQ(layout.client_height, ui_scale(UI_CLIENT_HEIGHT, row.dpi) + grown);
        for (int i = 0; i < UI_CONTROL_COUNT; i++) {
            const UiControlRow& a = layout.rows[i];
            EXPECT_GE(a.x, 0) << i;
            EXPECT_GE(layout.y[i], 0) << i;
            EXPECT_LE(a.x + a.width, layout.client_width) << i;
            EXPECT_LE(layout.y[i] + a.height, layout.client_height) << i;
            for (int j = i + 1; j < UI_CONTROL_COUNT; j++) {
                const UiControlRow& b = layout.rows[j];
                const bool apart = a.x + a.width <= b.x || b.x + b.width <= a.x ||
                                   layout.y[i] + a.height <= layout.y[j] ||
                                   layout.y[j] + b.height <= layout.y[i];
                EXPECT_TRUE(apart) << i << " overlaps " << j;
            }
            if (row.dpi == UI_DPI_BASE && grown == 0 && i > 0) {
                const UiControlRow& table = ui_control_table[i];
                EXPECT_EQ(a.x, table.x) << i;
                EXPECT_EQ(a.width, table.width) << i;
                EXPECT_EQ(a.height, table.height) << i;
                EXPECT_EQ(layout.y[i], ui_control_y(&table, row.text_height)) << i;
            }
        }
    }
}

TEST(UiLayout, ActionButtonsStartDisabled) {
    for (const UiControlRow& s : ui_control_table) {
        bool off = s.id == UI_ID_INSTALL || s.id == UI_ID_REPAIR || s.id == UI_ID_UNINSTALL ||
                   s.id == UI_ID_CANCEL;
        EXPECT_EQ(s.disabled, off) << s.id;
    }
}

TEST(UiFolderChoice, FinalFolderRule) {
    TestTempDir dir;
    fs::create_directories(dir.file("Installed/Bin/CorvaneChat.exe"));
    struct Case {
        const char* chosen;  // under dir, or a drive path
        const char* expected;
    };
    const Case cases[] = {
        {"Games", "Games/CorvaneChat"},
        {"Games/corvanechat", "Games/corvanechat"},
        {"Games/CORVANECHAT", "Games/CORVANECHAT"},
        {"Games/CorvaneChat2", "Games/CorvaneChat2/CorvaneChat"},
        {"Installed", "Installed"},
    };
    for (const Case& c : cases) {
        std::string chosen = internal(dir.file(c.chosen));
        EXPECT_EQ(std::string(final_install_folder(chosen.c_str())), internal(dir.file(c.expected)))
            << c.chosen;
    }
    EXPECT_STREQ(final_install_folder("/E:"), "/E:/CorvaneChat");
    EXPECT_STREQ(final_install_folder("/D:/Games"), "/D:/Games/CorvaneChat");
}

TEST(UiFolderChoice, PickerStartsAtTheFolderOrItsParent) {
    TestTempDir dir;
    fs::create_directories(dir.file("There"));
    std::string there = internal(dir.file("There"));
    std::string missing = internal(dir.file("Missing/CorvaneChat"));
    EXPECT_STREQ(picker_initial_folder(there.c_str()), path_to_display_wide(there.c_str()));
    EXPECT_STREQ(picker_initial_folder(missing.c_str()),
                 path_to_display_wide(internal(dir.file("Missing")).c_str()));
    EXPECT_STREQ(picker_initial_folder(nullptr), L"C:\\");
    EXPECT_STREQ(picker_initial_folder("relative"), L"C:\\");
}

TEST(UiLaunch, PassOnCommandLine) {
    struct Case {
        const wchar_t* tail;
        const char* base;
        std::wstring expected;
    };
    std::wstring own = platform_program_path();
    const Case cases[] = {
        {L"", nullptr, L"CorvaneChat.exe  -bootstrap \"" + own + L"\""},
        {L"-cvdir \"D:\\My Chat\"", nullptr,
         L"CorvaneChat.exe -cvdir \"D:\\My Chat\" -bootstrap \"" + own + L"\""},
        {L"-basedir D:/Tools", "/D:/Tools",
         L"CorvaneChat.exe -basedir D:/Tools -bootstrap \"D:\\Tools\\CorvaneChatBootstrap.exe\""},
    };
    for (const Case& c : cases) {
        command_tail = c.tail;
        settings_store(&base_folder, c.base);
        wchar_t* line = chat_command_line();
        ASSERT_NE(line, nullptr);
        EXPECT_EQ(std::wstring(line), c.expected);
        free(line);
    }
    command_tail = L"";
    settings_store(&base_folder, nullptr);
}

TEST(UiConsole, CommandLines) {
    struct Case {
        const char* line;
        ConsoleCommand command;
        const char* argument;  // null: none
    };
    const Case cases[] = {
        {"install", CONSOLE_INSTALL, nullptr},
        {"repair", CONSOLE_REPAIR, nullptr},
        {"uninstall", CONSOLE_UNINSTALL, nullptr},
        {"cancel", CONSOLE_CANCEL, nullptr},
        {"close", CONSOLE_CLOSE, nullptr},
        {"yes", CONSOLE_YES, nullptr},
        {"no", CONSOLE_NO, nullptr},
        {"install  ", CONSOLE_INSTALL, nullptr},
        {"folder /tmp/My Chat", CONSOLE_FOLDER, "/tmp/My Chat"},
        {"folder", CONSOLE_FOLDER, ""},
        {"folder ", CONSOLE_FOLDER, ""},
        {"browse /mnt/usb", CONSOLE_BROWSE, "/mnt/usb"},
        {"browse", CONSOLE_BROWSE, nullptr},
        {"browse ", CONSOLE_BROWSE, nullptr},
        {"", CONSOLE_NONE, nullptr},
        {"Install", CONSOLE_NONE, nullptr},
        {"installer", CONSOLE_NONE, nullptr},
        {"yes please", CONSOLE_NONE, nullptr},
        {"folders x", CONSOLE_NONE, nullptr},
    };
    for (const Case& c : cases) {
        ConsoleLine parsed = console_parse_line(c.line);
        EXPECT_EQ(parsed.command, c.command) << c.line;
        if (c.argument == nullptr) {
            EXPECT_EQ(parsed.argument, nullptr) << c.line;
        } else {
            ASSERT_NE(parsed.argument, nullptr) << c.line;
            EXPECT_STREQ(parsed.argument, c.argument) << c.line;
        }
    }
}

// The updater thread stopped at its first message until the gate opens, as
// a busy machine may stop it before it reaches start-up's held request.
std::atomic<bool> updater_gate{false};
std::atomic<int> completions{0};

int32_t hold_updater(Mailbox* sender, uint32_t id, int32_t param, void* payload) {
    while (!updater_gate.load()) {
        platform_sleep_ms(1);
    }
    return 0;
}

int32_t count_completion(Mailbox* sender, uint32_t id, int32_t param, void* payload) {
    completions++;
    return on_ui_update_done(sender, id, param, payload);
}

TEST(UiStartup, InstallRightAfterStartUpRunsOneCycle) {
    // Refused at once: every cycle fails fast and says so with a completion.
    update_set_host_for_tests("127.0.0.1:9");
    const HandlerEntry ui_table[] = {{MAIL_UPDATE_DONE, count_completion}, {0, nullptr}};
    ASSERT_NE(mailbox_attach_current(ui_table), nullptr);
    const HandlerEntry held_updater[] = {
        {MAIL_START, hold_updater}, {MAIL_RUN_UPDATE, update_request}, {0, nullptr}};
    // Start-up: hold, start the updater, post the request it must decline.
    updates_held = 1;
    updater_mailbox = mailbox_start_thread(held_updater, 0, nullptr);
    ASSERT_NE(updater_mailbox, nullptr);
    ASSERT_TRUE(mail_post(updater_mailbox, MAIL_RUN_UPDATE, 0, nullptr, nullptr));
    startup_done = true;
    // The updater goes on once Install has released the hold, or after a
    // while when Install waits for it.
    std::thread gate([] {
        for (int waited = 0; waited < 1000 && updates_held.load() != 0; waited++) {
            platform_sleep_ms(1);
        }
        updater_gate = true;
    });
    int32_t outcome = -1;
    bool ended = wait_for_cycle(&outcome);
    gate.join();
    EXPECT_TRUE(ended);
    EXPECT_EQ(outcome, 0);
    // A second cycle would have ended by now too.
    mail_wait(MAIL_QUIT, 1500);
    EXPECT_EQ(completions.load(), 1) << "start-up's request ran a cycle of its own";
    mail_post(updater_mailbox, MAIL_QUIT, 0, nullptr, nullptr);
}

TEST(UiStartup, InstallWithoutAnUpdaterFailsAtOnce) {
    const HandlerEntry ui_table[] = {{MAIL_UPDATE_DONE, count_completion}, {0, nullptr}};
    ASSERT_NE(mailbox_attach_current(ui_table), nullptr);
    // Start-up could not start the updater: it noted its request as declined.
    updater_mailbox = nullptr;
    held_request_declined = true;
    startup_done = true;
    int32_t outcome = -1;
    EXPECT_FALSE(wait_for_cycle(&outcome));
    EXPECT_EQ(outcome, 0);
    EXPECT_FALSE(operation_waiting());
}

}  // namespace
