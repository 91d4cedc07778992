// Four threads post 100,000 numbered messages each into one mailbox while
// its owner pumps and waits: nothing may be lost, and each sender's
// messages arrive in the order it posted them.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "core/mailbox.h"
#include "core_test_support.h"

namespace {

constexpr int SENDERS = 4;
constexpr int32_t PER_SENDER = 100000;
constexpr uint32_t STRESS_ID = 300;

// Touched only by the owner thread, inside its handler.
Mailbox* senders[SENDERS];
int32_t next_expected[SENDERS];
int64_t received;
int64_t out_of_order;
int64_t unknown_sender;

int32_t count_message(Mailbox* sender, uint32_t id, int32_t param, void* payload) {
    received++;
    for (int s = 0; s < SENDERS; s++) {
        if (sender == senders[s]) {
            if (param != next_expected[s]) {
                out_of_order++;
            }
            next_expected[s] = param + 1;
            return 0;
        }
    }
    unknown_sender++;
    return 0;
}

TEST(MailboxStress, FourSendersNothingLostOrderKept) {
    test_main_mailbox();
    received = out_of_order = unknown_sender = 0;
    for (int32_t& n : next_expected) {
        n = 0;
    }
    Mailbox* owner = mailbox_create();
    ASSERT_NE(owner, nullptr);
    ASSERT_TRUE(mailbox_add_handler(owner, STRESS_ID, count_message));
    mail_set_current_mailbox(owner);
    // Each sender has a mailbox of its own, which names it as the sender.
    for (int s = 0; s < SENDERS; s++) {
        senders[s] = mailbox_create();
        ASSERT_NE(senders[s], nullptr);
    }

    std::vector<std::thread> threads;
    for (int s = 0; s < SENDERS; s++) {
        threads.emplace_back([owner, s] {
            mail_set_current_mailbox(senders[s]);
            for (int32_t i = 0; i < PER_SENDER; i++) {
                if (!mail_post(owner, STRESS_ID, i, nullptr, nullptr)) {
                    ADD_FAILURE() << "post refused";
                    return;
                }
            }
        });
    }

    const int64_t total = (int64_t)SENDERS * PER_SENDER;
    uint32_t start = platform_tick_ms();
    uint32_t turn = 0;
    while (received < total && platform_tick_ms() - start < 120000) {
        // Alternate plain pumps and waits, as handlers and loops do.
        if (turn++ % 2 == 0) {
            mail_pump(owner, 0);
        } else {
            mail_wait(STRESS_ID, 50);
        }
    }
    for (std::thread& t : threads) {
        t.join();
    }
    mail_pump(owner, 0);  // anything still queued

    EXPECT_EQ(received, total);
    EXPECT_EQ(out_of_order, 0);
    EXPECT_EQ(unknown_sender, 0);
    for (int s = 0; s < SENDERS; s++) {
        EXPECT_EQ(next_expected[s], PER_SENDER) << "sender " << s;
    }
    EXPECT_EQ(owner->message_count, 0u);
    mail_set_current_mailbox(test_main_mailbox());
}

}  // namespace
