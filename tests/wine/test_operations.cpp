// The Win32 driver of the operation table (tests/ui/operation_cases.h):
// the tool's real message boxes found, read and answered by window
// messages, the folder then checked through Windows paths.
#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>

#include "tests/support/release.h"
#include "tests/ui/operation_cases.h"
#include "tests/wine/wine_fixture.h"

#if !defined(CORVANE_WINE_TEST_TOOL) || !defined(CORVANE_WINE_CHAT_STUB) || \
    !defined(CORVANE_WINE_TEST_KEY)
#error "the tool's test build, the chat stub and the test key must be named (POSIX paths)"
#endif

namespace {

constexpr DWORD BOX_TIMEOUT_MS = 20000;
// A box that would still come (a stray question) shows within this.
constexpr DWORD NO_BOX_MS = 1500;
constexpr DWORD INSTALL_TIMEOUT_MS = 90000;
// Nothing listens there: a connection is refused at once.
const wchar_t NO_SERVER_HOST[] = L"127.0.0.1:9";
const char MANIFEST_PATH[] = "\\update\\release\\v1\\corvanechat.xml";

std::wstring windows_relative(const char* path) {
    std::wstring wide = widen(path);
    for (wchar_t& c : wide) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return wide;
}

// A drive root ends in its separator already.
std::wstring inside(const std::wstring& folder, const char* relative) {
    std::wstring joined = folder;
    if (joined.empty() || joined.back() != L'\\') {
        joined += L'\\';
    }
    return joined + windows_relative(relative);
}

// An argument as a user types it: quoted when it holds a blank.
std::wstring argument_text(const std::wstring& argument) {
    if (argument.find(L' ') == std::wstring::npos) {
        return argument;
    }
    return L"\"" + argument + L"\"";
}

int button_for(const std::string& answer) {
    if (answer == "yes") {
        return IDYES;
    }
    if (answer == "no") {
        return IDNO;
    }
    return IDOK;
}

std::wstring label_without_mnemonic(const std::wstring& label) {
    std::wstring plain;
    for (wchar_t c : label) {
        if (c != L'&') {
            plain.push_back(c);
        }
    }
    return plain;
}

// The chat program running from the installation: started suspended, so it
// holds its program file as a running program does without doing anything,
// and ended with the case.
class RunningProgram {
  public:
    ~RunningProgram() {
        if (info_.hProcess == nullptr) {
            return;
        }
        TerminateProcess(info_.hProcess, 0);
        WaitForSingleObject(info_.hProcess, 10000);
        CloseHandle(info_.hProcess);
        CloseHandle(info_.hThread);
    }
    bool start(const std::wstring& program) {
        std::wstring line = L"\"" + program + L"\"";
        std::vector<wchar_t> buffer(line.begin(), line.end());
        buffer.push_back(0);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        return CreateProcessW(program.c_str(), buffer.data(), nullptr, nullptr, FALSE,
                              CREATE_SUSPENDED, nullptr, nullptr, &startup, &info_) != 0;
    }

  private:
    PROCESS_INFORMATION info_ = {};
};

class WineOperationCaseTest : public WineToolTest, public ::testing::WithParamInterface<int> {
  protected:
    void SetUp() override {
        WineToolTest::SetUp();
        // with_nginx.py runs the server, serving an empty folder, and maps a
        // drive of the run's own.
        const char* port = getenv("CORVANE_WINE_HTTPS_PORT");
        const char* www = getenv("CORVANE_WINE_WWW");
        const char* drive = getenv("CORVANE_WINE_DRIVE");
        ASSERT_TRUE(port != nullptr && www != nullptr && drive != nullptr)
            << "CORVANE_WINE_HTTPS_PORT, CORVANE_WINE_WWW or CORVANE_WINE_DRIVE is unset: run "
               "this program through tests/wine/with_nginx.py (ctest does)";
        www_ = wine_path(www);
        host_ = "127.0.0.1:" + std::string(port);
        drive_root_ = widen(drive) + L"\\";
        ASSERT_TRUE(win_read_file(wine_path(CORVANE_WINE_CHAT_STUB), &chat_stub_));
        // The tool inherits these, and the chat program it starts the last.
        SetEnvironmentVariableW(L"CORVANE_TEST_SIGNING_KEY",
                                wine_path(CORVANE_WINE_TEST_KEY).c_str());
        SetEnvironmentVariableW(L"CORVANE_CHAT_RECORD", record_path().c_str());
        // The shortcut folders, where the tool looks through the shell, are
        // the test's own.
        const struct {
            const wchar_t* value;
            int csidl;
        } shell_folders[] = {{L"Programs", CSIDL_PROGRAMS}, {L"Desktop", CSIDL_DESKTOPDIRECTORY}};
        for (const auto& shell : shell_folders) {
            overrides_.push_back(
                std::make_unique<WinShellFolderOverride>(shell.value, temp.file(shell.value)));
            ASSERT_TRUE(overrides_.back()->ok()) << narrow(shell.value);
            ASSERT_EQ(win_shell_folder(shell.csidl), temp.file(shell.value));
            shortcuts_.push_back(temp.file(shell.value) + L"\\Corvane Chat.lnk");
        }
        remove_own_files();
    }

    void TearDown() override { remove_own_files(); }

    // What outlives the test's folder: the server's release and what an
    // Install put on the drive.
    void remove_own_files() {
        DeleteFileW((www_ + widen(MANIFEST_PATH)).c_str());
        DeleteFileW((www_ + L"\\CorvaneChat.exe").c_str());
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::path(drive_root_ + L"Bin"), ignored);
    }

    // Publishes program as the signed release the server offers; a slow
    // release is downloaded at a throttled rate.
    void publish(const std::string& program, bool slow) {
        ASSERT_TRUE(win_write_file(www_ + L"\\CorvaneChat.exe", program));
        std::string url = "https://" + host_ + (slow ? "/slow" : "") + "/CorvaneChat.exe";
        TestRelease release = make_test_release(program, url);
        ASSERT_TRUE(win_write_file(www_ + widen(MANIFEST_PATH), test_release_xml(release)));
    }

    std::wstring record_path() const { return temp.file(L"chat-record.txt"); }

    // The command line and current folder the chat program recorded
    // (waiting for it a while: it runs after the tool has gone).
    bool recorded(std::string* line, std::string* folder) {
        std::string text;
        if (!wait_until([&] { return win_read_file(record_path(), &text); }, 20000)) {
            return false;
        }
        size_t end = text.find('\n');
        *line = text.substr(0, end);
        *folder = end == std::string::npos ? "" : text.substr(end + 1);
        if (!folder->empty() && folder->back() == '\n') {
            folder->pop_back();
        }
        return true;
    }

    // What a file of the installation holds before the case.
    std::string contents_before(const OperationCase& c, const OperationFile& f) const {
        if ((c.action == OPERATION_LAUNCH || c.chat_running) &&
            (std::string)f.path == "Bin/CorvaneChat.exe") {
            return chat_stub_;
        }
        return f.contents;
    }

    std::wstring www_;
    std::string host_;
    std::wstring drive_root_;
    std::string chat_stub_;
    std::vector<std::wstring> shortcuts_;
    std::vector<std::unique_ptr<WinShellFolderOverride>> overrides_;
};

TEST_P(WineOperationCaseTest, BoxesAnswersAndFiles) {
    const OperationCase& c = OPERATION_CASES[GetParam()];
    std::wstring folder;
    if (c.folder == OPERATION_FOLDER_INSTALLED) {
        folder = temp.file(L"A");
        for (const OperationFile& f : OPERATION_INSTALLATION) {
            std::wstring path = inside(folder, f.path);
            if (c.held != nullptr && (std::string)f.path == c.held) {
                path += L"\\held.txt";
            }
            ASSERT_TRUE(win_make_folders(path.substr(0, path.rfind(L'\\'))));
            ASSERT_TRUE(win_write_file(path, contents_before(c, f)));
        }
    } else if (c.folder == OPERATION_FOLDER_NEW) {
        folder = temp.file(L"New\\deep\\Corvane Chat");
    } else if (c.folder == OPERATION_FOLDER_UNDER_FILE) {
        ASSERT_TRUE(win_write_file(temp.file(L"file"), "not a folder"));
        folder = temp.file(L"file\\CorvaneChat");
    } else {
        folder = drive_root_;
        ASSERT_TRUE(win_exists(folder)) << narrow(folder) << " is not mapped";
    }
    for (const std::wstring& shortcut : shortcuts_) {
        if (c.shortcuts != OPERATION_NO_SHORTCUTS) {
            ASSERT_TRUE(win_make_shortcut(shortcut, inside(folder, "Bin/CorvaneChat.exe")))
                << narrow(shortcut);
        }
    }
    RunningProgram chat;
    if (c.chat_running) {
        ASSERT_TRUE(chat.start(inside(folder, "Bin/CorvaneChat.exe")));
    }

    std::string release = test_program_bytes(OPERATION_RELEASE_LENGTH, OPERATION_RELEASE_SEED);
    if (c.server == OPERATION_CHAT_RELEASE) {
        release = chat_stub_;
    }
    if (c.server == OPERATION_SLOW_RELEASE) {
        release = test_program_bytes(OPERATION_SLOW_RELEASE_LENGTH, OPERATION_RELEASE_SEED);
    }
    if (c.server == OPERATION_RELEASE || c.server == OPERATION_CHAT_RELEASE ||
        c.server == OPERATION_SLOW_RELEASE) {
        publish(release, c.server == OPERATION_SLOW_RELEASE);
    }
    SetEnvironmentVariableW(L"CORVANE_TEST_UPDATE_HOST", c.server == OPERATION_NO_SERVER
                                                             ? NO_SERVER_HOST
                                                             : widen(host_).c_str());

    std::wstring tail = L"-cvdir " + argument_text(folder);
    for (const char* argument : c.arguments) {
        if (argument != nullptr) {
            tail += L" " + argument_text(widen(argument));
        }
    }
    std::wstring tool_path = wine_path(CORVANE_WINE_TEST_TOOL);
    start(tool_path, tail);
    bool installed = c.folder == OPERATION_FOLDER_INSTALLED;
    EXPECT_EQ(button_state(tool), installed
                                      ? expected_state(L"Launch!", true, true, true, false)
                                      : expected_state(L"&Install", true, false, false, false));
    // A drive root too reads as it was given.
    EXPECT_EQ(narrow(tool.control(ID_FOLDER_BOX).text), narrow(folder));
    // Start-up has settled the folder before the window shows.
    if (c.leftover.path != nullptr) {
        ASSERT_TRUE(win_write_file(inside(folder, c.leftover.path), c.leftover.contents));
    }
    if (c.action == OPERATION_REPAIR) {
        press(tool, ID_REPAIR);
    } else if (c.action == OPERATION_UNINSTALL) {
        press(tool, ID_UNINSTALL);
    } else {
        press(tool, ID_INSTALL);
    }

    for (const OperationBox& expected : c.boxes) {
        if (expected.kind == nullptr) {
            break;
        }
        SCOPED_TRACE(expected.text);
        HWND box = tool.find_dialog(BOX_TIMEOUT_MS);
        ASSERT_NE(box, nullptr) << "no box; " << button_state(tool);
        MessageBoxInfo seen = read_message_box(box);
        EXPECT_EQ(narrow(seen.caption), expected.caption);
        if (expected.text_is_start) {
            EXPECT_EQ(narrow(seen.text).rfind(expected.text, 0), 0u) << narrow(seen.text);
        } else {
            EXPECT_EQ(narrow(seen.text), expected.text);
        }
        EXPECT_EQ(seen.kind, expected.kind);
        bool busy = tool.control(ID_CANCEL).enabled && !tool.control(ID_INSTALL).enabled &&
                    !tool.control(ID_FOLDER_BOX).enabled && !tool.control(ID_BROWSE).enabled;
        EXPECT_EQ(busy, expected.busy) << button_state(tool);
        ASSERT_TRUE(press_box_button(box, button_for(expected.answer)))
            << "no " << expected.answer << " button";
        ASSERT_TRUE(wait_until([&] { return !IsWindow(box); }, BOX_TIMEOUT_MS)) << "the box stayed";
    }
    if (c.server == OPERATION_SLOW_RELEASE) {
        // The staging file is there once the download runs.
        std::wstring stage = inside(folder, "Bin/CorvaneChat.exe.stage");
        ASSERT_TRUE(wait_until([&] { return win_exists(stage); }, INSTALL_TIMEOUT_MS))
            << button_state(tool);
        if (c.cancel_download) {
            press(tool, ID_CANCEL);
        } else {
            ASSERT_TRUE(tool.close());
        }
        EXPECT_EQ(tool.wait_exit(EXIT_TIMEOUT_MS), 0);
    } else if (c.label_after == nullptr) {
        EXPECT_EQ(tool.wait_exit(INSTALL_TIMEOUT_MS), 0) << button_state(tool);
    } else {
        HWND stray = tool.find_dialog(NO_BOX_MS);
        EXPECT_EQ(stray, nullptr) << "a further box: " << narrow(read_message_box(stray).text);
        EXPECT_TRUE(wait_until(
            [&] {
                return narrow(label_without_mnemonic(tool.control(ID_INSTALL).text)) ==
                           c.label_after &&
                       tool.control(ID_INSTALL).enabled && tool.control(ID_FOLDER_BOX).enabled;
            },
            STATE_TIMEOUT_MS))
            << button_state(tool);
        HWND bar = FindWindowExW(tool.window(), nullptr, PROGRESS_CLASSW, nullptr);
        if (c.progress == OPERATION_PROGRESS_NONE) {
            EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 0);
        } else if (c.progress == OPERATION_PROGRESS_ERROR) {
            // The error state's red bar: Wine keeps no state to read back.
            EXPECT_EQ(SendMessageW(bar, PBM_GETBARCOLOR, 0, 0), (LRESULT)RGB(255, 0, 0));
        }
        close_and_expect_exit();
    }

    for (const char* kept : c.kept) {
        if (kept == nullptr) {
            break;
        }
        EXPECT_TRUE(win_exists(inside(folder, kept))) << kept;
        for (const OperationFile& f : OPERATION_INSTALLATION) {
            std::string bytes = "<missing>";
            if ((std::string)f.path == kept) {
                win_read_file(inside(folder, kept), &bytes);
                EXPECT_TRUE(bytes == contents_before(c, f)) << kept;
            }
        }
    }
    if (c.leftover.path != nullptr) {
        std::string bytes = "<missing>";
        win_read_file(inside(folder, c.leftover.path), &bytes);
        EXPECT_EQ(bytes, c.leftover.contents);
    }
    if (c.program_is_release) {
        std::string bytes;
        win_read_file(inside(folder, "Bin/CorvaneChat.exe"), &bytes);
        EXPECT_TRUE(bytes == release) << "the program is not the release";
    }
    for (const char* gone : c.gone) {
        if (gone == nullptr) {
            break;
        }
        EXPECT_FALSE(win_exists(inside(folder, gone))) << gone;
    }
    for (const std::wstring& shortcut : shortcuts_) {
        EXPECT_EQ(win_exists(shortcut), c.shortcuts == OPERATION_SHORTCUTS_KEPT)
            << narrow(shortcut);
    }
    if (c.chat_started) {
        std::string line, current;
        ASSERT_TRUE(recorded(&line, &current)) << "the chat program was not started";
        // The tail as the tool got it, not re-quoted, and the tool's path.
        std::wstring own = c.own_path != nullptr ? widen(c.own_path) : tool_path;
        EXPECT_EQ(line, narrow(L"CorvaneChat.exe " + tail + L" -bootstrap \"" + own + L"\""));
        // The chat program runs in the tool's current folder, not in "Bin".
        EXPECT_EQ(current, narrow(temp.path()));
    } else {
        EXPECT_FALSE(win_exists(record_path())) << "the chat program was started";
    }
}

std::string case_name(const ::testing::TestParamInfo<int>& param) {
    return OPERATION_CASES[param.param].name;
}

INSTANTIATE_TEST_SUITE_P(Table, WineOperationCaseTest, ::testing::Range(0, OPERATION_CASE_COUNT),
                         case_name);

}  // namespace
