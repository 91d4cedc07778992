// What the update-cycle tests share: the test's thread stands for the main
// and UI threads (its mailbox receives the broadcast), the updater runs on
// a thread of its own, and a sink counts the reports the cycle makes.
#pragma once

#include <gtest/gtest.h>
#include <wchar.h>

#include <atomic>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/mailbox.h"
#include "core/report.h"
#include "core/settings.h"
#include "platform/platform.h"
#include "tests/support/release.h"
#include "tests/support/servers.h"
#include "update/cycle.h"
#include "update/status.h"

constexpr int32_t CYCLE_TIMEOUT_MS = 60000;

// What the other threads told the test's thread.
inline std::atomic<int> failure_reports{0};
inline std::atomic<int> other_reports{0};
inline std::vector<int32_t> done_params;  // touched by the test thread only

inline void counting_sink(int32_t level, const wchar_t* level_name, const wchar_t* text) {
    if (level == REPORT_ERROR && wcscmp(text, update_failure_message) == 0) {
        failure_reports++;
    } else {
        other_reports++;
    }
}

inline int32_t on_update_done(Mailbox* sender, uint32_t id, int32_t param, void* payload) {
    done_params.push_back(param);
    return 0;
}

inline const HandlerEntry test_main_handlers[] = {{MAIL_UPDATE_DONE, on_update_done}, {0, nullptr}};

// Mailboxes, the sink and the updater thread exist once per process; the
// sink takes reports up to sink_level.
inline void cycle_start_threads_once(int32_t sink_level) {
    static bool started = false;
    if (started) {
        return;
    }
    started = true;
    sink_register(sink_level, counting_sink);
    main_mailbox = mailbox_attach_current(test_main_handlers);
    updater_mailbox = mailbox_start_thread(updater_handlers, 0, nullptr);
    ASSERT_NE(updater_mailbox, nullptr);
    use_test_signing_key();
}

// What every cycle test stands on: folders under www served by nginx over
// TLS, a fault server the test starts its own way, the install folder as
// the tool's with its "Bin", and the progress bar under a window of its own.
class CycleStage : public ::testing::Test {
  public:
    // Creates the folders below www, starts nginx on www, sets the install
    // folder and creates "Bin" and the bar. A failure is fatal to the test.
    void stage_up(std::initializer_list<const char*> folders) {
        for (const char* folder : folders) {
            std::filesystem::create_directories(www.file(folder));
        }
        std::string error;
        NginxOptions options;
        options.root = www.path();
        options.https = true;
        ASSERT_TRUE(nginx.start(options, &error)) << error;
        settings_store(&install_folder, install.path().c_str());
        bin = install.file("Bin");
        std::filesystem::create_directories(bin);
        parent = platform_window_create_posix(nullptr, nullptr);
        progress_bar_create(parent);
    }
    void TearDown() override {
        update_set_host_for_tests(nullptr);
        drop_bar();
        platform_window_destroy_posix(parent);
    }
    // Applies what is still queued for the bar, then frees it.
    static void drop_bar() {
        PlatformMsg msg;
        while (platform_peek_message(&msg)) {
            platform_dispatch_message(nullptr, &msg);
        }
        platform_window_destroy_posix(status_progress_bar());
    }

    std::string program_path() const { return bin + "/CorvaneChat.exe"; }

    TestTempDir www;
    TestTempDir install;
    NginxServer nginx;
    FaultServer fault;
    std::string bin;
    PlatformWindow parent = nullptr;
};
