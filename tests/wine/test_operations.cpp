// The Win32 driver of the operation table (tests/ui/operation_cases.h):
// the tool's real message boxes found, read and answered by window
// messages, the folder then checked through Windows paths.
#include <stdlib.h>

#include "tests/support/release.h"
#include "tests/ui/operation_cases.h"
#include "tests/wine/wine_fixture.h"

#if !defined(CORVANE_WINE_TEST_TOOL) || !defined(CORVANE_WINE_TEST_KEY)
#error "the tool's test build and the test key must be named (POSIX paths)"
#endif

namespace {

constexpr DWORD BOX_TIMEOUT_MS = 20000;
// A box that would still come (a stray question) shows within this.
constexpr DWORD NO_BOX_MS = 1500;

std::wstring windows_relative(const char* path) {
    std::wstring wide = widen(path);
    for (wchar_t& c : wide) {
        if (c == L'/')
            c = L'\\';
    }
    return wide;
}

int button_for(const std::string& answer) {
    if (answer == "yes")
        return IDYES;
    if (answer == "no")
        return IDNO;
    return IDOK;
}

std::wstring label_without_mnemonic(const std::wstring& label) {
    std::wstring plain;
    for (wchar_t c : label) {
        if (c != L'&')
            plain.push_back(c);
    }
    return plain;
}

class WineOperationCaseTest : public WineToolTest, public ::testing::WithParamInterface<int> {
  protected:
    void SetUp() override {
        WineToolTest::SetUp();
        // with_nginx.py runs the server, serving an empty folder; the
        // cases that do not use it never reach it.
        const char* port = getenv("CORVANE_WINE_HTTPS_PORT");
        ASSERT_NE(port, nullptr) << "CORVANE_WINE_HTTPS_PORT is unset: run this program "
                                    "through tests/wine/with_nginx.py (ctest does)";
        SetEnvironmentVariableW(L"CORVANE_TEST_UPDATE_HOST",
                                widen("127.0.0.1:" + std::string(port)).c_str());
        const char* www = getenv("CORVANE_WINE_WWW");
        ASSERT_NE(www, nullptr);
        www_ = wine_path(www);
        host_ = "127.0.0.1:" + std::string(port);
        SetEnvironmentVariableW(L"CORVANE_TEST_SIGNING_KEY",
                                wine_path(CORVANE_WINE_TEST_KEY).c_str());
    }

    void TearDown() override {
        // The server folder outlives the test: leave no release behind.
        DeleteFileW((www_ + L"\\update\\release\\v1\\corvanechat.xml").c_str());
        DeleteFileW((www_ + L"\\CorvaneChat.exe").c_str());
    }

    // Publishes program as the signed release the server offers.
    void publish(const std::string& program) {
        ASSERT_TRUE(win_write_file(www_ + L"\\CorvaneChat.exe", program));
        TestRelease release = make_test_release(program, "https://" + host_ + "/CorvaneChat.exe");
        ASSERT_TRUE(win_write_file(www_ + L"\\update\\release\\v1\\corvanechat.xml",
                                   test_release_xml(release)));
    }

    std::wstring www_;
    std::string host_;
};

TEST_P(WineOperationCaseTest, BoxesAnswersAndFiles) {
    const OperationCase& c = OPERATION_CASES[GetParam()];
    std::wstring folder = temp.file(L"A");
    for (const OperationFile& f : OPERATION_INSTALLATION) {
        std::wstring path = folder + L"\\" + windows_relative(f.path);
        if (c.held != nullptr && (std::string)f.path == c.held)
            path += L"\\held.txt";
        ASSERT_TRUE(win_make_folders(path.substr(0, path.rfind(L'\\'))));
        ASSERT_TRUE(win_write_file(path, f.contents));
    }
    std::string release = test_program_bytes(OPERATION_RELEASE_LENGTH, OPERATION_RELEASE_SEED);
    if (c.server == OPERATION_RELEASE)
        publish(release);
    start(wine_path(CORVANE_WINE_TEST_TOOL), L"-cvdir \"" + folder + L"\"");
    EXPECT_EQ(button_state(tool), expected_state(L"Launch!", true, true, true, false));
    press(tool, c.action == OPERATION_REPAIR ? ID_REPAIR : ID_UNINSTALL);

    for (const OperationBox& expected : c.boxes) {
        if (expected.kind == nullptr)
            break;
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
        ASSERT_TRUE(press_box_button(box, button_for(expected.answer)))
            << "no " << expected.answer << " button";
        ASSERT_TRUE(wait_until([&] { return !IsWindow(box); }, BOX_TIMEOUT_MS)) << "the box stayed";
    }
    HWND stray = tool.find_dialog(NO_BOX_MS);
    EXPECT_EQ(stray, nullptr) << "a further box: " << narrow(read_message_box(stray).text);
    EXPECT_TRUE(wait_until(
        [&] {
            return narrow(label_without_mnemonic(tool.control(ID_INSTALL).text)) == c.label_after &&
                   tool.control(ID_INSTALL).enabled;
        },
        STATE_TIMEOUT_MS))
        << button_state(tool);
    close_and_expect_exit();

    for (const char* kept : c.kept) {
        if (kept == nullptr)
            break;
        for (const OperationFile& f : OPERATION_INSTALLATION) {
            std::string bytes = "<missing>";
            if ((std::string)f.path == kept) {
                win_read_file(folder + L"\\" + windows_relative(kept), &bytes);
                EXPECT_EQ(bytes, f.contents) << kept;
            }
        }
    }
    if (c.program_is_release) {
        std::string bytes;
        win_read_file(folder + L"\\Bin\\CorvaneChat.exe", &bytes);
        EXPECT_TRUE(bytes == release) << "the program is not the release";
    }
    for (const char* gone : c.gone) {
        if (gone == nullptr)
            break;
        EXPECT_FALSE(win_exists(folder + L"\\" + windows_relative(gone))) << gone;
    }
}

std::string case_name(const ::testing::TestParamInfo<int>& param) {
    return OPERATION_CASES[param.param].name;
}

INSTANTIATE_TEST_SUITE_P(Table, WineOperationCaseTest, ::testing::Range(0, OPERATION_CASE_COUNT),
                         case_name);

}  // namespace
