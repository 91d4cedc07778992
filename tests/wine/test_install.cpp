// The test build of the Windows tool under Wine against a real nginx update
// server on loopback (started by with_nginx.py): Install through the proxy
// the user's Internet settings name (tinyproxy, also started by
// with_nginx.py). Install, Launch! and their failures without a proxy are
// rows of the operation table (test_operations.cpp).
#include <stdlib.h>

#include "tests/support/release.h"
#include "tests/wine/internet_settings.h"
#include "tests/wine/wine_fixture.h"

#if !defined(CORVANE_WINE_TEST_TOOL) || !defined(CORVANE_WINE_CHAT_STUB) || \
    !defined(CORVANE_WINE_TEST_KEY)
#error "the tool's test build, the chat stub and the test key must be named (POSIX paths)"
#endif

namespace {

constexpr DWORD INSTALL_TIMEOUT_MS = 90000;
const char MANIFEST_PATH[] = "\\update\\release\\v1\\corvanechat.xml";

std::string environment(const char* name) {
    const char* value = getenv(name);
    return value != nullptr ? value : "";
}

class WineInstallTest : public WineToolTest {
  protected:
    void SetUp() override {
        WineToolTest::SetUp();
        std::string www = environment("CORVANE_WINE_WWW");
        std::string port = environment("CORVANE_WINE_HTTPS_PORT");
        ASSERT_FALSE(www.empty() || port.empty())
            << "CORVANE_WINE_WWW and CORVANE_WINE_HTTPS_PORT are unset: run this program "
               "through tests/wine/with_nginx.py (ctest does)";
        www_ = wine_path(www);
        host_ = "127.0.0.1:" + port;
        ASSERT_TRUE(win_exists(www_ + L"\\update\\release\\v1")) << narrow(www_);
        ASSERT_TRUE(win_read_file(wine_path(CORVANE_WINE_CHAT_STUB), &chat_stub_));
        // The tool inherits these; its test build reads the first two.
        SetEnvironmentVariableW(L"CORVANE_TEST_UPDATE_HOST", widen(host_).c_str());
        SetEnvironmentVariableW(L"CORVANE_TEST_SIGNING_KEY",
                                wine_path(CORVANE_WINE_TEST_KEY).c_str());
        SetEnvironmentVariableW(L"CORVANE_CHAT_RECORD", record_path().c_str());
    }

    void TearDown() override {
        // The server folder outlives the test: leave no release behind.
        DeleteFileW((www_ + widen(MANIFEST_PATH)).c_str());
        DeleteFileW((www_ + L"\\CorvaneChat.exe").c_str());
        DeleteFileW((www_ + L"\\proxy.pac").c_str());
        DeleteFileW((www_ + L"\\direct.pac").c_str());
    }

    // Publishes program as the signed release the server offers.
    void publish(const std::string& program) {
        ASSERT_TRUE(win_write_file(www_ + L"\\CorvaneChat.exe", program));
        std::string url = "https://" + host_ + "/CorvaneChat.exe";
        TestRelease release = make_test_release(program, url);
        ASSERT_TRUE(win_write_file(www_ + widen(MANIFEST_PATH), test_release_xml(release)));
    }

    std::wstring tool_path() const { return wine_path(CORVANE_WINE_TEST_TOOL); }
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

    std::wstring www_;
    std::string host_;
    std::string chat_stub_;
};

// How many CONNECTs to target the proxy's log holds.
size_t tunnels_to(const std::string& log, const std::string& target) {
    size_t count = 0;
    std::string needle = "CONNECT " + target + " ";
    for (size_t at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1)) {
        count++;
    }
    return count;
}

TEST_F(WineInstallTest, InstallTakesTheProxyOfTheUsersInternetSettings) {
    std::string proxy_port = environment("CORVANE_WINE_PROXY_PORT");
    std::wstring proxy_log = wine_path(environment("CORVANE_WINE_PROXY_LOG"));
    ASSERT_FALSE(proxy_port.empty())
        << "CORVANE_WINE_PROXY_PORT is unset: run through with_nginx.py";
    const std::string proxy = "127.0.0.1:" + proxy_port;
    publish(chat_stub_);
    struct Row {
        const char* name;
        bool present;
        DWORD flags;
        std::string proxy;
        std::string bypass;
        bool installs;
        size_t tunnels;  // through tinyproxy: the manifest's and the download's
        std::string script = "";
    };
    // Auto-config scripts, served over plain HTTP beside the release.
    const std::string script_base = "http://127.0.0.1:" + environment("CORVANE_WINE_HTTP_PORT");
    ASSERT_TRUE(win_write_file(
        www_ + L"\\proxy.pac",
        "function FindProxyForURL(url, host) { return \"PROXY " + proxy + "\"; }\n"));
    ASSERT_TRUE(win_write_file(www_ + L"\\direct.pac",
                               "function FindProxyForURL(url, host) { return \"DIRECT\"; }\n"));
    const DWORD manual = INTERNET_SETTINGS_DIRECT | INTERNET_SETTINGS_PROXY;
    const DWORD scripted = manual | INTERNET_SETTINGS_AUTO_CONFIG_URL;
    const Row rows[] = {
        {"no settings", false, 0, "", "", true, 0},
        {"a proxy written but off", true, INTERNET_SETTINGS_DIRECT, proxy, "", true, 0},
        {"the manual proxy", true, manual, proxy, "", true, 2},
        {"the https entry of a list", true, manual, "http=127.0.0.1:1;https=" + proxy, "", true, 2},
        {"the bypass list naming the server", true, manual, proxy, "<local>;127.0.0.*", true, 0},
        // Nothing listens there, and the server would answer directly: an
        // Install that succeeds here went around the proxy.
        {"a proxy that cannot be reached", true, manual, "127.0.0.1:1", "", false, 0},
        // The script's answer for the URL wins over the manual proxy.
        {"the auto-config script's proxy", true, scripted, "127.0.0.1:1", "", true, 2,
         script_base + "/proxy.pac"},
        {"the auto-config script's DIRECT", true, scripted, "127.0.0.1:1", "", true, 0,
         script_base + "/direct.pac"},
    };
    InternetSettingsOverride settings;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(row.present ? settings.write(row.flags, row.proxy, row.bypass, row.script)
                                : settings.remove());
        std::string before;
        ASSERT_TRUE(win_read_file(proxy_log, &before)) << narrow(proxy_log);
        std::wstring folder = temp.file(widen(row.name));
        DeleteFileW(record_path().c_str());
        start(tool_path(), L"-cvdir \"" + folder + L"\"");
        press(tool, ID_INSTALL);
        std::wstring program = folder + L"\\Bin\\CorvaneChat.exe";
        if (row.installs) {
            EXPECT_EQ(tool.wait_exit(INSTALL_TIMEOUT_MS), 0) << button_state(tool);
            EXPECT_TRUE(win_exists(program));
        } else {
            HWND box = tool.find_dialog(INSTALL_TIMEOUT_MS);
            ASSERT_NE(box, nullptr) << "no error box; " << button_state(tool);
            ASSERT_TRUE(PostMessageW(box, WM_COMMAND, IDOK, 0));
            EXPECT_TRUE(state_becomes(expected_state(L"&Install", true, false, false, false)));
            EXPECT_FALSE(win_exists(program));
            close_and_expect_exit();
        }
        std::string after;
        ASSERT_TRUE(win_read_file(proxy_log, &after));
        EXPECT_EQ(tunnels_to(after, host_) - tunnels_to(before, host_), row.tunnels)
            << after.substr(before.size());
        // The chat program an Install started has written its record by now.
        std::string line, current;
        if (row.installs) {
            EXPECT_TRUE(recorded(&line, &current));
        }
    }
}

}  // namespace
