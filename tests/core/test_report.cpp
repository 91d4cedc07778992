// Reports and sinks: levels, sink order, the text buffer, the two sinks of
// the tool, the error box and the fatal path.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/mailbox.h"
#include "core/report.h"
#include "core_test_support.h"

namespace {

struct Delivery {
    int tag;
    int32_t level;
    std::wstring name;
    std::wstring text;
};

std::mutex deliveries_lock;
std::vector<Delivery> deliveries;

std::vector<Delivery> delivered() {
    std::lock_guard<std::mutex> hold(deliveries_lock);
    return deliveries;
}

template <int Tag>
void recording_sink(int32_t level, const wchar_t* name, const wchar_t* text) {
    std::lock_guard<std::mutex> hold(deliveries_lock);
    deliveries.push_back({Tag, level, name ? name : L"<none>", text ? text : L"<none>"});
}

// Message boxes, as the platform would show them.
struct Box {
    void* owner;
    std::wstring text;
    std::wstring caption;
    uint32_t type;
};
std::mutex boxes_lock;
std::vector<Box> boxes;

int recording_box(void* owner, const wchar_t* text, const wchar_t* caption, uint32_t type) {
    std::lock_guard<std::mutex> hold(boxes_lock);
    boxes.push_back({owner, text ? text : L"<none>", caption ? caption : L"<none>", type});
    return PLATFORM_IDOK;
}
size_t box_count() {
    std::lock_guard<std::mutex> hold(boxes_lock);
    return boxes.size();
}

class ReportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        main = test_main_mailbox();
        sink_clear();
        {
            std::lock_guard<std::mutex> hold(deliveries_lock);
            deliveries.clear();
        }
        {
            std::lock_guard<std::mutex> hold(boxes_lock);
            boxes.clear();
        }
        ui = mailbox_create();
        ASSERT_NE(ui, nullptr);
        ui_mailbox = ui;
        report_set_box_owner(nullptr);
    }
    void TearDown() override {
        sink_clear();
        ui_mailbox = nullptr;
        report_set_box_owner(nullptr);
        platform_set_message_box_hook(nullptr);
        // Whatever the test left queued is released here.
        if (!ui->quit) {
            mail_pump(ui, 0);
        }
    }
    // The texts posted to the UI mailbox, with their params.
    std::vector<std::pair<int32_t, std::wstring>> ui_posts() {
        std::vector<std::pair<int32_t, std::wstring>> out;
        for (uint32_t i = 0; i < ui->message_count; i++) {
            const MailMessage& msg = ui->messages[i];
            EXPECT_EQ(msg.id, MAIL_SHOW_ERROR);
            EXPECT_TRUE(msg.release == free);
            out.push_back({msg.param, static_cast<const wchar_t*>(msg.payload)});
        }
        return out;
    }
    Mailbox* main = nullptr;
    Mailbox* ui = nullptr;
};

TEST(ReportLevels, Names) {
    const struct {
        int32_t level;
        const wchar_t* name;
    } cases[] = {{0, L"FATAL:"}, {1, L"ERROR:"}, {2, L"WARN:"}, {3, L"INFO:"},
                 {4, L"DEBUG:"}, {5, L"TRACE:"}, {-1, nullptr}, {6, nullptr}};
    for (const auto& c : cases) {
        EXPECT_EQ(narrow(report_level_name(c.level)), narrow(c.name)) << "level " << c.level;
    }
}

TEST_F(ReportTest, LevelsAboveOneReachNoSink) {
    ASSERT_TRUE(sink_register(REPORT_TRACE, recording_sink<1>));
    for (int32_t level = REPORT_WARN; level <= REPORT_TRACE; level++) {
        report(level, L"level %d", level);
    }
    EXPECT_EQ(delivered().size(), 0u);
    report(REPORT_ERROR, L"level %d", 1);
    std::vector<Delivery> got = delivered();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].level, 1);
    EXPECT_EQ(narrow(got[0].name.c_str()), "ERROR:");
    EXPECT_EQ(narrow(got[0].text.c_str()), "level 1");
}

TEST_F(ReportTest, SinkOrderAndAdmission) {
    struct Reg {
        int32_t max_level;
        int tag;
    };
    const LogSinkCallback by_tag[] = {nullptr,           recording_sink<1>, recording_sink<2>,
                                      recording_sink<3>, recording_sink<4>, recording_sink<5>};
    const struct {
        std::vector<Reg> registered;
        std::vector<int> list;             // tags in list order
        std::vector<int> called_by_error;  // tags called for a level-1 report
    } cases[] = {
        {{{1, 1}, {0, 2}}, {1, 2}, {1}},
        {{{0, 1}, {1, 2}}, {2, 1}, {2}},
        // A later sink of equal level comes first.
        {{{1, 1}, {1, 2}, {1, 3}}, {3, 2, 1}, {3, 2, 1}},
        {{{0, 1}, {3, 2}, {1, 3}, {3, 4}, {0, 5}}, {4, 2, 3, 5, 1}, {4, 2, 3}},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE("case " + std::to_string(index++));
        sink_clear();
        {
            std::lock_guard<std::mutex> hold(deliveries_lock);
            deliveries.clear();
        }
        for (const Reg& r : c.registered) {
            ASSERT_TRUE(sink_register(r.max_level, by_tag[r.tag]));
        }
        ASSERT_EQ(sink_count(), c.list.size());
        for (uint32_t i = 0; i < sink_count(); i++) {
            EXPECT_TRUE(sink_at(i)->callback == by_tag[c.list[i]]) << "entry " << i;
            if (i > 0) {
                EXPECT_GE(sink_at(i - 1)->max_level, sink_at(i)->max_level);
            }
        }
        EXPECT_EQ(sink_at(sink_count()), nullptr);
        report(REPORT_ERROR, L"x");
        std::vector<int> called;
        for (const Delivery& d : delivered()) {
            called.push_back(d.tag);
        }
        EXPECT_EQ(called, c.called_by_error);
    }
}

TEST_F(ReportTest, FormatsWithArguments) {
    ASSERT_TRUE(sink_register(REPORT_ERROR, recording_sink<1>));
#ifdef _WIN32
    // The Windows runtime's wide printf reads %s as a wide string.
    report(REPORT_ERROR, L"%ls failed: %d (%#x) %s", L"Download", 42, 255, L"now");
#else
    report(REPORT_ERROR, L"%ls failed: %d (%#x) %s", L"Download", 42, 255, "now");
#endif
    report(REPORT_ERROR, L"100%% done");
    std::vector<Delivery> got = delivered();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(narrow(got[0].text.c_str()), "Download failed: 42 (0xff) now");
    EXPECT_EQ(narrow(got[1].text.c_str()), "100% done");
}

TEST_F(ReportTest, LongTextIsCutTo4095) {
    ASSERT_TRUE(sink_register(REPORT_ERROR, recording_sink<1>));
    const size_t lengths[] = {0, 1, 4094, 4095, 4096, 4097, 10000};
    for (size_t len : lengths) {
        std::wstring text;
        for (size_t i = 0; i < len; i++) {
            text.push_back(L"abcdefghij"[i % 10]);
        }
        size_t expected = len < 4095 ? len : 4095;
        {
            std::lock_guard<std::mutex> hold(deliveries_lock);
            deliveries.clear();
        }
        report(REPORT_ERROR, L"%ls", text.c_str());
        report(REPORT_ERROR, text.c_str());  // as the format itself
        std::vector<Delivery> got = delivered();
        ASSERT_EQ(got.size(), 2u);
        for (const Delivery& d : got) {
            EXPECT_EQ(d.text.size(), expected) << "length " << len;
            EXPECT_EQ(d.text, text.substr(0, expected)) << "length " << len;
        }
    }
}

TEST_F(ReportTest, ErrorAndFatalSinksPostACopyToTheUiMailbox) {
    wchar_t text[] = L"Download failed";
    error_sink(REPORT_ERROR, L"ERROR:", text);
    error_sink(REPORT_FATAL, L"FATAL:", text);     // passed by: the fatal sink shows it
    error_sink(REPORT_ERROR, L"ERROR:", nullptr);  // no text, no box
    fatal_sink(REPORT_FATAL, L"FATAL:", L"Out of memory");
    fatal_sink(REPORT_FATAL, L"FATAL:", nullptr);
    ASSERT_EQ(ui->message_count, 2u);
    EXPECT_NE(ui->messages[0].payload, static_cast<void*>(text)) << "the text was not copied";
    EXPECT_EQ(ui->messages[0].sender, main);
    text[0] = L'X';  // the caller's buffer is reused at once
    const std::vector<std::pair<int32_t, std::wstring>> want = {{0, L"Download failed"},
                                                                {1, L"Out of memory"}};
    EXPECT_EQ(ui_posts(), want);
}

TEST_F(ReportTest, ReportsReachTheUiMailboxThroughTheToolsSinks) {
    ASSERT_TRUE(sink_register(REPORT_ERROR, error_sink));
    ASSERT_TRUE(sink_register(REPORT_FATAL, fatal_sink));
    report(REPORT_ERROR, L"code %d", 42);
    report(REPORT_WARN, L"never shown");
    const std::vector<std::pair<int32_t, std::wstring>> want = {{0, L"code 42"}};
    EXPECT_EQ(ui_posts(), want);
}

TEST_F(ReportTest, ReportAfterTheUiThreadEndedIsLostWithoutLeaking) {
    ASSERT_TRUE(sink_register(REPORT_ERROR, error_sink));
    ui->quit = 1;
    report(REPORT_ERROR, L"too late");  // leak checking builds see the copy freed
    EXPECT_EQ(ui->message_count, 0u);
}

std::atomic<bool> ran_after_fatal;

int32_t report_fatal(Mailbox* sender, uint32_t id, int32_t param, void* payload) {
    report(REPORT_FATAL, L"fatal %d", 9);
    ran_after_fatal = true;
    return 0;
}

TEST_F(ReportTest, FatalReportEndsTheReportingThread) {
    ASSERT_TRUE(sink_register(REPORT_TRACE, recording_sink<1>));
    ASSERT_TRUE(sink_register(REPORT_ERROR, error_sink));
    ASSERT_TRUE(sink_register(REPORT_FATAL, fatal_sink));
    ran_after_fatal = false;
    const HandlerEntry table[] = {{MAIL_START, report_fatal}, {0, nullptr}};
    Mailbox* t = mailbox_start_thread(table, 0, nullptr);
    ASSERT_NE(t, nullptr);
    ASSERT_TRUE(platform_thread_join(t->thread, 5000)) << "the reporting thread went on";
    EXPECT_FALSE(ran_after_fatal.load());
    std::vector<Delivery> got = delivered();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].level, 0);
    EXPECT_EQ(narrow(got[0].name.c_str()), "FATAL:");
    // Only the fatal sink posts; the box ends the process.
    const std::vector<std::pair<int32_t, std::wstring>> want = {{1, L"fatal 9"}};
    EXPECT_EQ(ui_posts(), want);
    ASSERT_EQ(ui->message_count, 1u);
    EXPECT_EQ(ui->messages[0].sender, t);
}

// Two threads report at the same time; the UI thread shows every box.
constexpr int REPORTS_PER_THREAD = 100;

int32_t report_many(Mailbox* sender, uint32_t id, int32_t param, void* payload) {
    for (int i = 0; i < REPORTS_PER_THREAD; i++) {
        report(REPORT_ERROR, L"thread %d report %d", param, i);
    }
    return 0;
}

TEST_F(ReportTest, ConcurrentReportsGiveOneBoxEachInPostingOrder) {
    platform_set_message_box_hook(recording_box);
    report_set_box_owner(reinterpret_cast<void*>(0x1234));
    ASSERT_TRUE(sink_register(REPORT_ERROR, error_sink));
    ASSERT_TRUE(sink_register(REPORT_FATAL, fatal_sink));
    const HandlerEntry ui_table[] = {{MAIL_SHOW_ERROR, on_show_error}, {0, nullptr}};
    Mailbox* ui_thread = mailbox_start_thread(ui_table, 0, nullptr);
    ASSERT_NE(ui_thread, nullptr);
    ui_mailbox = ui_thread;
    const HandlerEntry reporter_table[] = {{MAIL_START, report_many}, {0, nullptr}};
    Mailbox* a = mailbox_start_thread(reporter_table, 1, nullptr);
    Mailbox* b = mailbox_start_thread(reporter_table, 2, nullptr);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);

    uint32_t start = platform_tick_ms();
    while (box_count() < 2 * REPORTS_PER_THREAD && platform_tick_ms() - start < 10000) {
        platform_sleep_ms(1);
    }
    for (Mailbox* t : {a, b, ui_thread}) {
        mail_post(t, MAIL_QUIT, 0, nullptr, nullptr);
        EXPECT_TRUE(platform_thread_join(t->thread, 5000));
    }
    std::lock_guard<std::mutex> hold(boxes_lock);
    ASSERT_EQ(boxes.size(), 2u * REPORTS_PER_THREAD);
    std::map<int, int> next;
    for (const Box& box : boxes) {
        int thread = 0, index = 0;
        ASSERT_EQ(swscanf(box.text.c_str(), L"thread %d report %d", &thread, &index), 2)
            << narrow(box.text.c_str());
        EXPECT_EQ(index, next[thread]++) << "thread " << thread;
        EXPECT_EQ(box.owner, reinterpret_cast<void*>(0x1234));
        EXPECT_EQ(box.type, PLATFORM_MB_ICONERROR);
        EXPECT_EQ(narrow(box.caption.c_str()), "Corvane Chat Bootstrap");
    }
    EXPECT_EQ(next[1], REPORTS_PER_THREAD);
    EXPECT_EQ(next[2], REPORTS_PER_THREAD);
}

#ifndef _WIN32
// POSIX only: without a window backend the box is printed there; on
// Windows it is a real, modal message box.
TEST_F(ReportTest, ErrorBoxIsPrintedWhereThereIsNoWindow) {
    testing::internal::CaptureStdout();
    int32_t result = on_show_error(nullptr, MAIL_SHOW_ERROR, 0, const_cast<wchar_t*>(L"Disk full"));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(out, "[error] Corvane Chat Bootstrap: Disk full\n");
}
#endif

TEST_F(ReportTest, ErrorBoxWithParam1EndsTheProcessWithCode0) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            platform_set_message_box_hook(recording_box);
            on_show_error(nullptr, MAIL_SHOW_ERROR, 1, const_cast<wchar_t*>(L"bye"));
            fprintf(stderr, "went on\n");
            exit(3);
        },
        testing::ExitedWithCode(0), "");
}

// Set once the ended reporting thread has been joined, so that no finished
// thread is left unjoined when the box ends the process.
std::atomic<bool> reporter_joined;

int stderr_box(void* owner, const wchar_t* text, const wchar_t* caption, uint32_t type) {
    fprintf(stderr, "box: %s\n", narrow(text).c_str());
    uint32_t start = platform_tick_ms();
    while (!reporter_joined.load() && platform_tick_ms() - start < 5000) {
        platform_sleep_ms(1);
    }
    return PLATFORM_IDOK;
}

// The whole fatal path: the reporting thread posts and ends, the UI thread
// shows the box and then ends the process with exit code 0.
void fatal_path() {
    platform_set_message_box_hook(stderr_box);
    sink_clear();
    sink_register(REPORT_ERROR, error_sink);
    sink_register(REPORT_FATAL, fatal_sink);
    const HandlerEntry ui_table[] = {{MAIL_SHOW_ERROR, on_show_error}, {0, nullptr}};
    ui_mailbox = mailbox_start_thread(ui_table, 0, nullptr);
    const HandlerEntry reporter_table[] = {{MAIL_START, report_fatal}, {0, nullptr}};
    Mailbox* reporter = mailbox_start_thread(reporter_table, 0, nullptr);
    if (reporter != nullptr && platform_thread_join(reporter->thread, 5000)) {
        reporter_joined = true;
    }
    platform_sleep_ms(10000);
    fprintf(stderr, "the process went on\n");
    exit(3);
}

TEST_F(ReportTest, FatalReportShowsTheBoxAndEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(fatal_path(), testing::ExitedWithCode(0), "box: fatal 9");
}

}  // namespace
