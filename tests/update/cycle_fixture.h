// What the update-cycle tests share: the test's thread stands for the main
// and UI threads (its mailbox receives the broadcast), the updater runs on
// a thread of its own, and a sink counts the reports the cycle makes.
#pragma once

#include <gtest/gtest.h>
#include <wchar.h>

#include <atomic>
#include <vector>

#include "core/mailbox.h"
#include "core/report.h"
#include "core/settings.h"
#include "tests/support/release.h"
#include "update/cycle.h"

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
