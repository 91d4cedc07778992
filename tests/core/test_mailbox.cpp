// Mailboxes: growth, handler tables, posting, broadcast, the pump with its
// window-message queue, waits and started threads.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <time.h>

#include <atomic>
#include <map>
#include <vector>

#include "core/mailbox.h"
#include "core_test_support.h"

#ifdef _WIN32
// The layer makes no plain windows on Windows (only its progress bar), so
// the window tests make a message-only window of their own.
#include <windows.h>
#endif

namespace {

#ifdef _WIN32
// Hands the posted messages (WM_USER and up) of a test window to the
// procedure kept with it; the system's own messages go to the default.
LRESULT CALLBACK test_window_relay(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    PlatformWindowProc proc =
        reinterpret_cast<PlatformWindowProc>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (proc != nullptr && message >= WM_USER) {
        return proc(window, message, wparam, lparam);
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

// A window of the calling thread whose posted messages reach proc there.
PlatformWindow test_window_create(PlatformWindowProc proc) {
    static ATOM window_class = [] {
        WNDCLASSEXW c = {};
        c.cbSize = sizeof c;
        c.lpfnWndProc = test_window_relay;
        c.hInstance = GetModuleHandleW(nullptr);
        c.lpszClassName = L"CorvaneCoreTestWindow";
        return RegisterClassExW(&c);
    }();
    if (window_class == 0) {
        return nullptr;
    }
    HWND window = CreateWindowExW(0, L"CorvaneCoreTestWindow", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window != nullptr) {
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(proc));
    }
    return window;
}

// Only the owner thread can destroy a window; one whose thread has ended
// is already gone.
void test_window_destroy(PlatformWindow window) {
    HWND h = static_cast<HWND>(window);
    if (IsWindow(h) && GetWindowThreadProcessId(h, nullptr) == GetCurrentThreadId()) {
        DestroyWindow(h);
    }
}
#else
PlatformWindow test_window_create(PlatformWindowProc proc) {
    return platform_window_create_posix(proc, nullptr);
}
void test_window_destroy(PlatformWindow window) {
    platform_window_destroy_posix(window);
}
#endif

// A fresh mailbox made current on the test's thread, so tests may quit it.
class MailboxTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test_main_mailbox();
        drain_thread_queue();
        call_log().clear();
        release_count() = 0;
        m = mailbox_create();
        ASSERT_NE(m, nullptr);
        mail_set_current_mailbox(m);
    }
    void TearDown() override {
        mail_set_current_mailbox(test_main_mailbox());
        drain_thread_queue();
    }
    Mailbox* m = nullptr;
};

// Ends a started thread through its default (2, quit_handler) row.
void stop_thread(Mailbox* t) {
    ASSERT_TRUE(mail_post(t, MAIL_QUIT, 0, nullptr, nullptr));
    EXPECT_TRUE(platform_thread_join(t->thread, 5000)) << "the thread did not end on message 2";
}

TEST(MailboxGrowth, CapacityGrowsByHalf) {
    const uint32_t steps[][2] = {{32, 48}, {48, 72}, {72, 108}, {108, 162}, {162, 243}};
    for (const auto& s : steps) {
        EXPECT_EQ(mail_grown_capacity(s[0]), s[1]) << "from " << s[0];
    }
}

TEST_F(MailboxTest, MessageArrayGrowsOnThe33rdAnd49thMessage) {
    const struct {
        uint32_t posted;
        uint32_t capacity;
    } steps[] = {{0, 32}, {1, 32}, {32, 32}, {33, 48}, {48, 48}, {49, 72}, {72, 72}, {73, 108}};
    ASSERT_TRUE(mailbox_add_handler(m, 100, record_handler));
    uint32_t posted = 0;
    for (const auto& s : steps) {
        for (; posted < s.posted; posted++) {
            ASSERT_TRUE(mail_post(m, 100, (int32_t)posted, nullptr, nullptr));
        }
        EXPECT_EQ(m->message_count, posted);
        EXPECT_EQ(m->message_capacity, s.capacity) << "after " << posted << " messages";
    }
    EXPECT_FALSE(mail_pump(m, 0));
    std::vector<Call> calls = call_log().calls();
    ASSERT_EQ(calls.size(), 73u);
    for (uint32_t i = 0; i < 73; i++) {
        EXPECT_EQ(calls[i].param, (int32_t)i) << "message " << i;
    }
    EXPECT_EQ(m->message_count, 0u);
    EXPECT_EQ(m->message_capacity, 108u) << "the array never shrinks";
}

TEST_F(MailboxTest, HandlerTableGrowsOnThe33rdAnd49thHandler) {
    // Ids are added from the top down so every insertion moves the table.
    const struct {
        uint32_t added;
        uint32_t capacity;
    } steps[] = {{32, 32}, {33, 48}, {48, 48}, {49, 72}, {73, 108}};
    uint32_t added = 0;
    for (const auto& s : steps) {
        for (; added < s.added; added++) {
            ASSERT_TRUE(mailbox_add_handler(m, 1000 - added, record_handler));
        }
        EXPECT_EQ(m->handler_count, added);
        EXPECT_EQ(m->handler_capacity, s.capacity) << "after " << added << " handlers";
    }
    for (uint32_t i = 1; i < m->handler_count; i++) {
        EXPECT_LT(m->handlers[i - 1].id, m->handlers[i].id) << "entry " << i;
    }
    // Every one of them is found by the pump.
    for (uint32_t id = 1000 - 72; id <= 1000; id++) {
        mail_post(m, id, 0, nullptr, nullptr);
    }
    mail_pump(m, 0);
    std::vector<uint32_t> ids = call_log().ids();
    ASSERT_EQ(ids.size(), 73u);
    for (uint32_t i = 0; i < 73; i++) {
        EXPECT_EQ(ids[i], 1000 - 72 + i);
    }
}

TEST_F(MailboxTest, AddingAHandlerReplacesOrInsertsInOrder) {
    struct Add {
        uint32_t id;
        int tag;
    };
    const struct {
        std::vector<Add> adds;
        std::vector<Add> table;  // the resulting entries, in order
    } cases[] = {
        {{{10, 1}, {10, 2}}, {{10, 2}}},
        {{{30, 1}, {10, 1}, {20, 1}, {10, 2}}, {{10, 2}, {20, 1}, {30, 1}}},
        {{{2, 1}, {1, 2}, {3, 3}, {2, 3}, {1, 1}}, {{1, 1}, {2, 3}, {3, 3}}},
        // Ids compare unsigned.
        {{{0x80000000u, 1}, {5, 2}, {0xFFFFFFFFu, 3}, {7, 1}},
         {{5, 2}, {7, 1}, {0x80000000u, 1}, {0xFFFFFFFFu, 3}}},
    };
    const MailHandler by_tag[] = {nullptr, tagged_handler<1>, tagged_handler<2>, tagged_handler<3>};
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE("case " + std::to_string(index++));
        Mailbox* box = mailbox_create();
        ASSERT_NE(box, nullptr);
        for (const Add& a : c.adds) {
            ASSERT_TRUE(mailbox_add_handler(box, a.id, by_tag[a.tag]));
        }
        ASSERT_EQ(box->handler_count, c.table.size());
        for (size_t i = 0; i < c.table.size(); i++) {
            EXPECT_EQ(box->handlers[i].id, c.table[i].id) << "entry " << i;
            EXPECT_EQ(box->handlers[i].handler, by_tag[c.table[i].tag]) << "entry " << i;
        }
        // Dispatch reaches the handler that replaced the old one.
        call_log().clear();
        for (const Add& a : c.table) {
            mail_post(box, a.id, 0, nullptr, nullptr);
        }
        mail_pump(box, 0);
        std::vector<Call> calls = call_log().calls();
        ASSERT_EQ(calls.size(), c.table.size());
        for (size_t i = 0; i < calls.size(); i++) {
            EXPECT_EQ(calls[i].id, c.table[i].id);
            EXPECT_EQ(calls[i].tag, c.table[i].tag) << "id " << calls[i].id;
        }
    }
}

TEST_F(MailboxTest, NewMailboxIsRegisteredAndEmpty) {
    uint32_t before = mail_registry_count();
    Mailbox* box = mailbox_create();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(mail_registry_count(), before + 1);
    EXPECT_EQ(box->message_capacity, 32u);
    EXPECT_EQ(box->handler_capacity, 32u);
    EXPECT_EQ(box->message_count, 0u);
    EXPECT_EQ(box->handler_count, 0u);
    EXPECT_EQ(box->quit, 0);
}

TEST_F(MailboxTest, PostQueuesTheFieldsWithTheCallersMailboxAsSender) {
    Mailbox* target = mailbox_create();
    int payload;
    ASSERT_TRUE(mail_post(target, 77, -5, &payload, nullptr));
    ASSERT_EQ(target->message_count, 1u);
    const MailMessage& msg = target->messages[0];
    EXPECT_EQ(msg.sender, m);
    EXPECT_EQ(msg.id, 77u);
    EXPECT_EQ(msg.param, -5);
    EXPECT_EQ(msg.payload, &payload);
    EXPECT_EQ(msg.release, nullptr);
}

TEST_F(MailboxTest, ReleaseRunsOnceAfterDispatchWithOrWithoutAHandler) {
    ASSERT_TRUE(mailbox_add_handler(m, 50, record_handler));
    const struct {
        uint32_t id;
        bool payload;
        int releases;
    } cases[] = {
        {50, true, 1},   // handled
        {51, true, 1},   // no handler: dropped, still released
        {50, false, 0},  // nothing to release
    };
    for (const auto& c : cases) {
        release_count() = 0;
        call_log().clear();
        void* payload = c.payload ? malloc(8) : nullptr;
        ASSERT_TRUE(mail_post(m, c.id, 0, payload, counting_release));
        EXPECT_EQ(release_count(), 0) << "released before dispatch";
        mail_pump(m, 0);
        EXPECT_EQ(release_count(), c.releases) << "id " << c.id << " payload " << c.payload;
    }
}

int32_t release_checking_handler(Mailbox* sender, uint32_t id, int32_t param, void* payload) {
    // The payload is still the handler's while it runs.
    EXPECT_EQ(release_count(), 0);
    EXPECT_EQ(*static_cast<int*>(payload), 1234);
    return record_handler(sender, id, param, payload);
}

TEST_F(MailboxTest, PayloadIsReleasedOnlyAfterItsHandler) {
    ASSERT_TRUE(mailbox_add_handler(m, 52, release_checking_handler));
    int* payload = static_cast<int*>(malloc(sizeof(int)));
    *payload = 1234;
    ASSERT_TRUE(mail_post(m, 52, 0, payload, counting_release));
    mail_pump(m, 0);
    EXPECT_EQ(call_log().size(), 1u);
    EXPECT_EQ(release_count(), 1);
}

TEST_F(MailboxTest, PostToAQuitMailboxFailsAndReleasesThePayload) {
    ASSERT_TRUE(mailbox_add_handler(m, MAIL_QUIT, quit_handler));
    ASSERT_TRUE(mail_post(m, MAIL_QUIT, 0, nullptr, nullptr));
    mail_pump(m, 0);
    ASSERT_EQ(m->quit, 1);

    EXPECT_FALSE(mail_post(m, 60, 0, malloc(16), counting_release));
    EXPECT_EQ(release_count(), 1);
    EXPECT_EQ(m->message_count, 0u);
    // Without a release function the payload stays the caller's.
    int kept = 0;
    EXPECT_FALSE(mail_post(m, 60, 0, &kept, nullptr));
    EXPECT_EQ(release_count(), 1);
    EXPECT_EQ(m->message_count, 0u);
}

TEST_F(MailboxTest, BroadcastReachesEveryOtherMailboxWithoutRelease) {
    Mailbox* b = mailbox_create();
    Mailbox* c = mailbox_create();
    ASSERT_TRUE(mailbox_add_handler(b, MAIL_UPDATE_DONE, tagged_handler<2>));
    ASSERT_TRUE(mailbox_add_handler(c, MAIL_UPDATE_DONE, tagged_handler<3>));
    int* payload = static_cast<int*>(malloc(sizeof(int)));
    *payload = 99;

    EXPECT_TRUE(mail_post(nullptr, MAIL_UPDATE_DONE, 1, payload, counting_release));
    EXPECT_EQ(m->message_count, 0u) << "the sender got its own broadcast";
    for (Mailbox* box : {b, c}) {
        ASSERT_EQ(box->message_count, 1u);
        EXPECT_EQ(box->messages[0].sender, m);
        EXPECT_EQ(box->messages[0].id, MAIL_UPDATE_DONE);
        EXPECT_EQ(box->messages[0].param, 1);
        EXPECT_EQ(box->messages[0].payload, payload);
        EXPECT_EQ(box->messages[0].release, nullptr);
    }
    EXPECT_EQ(test_main_mailbox()->messages[test_main_mailbox()->message_count - 1].id,
              MAIL_UPDATE_DONE);
    mail_pump(b, 0);
    mail_pump(c, 0);
    EXPECT_EQ(call_log().size(), 2u);
    EXPECT_EQ(release_count(), 0) << "a receiver freed the broadcast payload";
    EXPECT_EQ(*payload, 99);
    free(payload);
    // The main mailbox of this process is not pumped here; take the message
    // away so nothing else sees it.
    test_main_mailbox()->message_count = 0;
}

TEST_F(MailboxTest, BroadcastSkipsQuitMailboxes) {
    Mailbox* done = mailbox_create();
    done->quit = 1;
    Mailbox* live = mailbox_create();
    EXPECT_TRUE(mail_post(nullptr, 1005, 0, nullptr, nullptr));
    EXPECT_EQ(done->message_count, 0u);
    EXPECT_EQ(live->message_count, 1u);
    test_main_mailbox()->message_count = 0;
}

// ---- Batches -----------------------------------------------------------

// For the batch test: a window of the started thread, and where it logs.
PlatformWindow batch_window;
constexpr int WINDOW_TAG = 9;

intptr_t batch_window_proc(PlatformWindow w, uint32_t message, uintptr_t wparam, intptr_t lparam) {
    call_log().add(
        {mail_current_mailbox(), nullptr, message, (int32_t)wparam, nullptr, WINDOW_TAG});
    return 0;
}

int32_t batch_start(Mailbox* sender, uint32_t id, int32_t param, void* payload) {
    record_handler(sender, id, param, payload);
    batch_window = test_window_create(batch_window_proc);
    Mailbox* self = mail_current_mailbox();
    mail_post(self, 10, 0, nullptr, nullptr);
    mail_post(self, MAIL_QUIT, 0, nullptr, nullptr);
    mail_post(self, 11, 0, nullptr, nullptr);
    return 0;
}

// Runs after message 2 in the same batch: its window message must still be
// handled by that pump's window-queue pass.
int32_t batch_last(Mailbox* sender, uint32_t id, int32_t param, void* payload) {
    record_handler(sender, id, param, payload);
    platform_post_window_message(batch_window, PLATFORM_WM_USER + 1, 0, 0);
    return 0;
}

TEST_F(MailboxTest, QuitMidBatchDispatchesTheRestAndPumpsWindowsOnceMore) {
    const HandlerEntry table[] = {
        {MAIL_START, batch_start}, {10, record_handler}, {11, batch_last}, {0, nullptr}};
    Mailbox* t = mailbox_start_thread(table, 0, nullptr);
    ASSERT_NE(t, nullptr);
    ASSERT_TRUE(platform_thread_join(t->thread, 5000)) << "the loop did not end";
    EXPECT_EQ(t->quit, 1);
    // quit_handler logs nothing; the window procedure's call comes last.
    const std::vector<std::pair<uint32_t, int>> want = {
        {MAIL_START, 0}, {10, 0}, {11, 0}, {PLATFORM_WM_USER + 1, WINDOW_TAG}};
    std::vector<Call> calls = call_log().calls();
    std::vector<std::pair<uint32_t, int>> got;
    for (const Call& c : calls) {
        got.push_back({c.id, c.tag});
    }
    EXPECT_EQ(got, want);
    for (const Call& c : calls) {
        EXPECT_EQ(c.receiver, t);
    }
    EXPECT_FALSE(mail_post(t, 12, 0, nullptr, nullptr)) << "a quit mailbox took a post";
    test_window_destroy(batch_window);
}

TEST_F(MailboxTest, MessagePostedDuringDispatchJoinsTheNextBatch) {
    struct Poster {
        static int32_t handler(Mailbox* sender, uint32_t id, int32_t param, void* payload) {
            record_handler(sender, id, param, payload);
            if (id == 20) {
                mail_post(mail_current_mailbox(), 21, 0, nullptr, nullptr);
            }
            return 0;
        }
    };
    ASSERT_TRUE(mailbox_add_handler(m, 20, Poster::handler));
    ASSERT_TRUE(mailbox_add_handler(m, 21, Poster::handler));
    mail_post(m, 20, 0, nullptr, nullptr);
    EXPECT_FALSE(mail_pump(m, 21));
    EXPECT_EQ(call_log().ids(), std::vector<uint32_t>({20}));
    EXPECT_TRUE(mail_pump(m, 21));
    EXPECT_EQ(call_log().ids(), std::vector<uint32_t>({20, 21}));
}

TEST_F(MailboxTest, PumpReportsTheAwaitedIdOnlyWhenInTheBatch) {
    const struct {
        std::vector<uint32_t> batch;
        uint32_t awaited;
        bool seen;
    } cases[] = {
        {{}, 5, false},     {{5}, 5, true},  {{4, 5, 6}, 5, true},
        {{4, 6}, 5, false}, {{5}, 0, false}, {{70000}, 70000, true},
    };
    for (const auto& c : cases) {
        for (uint32_t id : c.batch) {
            mail_post(m, id, 0, nullptr, nullptr);
        }
        EXPECT_EQ(mail_pump(m, c.awaited), c.seen) << "awaiting " << c.awaited;
        EXPECT_EQ(m->message_count, 0u);
    }
}

// ---- Window-message queue ------------------------------------------------

TEST_F(MailboxTest, ThreadMessageBecomesMessage4WithACopyOfTheRecord) {
    ASSERT_TRUE(mailbox_add_handler(m, MAIL_THREAD_MESSAGE, record_handler));
    ASSERT_TRUE(
        platform_post_thread_message(platform_thread_current(), PLATFORM_WM_USER + 5, 11, -22));
    // The first pump turns it into message 4, which joins the next batch.
    EXPECT_FALSE(mail_pump(m, MAIL_THREAD_MESSAGE));
    ASSERT_EQ(m->message_count, 1u);
    EXPECT_EQ(m->messages[0].id, MAIL_THREAD_MESSAGE);
    EXPECT_EQ(m->messages[0].param, (int32_t)(PLATFORM_WM_USER + 5));
    EXPECT_EQ(m->messages[0].sender, m);
    EXPECT_TRUE(m->messages[0].release == free);
    ASSERT_NE(m->messages[0].payload, nullptr);
    const PlatformMsg* copy = static_cast<const PlatformMsg*>(m->messages[0].payload);
    EXPECT_EQ(copy->window, nullptr);
    EXPECT_EQ(copy->message, PLATFORM_WM_USER + 5);
    EXPECT_EQ(copy->wparam, 11u);
    EXPECT_EQ(copy->lparam, -22);

    EXPECT_TRUE(mail_pump(m, MAIL_THREAD_MESSAGE));
    ASSERT_EQ(call_log().size(), 1u);
    EXPECT_EQ(call_log().calls()[0].param, (int32_t)(PLATFORM_WM_USER + 5));
}

TEST_F(MailboxTest, ThreadMessageWithoutHandlerIsFreedAfterDispatch) {
    // Leak checking builds see the copy go; here the message must vanish.
    ASSERT_TRUE(platform_post_thread_message(platform_thread_current(), PLATFORM_WM_USER, 0, 0));
    mail_pump(m, 0);
    ASSERT_EQ(m->message_count, 1u);
    EXPECT_TRUE(mail_pump(m, MAIL_THREAD_MESSAGE));
    EXPECT_EQ(m->message_count, 0u);
}

TEST_F(MailboxTest, QuitWithCode7BecomesMessage3WithParam7) {
    ASSERT_TRUE(mailbox_add_handler(m, MAIL_WINDOW_QUIT, record_handler));
    platform_post_quit(7);
    EXPECT_FALSE(mail_pump(m, MAIL_WINDOW_QUIT));
    EXPECT_EQ(call_log().size(), 0u);
    EXPECT_TRUE(mail_pump(m, MAIL_WINDOW_QUIT));
    std::vector<Call> calls = call_log().calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].id, MAIL_WINDOW_QUIT);
    EXPECT_EQ(calls[0].param, 7);
    EXPECT_EQ(calls[0].payload, nullptr);
    EXPECT_EQ(calls[0].receiver, m);
}

TEST_F(MailboxTest, WindowMessagesReachTheirProcedureAfterTheBatch) {
    PlatformWindow w = test_window_create(batch_window_proc);
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(mailbox_add_handler(m, 30, record_handler));
    ASSERT_TRUE(platform_post_window_message(w, PLATFORM_WM_USER + 2, 5, 0));
    mail_post(m, 30, 0, nullptr, nullptr);
    mail_pump(m, 0);
    std::vector<Call> calls = call_log().calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].id, 30u);
    EXPECT_EQ(calls[1].tag, WINDOW_TAG);
    EXPECT_EQ(calls[1].id, PLATFORM_WM_USER + 2);
    EXPECT_EQ(calls[1].param, 5);
    EXPECT_EQ(m->message_count, 0u) << "a window message was also queued as message 4";
    test_window_destroy(w);
}

#ifndef _WIN32
// Not on Windows: there the main thread's handle is GetCurrentThread's
// pseudo-handle, which names the calling thread, so another thread cannot
// post to it. The next test covers the same wake on a started thread.
TEST_F(MailboxTest, WindowInputFromAnotherThreadWakesTheWait) {
    ASSERT_TRUE(mailbox_add_handler(m, MAIL_THREAD_MESSAGE, record_handler));
    PlatformThread self = platform_thread_current();
    struct Arg {
        PlatformThread target;
    } arg = {self};
    PlatformThread poster = platform_thread_start(
        [](void* a) {
            platform_sleep_ms(50);
            platform_post_thread_message(static_cast<Arg*>(a)->target, PLATFORM_WM_USER + 3, 0, 0);
        },
        &arg);
    ASSERT_NE(poster, 0u);
    uint32_t start = platform_tick_ms();
    EXPECT_TRUE(mail_wait(MAIL_THREAD_MESSAGE, 10000));
    EXPECT_LT(platform_tick_ms() - start, 5000u);
    EXPECT_TRUE(platform_thread_join(poster, 5000));
}
#endif

// A started thread waits in mail_wait; a thread message that this thread
// posts to it (by the handle it was started with) ends that wait early.
struct WakeTarget {
    std::atomic<int> ready{0};   // 1: the target's queue exists
    std::atomic<int> result{0};  // 1: mail_wait returned true, 2: false
    std::atomic<uint32_t> elapsed{0};
};

void wake_target_main(void* arg) {
    WakeTarget* target = static_cast<WakeTarget*>(arg);
    Mailbox* box = mailbox_create();
    if (box == nullptr) {
        target->result = 3;
        return;
    }
    mail_set_current_mailbox(box);
    mailbox_add_handler(box, MAIL_THREAD_MESSAGE, record_handler);
    drain_thread_queue();  // the first look makes the thread's queue
    target->ready = 1;
    uint32_t start = platform_tick_ms();
    bool got = mail_wait(MAIL_THREAD_MESSAGE, 10000);
    target->elapsed = platform_tick_ms() - start;
    target->result = got ? 1 : 2;
    mail_set_current_mailbox(nullptr);
}

TEST_F(MailboxTest, ThreadMessageFromAnotherThreadWakesAStartedThreadsWait) {
    WakeTarget target;
    PlatformThread t = platform_thread_start(wake_target_main, &target);
    ASSERT_NE(t, 0u);
    uint32_t start = platform_tick_ms();
    while (target.ready.load() == 0 && platform_tick_ms() - start < 5000) {
        platform_sleep_ms(1);
    }
    if (target.ready.load() != 1) {
        platform_thread_join(t, 15000);  // it still uses target
        FAIL() << "the started thread did not get going";
    }
    platform_sleep_ms(50);  // let it fall asleep in the wait
    EXPECT_TRUE(platform_post_thread_message(t, PLATFORM_WM_USER + 7, 3, 4));
    ASSERT_TRUE(platform_thread_join(t, 15000));
    EXPECT_EQ(target.result.load(), 1) << "the wait did not see the message";
    EXPECT_LT(target.elapsed.load(), 5000u) << "the message did not wake the wait";
    std::vector<Call> calls = call_log().calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].id, MAIL_THREAD_MESSAGE);
    EXPECT_EQ(calls[0].param, (int32_t)(PLATFORM_WM_USER + 7));
    EXPECT_NE(calls[0].receiver, m) << "handled on the wrong thread";
}

// ---- Waits ---------------------------------------------------------------

TEST_F(MailboxTest, WaitWithTimeout0PumpsOnce) {
    struct Chain {
        static int32_t handler(Mailbox* sender, uint32_t id, int32_t param, void* payload) {
            record_handler(sender, id, param, payload);
            mail_post(mail_current_mailbox(), 41, 0, nullptr, nullptr);
            return 0;
        }
    };
    ASSERT_TRUE(mailbox_add_handler(m, 40, Chain::handler));
    ASSERT_TRUE(mailbox_add_handler(m, 41, record_handler));

    uint32_t start = platform_tick_ms();
    EXPECT_FALSE(mail_wait(41, 0)) << "nothing queued";
    mail_post(m, 41, 0, nullptr, nullptr);
    EXPECT_TRUE(mail_wait(41, 0)) << "41 was in the first batch";
    // 40 posts 41 into the next batch, which a zero wait never takes.
    mail_post(m, 40, 0, nullptr, nullptr);
    EXPECT_FALSE(mail_wait(41, 0));
    EXPECT_EQ(call_log().ids(), std::vector<uint32_t>({41, 40}));
    EXPECT_EQ(m->message_count, 1u);
    EXPECT_TRUE(mail_wait(41, 0));
    EXPECT_LT(platform_tick_ms() - start, 2000u);
}

void post_to_own_thread(void*) {
    platform_post_thread_message(platform_thread_current(), PLATFORM_WM_USER + 8, 0, 0);
}

// Input already waiting when a thread goes to sleep must end the sleep at
// once: a message posted between a pump's last look and the wait would else
// lie unhandled until something else wakes the thread.
TEST_F(MailboxTest, WaitReturnsAtOnceWhenInputIsAlreadyQueued) {
    PlatformWindow w = test_window_create(batch_window_proc);
    ASSERT_NE(w, nullptr);
    const struct {
        const char* name;
        bool thread_message = false;
        bool window_message = false;
        bool looked_at = false;  // seen by the system's queue check before the wait
        bool event = false;
        bool posted_as_it_sleeps = false;  // by the wait's hook, after its own look
    } cases[] = {
        {"a thread message", true, false, false, false},
        {"a thread message already looked at", true, false, true, false},
        {"a message for a window of the thread", false, true, false, false},
        {"the mailbox's event set", false, false, false, true},
        {.name = "a thread message posted as the wait goes to sleep", .posted_as_it_sleeps = true},
    };
    for (const auto& c : cases) {
        drain_thread_queue();
        platform_event_reset(m->event);
        if (c.thread_message) {
            ASSERT_TRUE(platform_post_thread_message(platform_thread_current(),
                                                     PLATFORM_WM_USER + 8, 0, 0));
        }
        if (c.window_message) {
            ASSERT_TRUE(platform_post_window_message(w, PLATFORM_WM_USER + 9, 0, 0));
        }
#ifdef _WIN32
        // Marks the queued input as old, which a wait for new input ignores.
        if (c.looked_at) {
            GetQueueStatus(QS_ALLINPUT);
        }
#endif
        if (c.event) {
            platform_event_set(m->event);
        }
        platform_wait_set_sleep_hook(c.posted_as_it_sleeps ? post_to_own_thread : nullptr, nullptr);
        uint32_t start = platform_tick_ms();
        platform_wait_event_or_input(m->event, 3000);
        platform_wait_set_sleep_hook(nullptr, nullptr);
        EXPECT_LT(platform_tick_ms() - start, 1000u) << c.name << ": the wait slept";
    }
    drain_thread_queue();
    platform_event_reset(m->event);
    test_window_destroy(w);
}

TEST_F(MailboxTest, WaitForAnIdWithoutHandlerReturnsTrue) {
    mail_post(m, MAIL_WINDOW_READY, 0, malloc(4), counting_release);
    EXPECT_TRUE(mail_wait(MAIL_WINDOW_READY, 10000));
    EXPECT_EQ(release_count(), 1);
}

Mailbox* wait_target;

int32_t post_ready_later(Mailbox* sender, uint32_t id, int32_t param, void* payload) {
    platform_sleep_ms(50);
    mail_post(wait_target, MAIL_WINDOW_READY, 0, nullptr, nullptr);
    return 0;
}

TEST_F(MailboxTest, WaitReturnsWhenTheIdArrivesFromAnotherThread) {
    wait_target = m;
    const HandlerEntry table[] = {{MAIL_START, post_ready_later}, {0, nullptr}};
    Mailbox* t = mailbox_start_thread(table, 0, nullptr);
    ASSERT_NE(t, nullptr);
    uint32_t start = platform_tick_ms();
    EXPECT_TRUE(mail_wait(MAIL_WINDOW_READY, 10000));
    EXPECT_LT(platform_tick_ms() - start, 5000u);
    stop_thread(t);
}

TEST_F(MailboxTest, WaitTimesOut) {
    const int32_t timeouts[] = {1, 30, 100};
    for (int32_t timeout : timeouts) {
        uint32_t start = platform_tick_ms();
        EXPECT_FALSE(mail_wait(99, timeout));
        uint32_t elapsed = platform_tick_ms() - start;
        EXPECT_GE(elapsed + 1, (uint32_t)timeout) << "returned early for " << timeout;
        EXPECT_LT(elapsed, (uint32_t)timeout + 2000) << "timeout " << timeout;
    }
}

TEST_F(MailboxTest, WaitOnAQuitMailboxReturnsFalseWithoutPumping) {
    ASSERT_TRUE(mailbox_add_handler(m, 45, record_handler));
    mail_post(m, 45, 0, nullptr, nullptr);
    PlatformWindow w = test_window_create(batch_window_proc);
    ASSERT_TRUE(platform_post_window_message(w, PLATFORM_WM_USER, 0, 0));
    m->quit = 1;  // as a handler returning -1 leaves it

    const int32_t timeouts[] = {0, 1000, MAIL_NO_TIMEOUT};
    for (int32_t timeout : timeouts) {
        uint32_t start = platform_tick_ms();
        EXPECT_FALSE(mail_wait(45, timeout)) << "timeout " << timeout;
        EXPECT_LT(platform_tick_ms() - start, 500u) << "timeout " << timeout;
    }
    EXPECT_EQ(call_log().size(), 0u);
    EXPECT_EQ(m->message_count, 1u);
    PlatformMsg msg;
    EXPECT_TRUE(platform_peek_message(&msg)) << "the window queue was pumped";
    test_window_destroy(w);
    m->message_count = 0;
}

TEST_F(MailboxTest, WaitEndsWhenAHandlerQuits) {
    ASSERT_TRUE(mailbox_add_handler(m, MAIL_QUIT, quit_handler));
    mail_post(m, MAIL_QUIT, 0, nullptr, nullptr);
    uint32_t start = platform_tick_ms();
    EXPECT_FALSE(mail_wait(123, MAIL_NO_TIMEOUT));
    EXPECT_LT(platform_tick_ms() - start, 2000u);
    EXPECT_EQ(m->quit, 1);
}

// A limited wait whose remaining time lands on exactly -1 must still end.
// The handler of 50 holds the pump until the clock has moved 2 ms past the
// start and leaves the event set, so the wait of 1 ms overshoots by 1.
std::atomic<uint32_t> overshoot_start;
std::atomic<int> overshoot_result;

int32_t overshoot_hold(Mailbox* sender, uint32_t id, int32_t param, void* payload) {
    while (platform_tick_ms() - overshoot_start.load() < 2) {
    }
    mail_post(mail_current_mailbox(), 51, 0, nullptr, nullptr);
    return 0;
}

int32_t overshoot_run(Mailbox* sender, uint32_t id, int32_t param, void* payload) {
    for (int round = 0; round < 20; round++) {
        mail_post(mail_current_mailbox(), 50, 0, nullptr, nullptr);
        overshoot_start = platform_tick_ms();
        if (mail_wait(99, 1)) {
            overshoot_result = 2;
            return 0;
        }
        mail_pump(mail_current_mailbox(), 0);  // take the left-over 51
    }
    overshoot_result = 1;
    return 0;
}

TEST_F(MailboxTest, LimitedWaitThatOvershootsToMinusOneStillEnds) {
    overshoot_result = 0;
    const HandlerEntry table[] = {{MAIL_START, overshoot_run}, {50, overshoot_hold}, {0, nullptr}};
    Mailbox* t = mailbox_start_thread(table, 0, nullptr);
    ASSERT_NE(t, nullptr);
    uint32_t start = platform_tick_ms();
    while (overshoot_result.load() == 0 && platform_tick_ms() - start < 5000) {
        platform_sleep_ms(1);
    }
    ASSERT_EQ(overshoot_result.load(), 1) << "a 1 ms wait did not end";
    stop_thread(t);
}

// ---- Started threads -----------------------------------------------------

TEST_F(MailboxTest, FirstMessageOfAStartedThreadComesFromItsCreator) {
    static int start_payload;
    const HandlerEntry table[] = {{MAIL_START, record_handler}, {61, record_handler}, {0, nullptr}};
    Mailbox* t = mailbox_start_thread(table, 5, &start_payload);
    ASSERT_NE(t, nullptr);
    EXPECT_NE(t->thread, 0u);
    ASSERT_TRUE(mail_post(t, 61, 0, nullptr, nullptr));
    ASSERT_TRUE(sleep_until_logged(2, 5000));
    std::vector<Call> calls = call_log().calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].id, MAIL_START);
    EXPECT_EQ(calls[0].sender, m);
    EXPECT_EQ(calls[0].param, 5);
    EXPECT_EQ(calls[0].payload, &start_payload);
    EXPECT_EQ(calls[0].receiver, t);
    EXPECT_EQ(calls[1].id, 61u);
    EXPECT_EQ(calls[1].sender, m);
    // The table had no row for 2; the default row ends the thread.
    stop_thread(t);
    EXPECT_EQ(t->quit, 1);
}

// CPU time of the whole test process so far, in milliseconds.
uint64_t process_cpu_ms() {
#ifdef _WIN32
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) {
        return 0;
    }
    auto ms = [](const FILETIME& t) {
        return ((uint64_t)t.dwHighDateTime << 32 | t.dwLowDateTime) / 10000u;
    };
    return ms(kernel) + ms(user);
#else
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return (uint64_t)ts.tv_sec * 1000u + (uint64_t)ts.tv_nsec / 1000000u;
#endif
}

// A state that a started thread waits for, not a message, and the mailbox
// it reports the end of its wait to, when one is set (message 72, param 1
// for true).
std::atomic<bool> waited_state{false};
Mailbox* wait_report;

bool waited_state_ready(void) {
    return waited_state.load();
}

int32_t wait_for_state(Mailbox* sender, uint32_t id, int32_t param, void* payload) {
    bool ended = mail_wait_until(waited_state_ready);
    if (wait_report != nullptr) {
        mail_post(wait_report, 72, ended ? 1 : 0, nullptr, nullptr);
    }
    return 0;
}

// Idles in a wait with no time-out inside the first message, until message 2.
int32_t idle_in_wait(Mailbox* sender, uint32_t id, int32_t param, void* payload) {
    mail_wait(0xFFFFFFF1u, MAIL_NO_TIMEOUT);
    return 0;
}

// A started thread with nothing to do sleeps, in its loop and in a wait: a
// loop that kept its event set would pass every other test at full CPU.
TEST_F(MailboxTest, IdleStartedThreadSleeps) {
    constexpr uint32_t IDLE_MS = 300;
    constexpr uint64_t MOST_CPU_MS = IDLE_MS / 10;
    const struct {
        const char* name;
        MailHandler start;
    } cases[] = {
        {"in its loop", record_handler},
        {"in a wait", idle_in_wait},
        {"in a wait for a state", wait_for_state},
    };
    for (const auto& c : cases) {
        const HandlerEntry table[] = {{MAIL_START, c.start}, {0, nullptr}};
        Mailbox* t = mailbox_start_thread(table, 0, nullptr);
        ASSERT_NE(t, nullptr);
        platform_sleep_ms(50);  // past its first message
        uint64_t before = process_cpu_ms();
        platform_sleep_ms(IDLE_MS);
        uint64_t used = process_cpu_ms() - before;
        EXPECT_LE(used, MOST_CPU_MS)
            << c.name << ": " << used << " ms of CPU in " << IDLE_MS << " ms idle";
        stop_thread(t);
    }
}

// A wait for a state ends once another thread has changed it and woken the
// mailboxes (nothing is posted), or with false when the mailbox quits.
TEST_F(MailboxTest, WaitUntilEndsOnTheWakeAfterTheStateChanged) {
    const struct {
        const char* name;
        bool ready_before;
        bool quit;
        int32_t ended;
    } cases[] = {
        {"ready before the wait", true, false, 1},
        {"ready during the wait", false, false, 1},
        {"quit during the wait", false, true, 0},
    };
    wait_report = m;
    ASSERT_TRUE(mailbox_add_handler(m, 72, record_handler));
    for (const auto& c : cases) {
        call_log().clear();
        waited_state = c.ready_before;
        const HandlerEntry table[] = {{MAIL_START, wait_for_state}, {0, nullptr}};
        Mailbox* t = mailbox_start_thread(table, 0, nullptr);
        ASSERT_NE(t, nullptr);
        platform_sleep_ms(50);  // into its wait
        if (c.quit) {
            ASSERT_TRUE(mail_post(t, MAIL_QUIT, 0, nullptr, nullptr));
        } else {
            waited_state = true;
            mail_wake_all();
        }
        ASSERT_TRUE(pump_until_logged(1, 5000)) << c.name << ": the wait did not end";
        EXPECT_EQ(call_log().calls()[0].param, c.ended) << c.name;
        if (c.quit) {
            EXPECT_TRUE(platform_thread_join(t->thread, 5000)) << c.name;
        } else {
            stop_thread(t);
        }
    }
    waited_state = false;
    wait_report = nullptr;
}

TEST_F(MailboxTest, StartedThreadTableHasQuitFirstThenTheRows) {
    const HandlerEntry table[] = {{7001, record_handler}, {3, record_handler}, {0, nullptr}};
    Mailbox* t = mailbox_start_thread(table, 0, nullptr);
    ASSERT_NE(t, nullptr);
    // The handlers are fixed before the thread runs; reading them is safe.
    ASSERT_EQ(t->handler_count, 3u);
    EXPECT_EQ(t->handlers[0].id, MAIL_QUIT);
    EXPECT_EQ(t->handlers[0].handler, quit_handler);
    EXPECT_EQ(t->handlers[1].id, 3u);
    EXPECT_EQ(t->handlers[2].id, 7001u);
    stop_thread(t);
}

// A thread the system refuses leaves no mailbox behind: none in the
// registry that broadcasts would fill for good, nothing allocated (the
// sanitizer build checks for leaks and for a broadcast reaching freed
// memory), and the next start works as before.
TEST_F(MailboxTest, RefusedThreadStartLeavesNoMailbox) {
    std::vector<HandlerEntry> grown_table;
    for (uint32_t id = 100; id < 140; id++) {
        grown_table.push_back({id, record_handler});
    }
    grown_table.push_back({0, nullptr});
    const HandlerEntry one_row[] = {{70, record_handler}, {0, nullptr}};
    const struct {
        const char* name;
        const HandlerEntry* table;
    } cases[] = {
        {"no rows", nullptr},
        {"one row", one_row},
        {"rows past the first handler array", grown_table.data()},
    };
    int payload = 0;
    for (const auto& c : cases) {
        uint32_t before = mail_registry_count();
        platform_thread_set_start_hook([](void*) { return false; }, nullptr);
        Mailbox* t = mailbox_start_thread(c.table, 9, &payload);
        platform_thread_set_start_hook(nullptr, nullptr);
        EXPECT_EQ(t, nullptr) << c.name;
        EXPECT_EQ(mail_registry_count(), before) << c.name << ": a mailbox without a thread stays";
        EXPECT_TRUE(mail_post(nullptr, 70, 1, nullptr, nullptr)) << c.name;
    }
    Mailbox* t = mailbox_start_thread(one_row, 0, nullptr);
    ASSERT_NE(t, nullptr);
    stop_thread(t);
}

// Another thread keeps posting while the owner's loop ends (a race the
// thread sanitizer build watches; it catches it in some rounds only): the
// poster stops at its first refusal, which comes once the loop has quit,
// and nothing is taken after it.
TEST_F(MailboxTest, PostsRacingTheEndOfTheLoopStopAtTheQuit) {
    for (int round = 0; round < 10; round++) {
        const HandlerEntry table[] = {{70, record_handler}, {0, nullptr}};
        Mailbox* t = mailbox_start_thread(table, 0, nullptr);
        ASSERT_NE(t, nullptr);
        PlatformThread poster = platform_thread_start(
            [](void* arg) {
                Mailbox* box = static_cast<Mailbox*>(arg);
                for (int32_t i = 0; mail_post(box, 70, i, nullptr, nullptr); i++) {
                }
            },
            t);
        ASSERT_NE(poster, 0u);
        platform_sleep_ms(2);
        stop_thread(t);
        ASSERT_TRUE(platform_thread_join(poster, 30000)) << "posts were taken after the quit";
        EXPECT_EQ(t->quit, 1);
        EXPECT_FALSE(mail_post(t, 70, 0, nullptr, nullptr));
        call_log().clear();
    }
}

TEST(MailboxAttach, AttachedMailboxIsCurrentWithTheTableOnly) {
    Mailbox* main = test_main_mailbox();
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(mail_current_mailbox(), main);
    EXPECT_EQ(main->handler_count, 0u) << "no default row for the attached mailbox";
    EXPECT_EQ(main->thread, platform_thread_current());
}

// Two started threads post 1000 numbered messages each into one mailbox.
Mailbox* order_target;

int32_t post_numbered(Mailbox* sender, uint32_t id, int32_t param, void* payload) {
    for (int32_t i = 0; i < 1000; i++) {
        mail_post(order_target, 200, i, nullptr, nullptr);
    }
    return 0;
}

TEST_F(MailboxTest, MessagesOfOneSenderKeepTheirOrder) {
    order_target = m;
    ASSERT_TRUE(mailbox_add_handler(m, 200, record_handler));
    const HandlerEntry table[] = {{MAIL_START, post_numbered}, {0, nullptr}};
    Mailbox* a = mailbox_start_thread(table, 0, nullptr);
    Mailbox* b = mailbox_start_thread(table, 0, nullptr);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_TRUE(pump_until_logged(2000, 10000));
    std::map<Mailbox*, int32_t> next;
    for (const Call& c : call_log().calls()) {
        ASSERT_TRUE(c.sender == a || c.sender == b) << "unknown sender";
        EXPECT_EQ(c.param, next[c.sender]++);
    }
    EXPECT_EQ(next[a], 1000);
    EXPECT_EQ(next[b], 1000);
    stop_thread(a);
    stop_thread(b);
}

}  // namespace

// Run in a process of its own: no mailbox has been attached yet.
TEST(MailboxRegistry, CreateAndBroadcastNeedNoAttachFirst) {
    uint32_t before = mail_registry_count();
    EXPECT_TRUE(mail_post(nullptr, 70, 0, nullptr, nullptr)) << "a broadcast to nobody";
    Mailbox* m = mailbox_create();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(mail_registry_count(), before + 1);
    EXPECT_TRUE(mail_post(nullptr, 70, 5, nullptr, nullptr));
    EXPECT_EQ(m->message_count, 1u) << "the broadcast reached the new mailbox";
}
