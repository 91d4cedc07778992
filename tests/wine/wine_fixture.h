// Shared by the Wine window and install tests: the texts and layout the
// window must show, a fresh temporary folder per test and the tool under
// test as a child process.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "tests/wine/wine_tool.h"

constexpr int ID_FOLDER_BOX = 1001;
constexpr int ID_BROWSE = 1002;
constexpr int ID_INSTALL = 1003;
constexpr int ID_REPAIR = 1004;
constexpr int ID_UNINSTALL = 1005;
constexpr int ID_CANCEL = 1101;

// Wine starts a program in 2-3 s on an idle machine; the test machine is
// shared, so waits are generous.
constexpr DWORD WINDOW_TIMEOUT_MS = 30000;
constexpr DWORD EXIT_TIMEOUT_MS = 30000;
constexpr DWORD STATE_TIMEOUT_MS = 10000;

extern const wchar_t WELCOME_TEXT[];
extern const wchar_t TIP_TEXT[];

// The four action buttons and the folder controls at one moment, in a form
// that prints well when a comparison fails.
std::string button_state(const WinTool& tool);
// The same form from what the test expects.
std::string expected_state(const wchar_t* label, bool install, bool repair, bool uninstall,
                           bool cancel, bool folder_controls = true);

// Posts a button press (BM_CLICK) to the control with the identifier.
void press(const WinTool& tool, int id);
// Posts WM_COMMAND for a control as the control itself would.
void post_command(const WinTool& tool, int id, int code);

class WineToolTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(temp.path().empty()) << "no temporary folder"; }

    // Starts program with the tail and waits for its main window.
    void start(const std::wstring& program, const std::wstring& tail) {
        std::string error;
        ASSERT_TRUE(tool.start(program, tail, temp.path(), &error)) << error;
        ASSERT_NE(tool.find_main_window(WINDOW_TIMEOUT_MS), nullptr)
            << "no window of class CorvaneChatBootstrap; process "
            << (tool.running() ? "still running"
                               : "ended with " + std::to_string(tool.wait_exit(0)));
    }

    // Waits for the buttons to show state; the last seen state on failure.
    ::testing::AssertionResult state_becomes(const std::string& state,
                                             DWORD timeout_ms = STATE_TIMEOUT_MS) {
        std::string seen;
        if (wait_until(
                [&] {
                    seen = button_state(tool);
                    return seen == state;
                },
                timeout_ms)) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure() << "expected " << state << "\n     saw " << seen;
    }

    void close_and_expect_exit() {
        ASSERT_TRUE(PostMessageW(tool.window(), WM_CLOSE, 0, 0));
        EXPECT_EQ(tool.wait_exit(EXIT_TIMEOUT_MS), 0);
    }

    WinTempDir temp;
    WinTool tool;
};
