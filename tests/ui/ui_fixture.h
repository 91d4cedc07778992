// What the tool tests share: a home folder of their own, an nginx update
// server over HTTPS with signed releases, and the tool under scripted input.
#pragma once

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/path.h"
#include "platform/platform.h"
#include "tests/support/release.h"
#include "tests/support/servers.h"
#include "tests/ui/tool_process.h"

namespace fs = std::filesystem;

constexpr const char UI_MANIFEST_PATH[] = "/update/release/v1/corvanechat.xml";
constexpr int UI_EXIT_TIMEOUT_MS = 60000;

inline std::string read_text(const std::string& path) {
    std::string bytes;
    if (!test_read_file(path, &bytes)) {
        return "<missing>";
    }
    return bytes;
}

inline std::string demo_chat_bytes() {
    return read_text(CORVANE_DEMO_CHAT);
}

// The tool's display form of a POSIX path, as the state line shows it.
inline std::string display(const std::string& posix_path) {
    int units = platform_utf8_to_wide(posix_path.c_str(), nullptr, 0);
    std::wstring wide((size_t)units, L'\0');
    platform_utf8_to_wide(posix_path.c_str(), &wide[0], units);
    const char* shown = path_to_display(path_from_wide(wide.c_str()));
    return shown != nullptr ? shown : "";
}

// Waits until the download has moved the bar past 0%.
inline bool download_under_way(ToolProcess& tool) {
    for (;;) {
        std::string line = tool.expect("progress: ");
        if (line.empty()) {
            return false;
        }
        if (line != "progress: 0%" && line != "progress: error") {
            return true;
        }
    }
}

class UiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(home.file("data"));
        fs::create_directories(home.file("Desktop"));
    }

    // Starts nginx over HTTPS serving www (with server_config added).
    void start_server(const std::string& server_config = "") {
        fs::create_directories(www.file("update/release/v1"));
        NginxOptions options;
        options.root = www.path();
        options.http = false;
        options.https = true;
        options.server_config = server_config;
        std::string error;
        ASSERT_TRUE(nginx.start(options, &error)) << error;
        host = "127.0.0.1:" + std::to_string(nginx.https_port());
    }

    // Publishes program as the release the server offers.
    void publish(const std::string& program) {
        ASSERT_TRUE(test_write_file(www.file("CorvaneChat.exe"), program));
        TestRelease release = make_test_release(program, nginx.https_url("/CorvaneChat.exe"));
        ASSERT_TRUE(test_write_file(www.path() + UI_MANIFEST_PATH, test_release_xml(release)));
    }

    std::vector<std::string> environment() const {
        return {"HOME=" + home.path(), "XDG_DATA_HOME=" + home.file("data"),
                "CORVANE_TEST_UPDATE_HOST=" + (host.empty() ? std::string("127.0.0.1:9") : host),
                std::string("CORVANE_TEST_SIGNING_KEY=") + CORVANE_TEST_KEY,
                "CORVANE_CHAT_RECORD=" + record_path()};
    }

    void start_tool(const std::vector<std::string>& arguments) {
        std::string error;
        ASSERT_TRUE(tool.start(arguments, environment(), &error)) << error;
    }
    void start_tool_in(const std::string& folder) { start_tool({"-cvdir", folder}); }

    std::string record_path() const { return home.file("chat-arguments.txt"); }
    // The arguments the chat program was started with, one per entry.
    std::vector<std::string> recorded_arguments() const {
        std::vector<std::string> args;
        std::string text = read_text(record_path());
        if (text == "<missing>") {
            return args;
        }
        size_t at = 0, end;
        while ((end = text.find('\n', at)) != std::string::npos) {
            args.push_back(text.substr(at, end - at));
            at = end + 1;
        }
        return args;
    }
    bool chat_started() const { return fs::exists(record_path()); }

    // An install folder holding the given files (relative paths, contents).
    std::string make_folder(const std::string& name,
                            const std::vector<std::pair<std::string, std::string>>& files) {
        std::string folder = home.file(name);
        fs::create_directories(folder);
        for (const auto& f : files) {
            fs::create_directories(fs::path(folder + "/" + f.first).parent_path());
            EXPECT_TRUE(test_write_file(folder + "/" + f.first, f.second));
        }
        return folder;
    }

    // The state line the tool writes for a label and four switches.
    static std::string state_line(const std::string& label, bool install, bool repair,
                                  bool uninstall, bool cancel, const std::string& folder) {
        auto on = [](bool b) { return b ? "on" : "off"; };
        return "state: " + label + " install=" + on(install) + " repair=" + on(repair) +
               " uninstall=" + on(uninstall) + " cancel=" + on(cancel) +
               " folder=" + display(folder);
    }

    // Ends the tool by closing the window and expects exit code 0.
    void close_and_expect_exit() {
        tool.send("close");
        EXPECT_EQ(tool.wait_exit(UI_EXIT_TIMEOUT_MS), 0) << tool.transcript();
    }

    static bool executable(const std::string& path) {
        struct stat st;
        return stat(path.c_str(), &st) == 0 && (st.st_mode & S_IXUSR) != 0;
    }

    TestTempDir home;
    TestTempDir www;
    NginxServer nginx;
    std::string host;
    ToolProcess tool;
};
