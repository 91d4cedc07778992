// The status list and the exact requests a refresh posts to the bar, read
// on the bar's own thread after its queue was pumped.
#include <gtest/gtest.h>

#include <vector>

#include "platform/platform.h"
#include "update/status.h"

namespace {

struct Request {
    uint32_t message;
    uintptr_t wparam;
    intptr_t lparam;
    bool operator==(const Request& o) const {
        return message == o.message && wparam == o.wparam && lparam == o.lparam;
    }
};

std::ostream& operator<<(std::ostream& os, const Request& r) {
    return os << "{0x" << std::hex << r.message << ", " << std::dec << r.wparam << ", 0x"
              << std::hex << r.lparam << std::dec << "}";
}

const Request SETRANGE = {PLATFORM_PBM_SETRANGE, 0, 0x640000};
const Request PAINT = {PLATFORM_WM_PAINT, 0, 0};
Request pos(uintptr_t p) {
    return {PLATFORM_PBM_SETPOS, p, 0};
}
const Request RED = {PLATFORM_PBM_SETBARCOLOR, 0, 0xFF};
const Request ERROR_STATE = {PLATFORM_PBM_SETSTATE, PLATFORM_PBST_ERROR, 0};

class Status : public ::testing::Test {
  protected:
    void SetUp() override {
        parent = platform_window_create_posix(nullptr, nullptr);
        progress_bar_create(parent);
        ASSERT_NE(status_progress_bar(), nullptr);
        ASSERT_EQ(status_count(), 0);
    }
    void TearDown() override {
        for (StatusEntry* e : entries) {
            status_remove(e);
            status_release(e);
        }
        // The last shown text is process-wide: leave it null for the next
        // test by showing an entry without text once.
        StatusEntry* blank = status_create();
        blank->percent = 1;
        status_refresh();
        status_remove(blank);
        status_release(blank);
        pump();
        EXPECT_EQ(status_count(), 0);
        platform_window_destroy_posix(status_progress_bar());
        platform_window_destroy_posix(parent);
    }
    StatusEntry* create() {
        StatusEntry* e = status_create();
        entries.push_back(e);
        return e;
    }
    void forget(StatusEntry* e) {
        for (auto it = entries.begin(); it != entries.end(); ++it) {
            if (*it == e) {
                entries.erase(it);
                return;
            }
        }
    }
    static void pump() {
        PlatformMsg msg;
        while (platform_peek_message(&msg)) {
            platform_dispatch_message(nullptr, &msg);
        }
    }
    // Everything the bar applied since it was made.
    std::vector<Request> applied(PlatformProgressState* state = nullptr) {
        pump();
        PlatformProgressRequest raw[256];
        uint32_t n = platform_progress_bar_record(status_progress_bar(), state, raw, 256);
        std::vector<Request> out;
        for (uint32_t i = 0; i < n && i < 256; i++) {
            out.push_back({raw[i].message, raw[i].wparam, raw[i].lparam});
        }
        return out;
    }
    PlatformWindow parent = nullptr;
    std::vector<StatusEntry*> entries;
};

TEST_F(Status, NothingToShowPostsNothing) {
    status_refresh();
    EXPECT_EQ(applied(), (std::vector<Request>{SETRANGE})) << "an empty list";
    StatusEntry* a = create();
    create();
    EXPECT_EQ(a->priority, 50);
    EXPECT_EQ(a->percent, 0);
    EXPECT_EQ(a->text, nullptr);
    status_refresh();
    EXPECT_EQ(applied(), (std::vector<Request>{SETRANGE})) << "entries with nothing to show";
}

TEST_F(Status, RefreshTable) {
    struct Step {
        int32_t percent;
        const char* text;
        std::vector<Request> posted;
    };
    struct {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"a text with percent 0 posts position 0 and repaints",
         {{0, "Downloading update...", {pos(0), PAINT}}}},
        {"the same text again does not repaint",
         {{0, "Downloading update...", {pos(0), PAINT}}, {7, "Downloading update...", {pos(7)}}}},
        {"a different text repaints",
         {{5, "Downloading update...", {pos(5), PAINT}},
          {0, "Installing update...", {pos(0), PAINT}}}},
        {"no text on either side counts as changed",
         {{3, nullptr, {pos(3), PAINT}}, {4, nullptr, {pos(4), PAINT}}}},
        {"a negative percent: position 100, red, error state, in that order",
         {{-1, nullptr, {pos(100), RED, ERROR_STATE, PAINT}}}},
        {"any negative value is a failure",
         {{-7, "x", {pos(100), RED, ERROR_STATE, PAINT}}, {-7, "x", {pos(100), RED, ERROR_STATE}}}},
        {"after a failure only the position moves",
         {{-1, "x", {pos(100), RED, ERROR_STATE, PAINT}}, {40, "x", {pos(40)}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        entries.clear();
        SetUp();
        StatusEntry* e = create();
        std::vector<Request> expected = {SETRANGE};
        for (const Step& step : c.steps) {
            e->percent = step.percent;
            ASSERT_TRUE(status_set_text(e, step.text));
            status_refresh();
            expected.insert(expected.end(), step.posted.begin(), step.posted.end());
        }
        EXPECT_EQ(applied(), expected);
    }
}

TEST_F(Status, FailureStateStaysOnceShown) {
    StatusEntry* e = create();
    e->percent = -1;
    status_refresh();
    e->percent = 30;
    status_refresh();
    PlatformProgressState state;
    applied(&state);
    EXPECT_EQ(state.position, 30);
    EXPECT_EQ(state.bar_color, 0xFFu);
    EXPECT_EQ(state.state, PLATFORM_PBST_ERROR);
    EXPECT_EQ(state.range_min, 0);
    EXPECT_EQ(state.range_max, 100);
}

TEST_F(Status, TheOldestQualifyingEntryDrives) {
    StatusEntry* first = create();
    StatusEntry* second = create();
    first->percent = 10;
    second->percent = 20;
    status_refresh();
    // Removing the driving entry hands the bar to the next one.
    status_remove(first);
    status_release(first);
    forget(first);
    EXPECT_EQ(applied(), (std::vector<Request>{SETRANGE, pos(10), PAINT, pos(20), PAINT}));
}

TEST_F(Status, AnEntryQualifiesOnlyOnceItHasSomethingToShow) {
    StatusEntry* first = create();
    StatusEntry* second = create();
    second->percent = 20;
    status_refresh();
    first->percent = 10;  // now the older entry qualifies and wins
    status_refresh();
    EXPECT_EQ(applied(), (std::vector<Request>{SETRANGE, pos(20), PAINT, pos(10), PAINT}));
}

TEST_F(Status, RemovingAnUnknownEntryStillRefreshes) {
    StatusEntry* e = create();
    e->percent = 12;
    StatusEntry stranger = {50, 99, nullptr};
    status_remove(&stranger);
    EXPECT_EQ(status_count(), 1);
    EXPECT_EQ(applied(), (std::vector<Request>{SETRANGE, pos(12), PAINT}));
}

TEST_F(Status, RemovingTheOnlyEntryEmptiesTheListAndItStartsAfresh) {
    StatusEntry* e = create();
    e->percent = 60;
    status_remove(e);
    status_release(e);
    forget(e);
    EXPECT_EQ(status_count(), 0);
    PlatformProgressState state;
    EXPECT_EQ(applied(&state), (std::vector<Request>{SETRANGE}))
        << "the removal's refresh finds nothing";
    StatusEntry* again = create();
    again->percent = 5;
    status_refresh();
    EXPECT_EQ(status_count(), 1);
    EXPECT_EQ(applied(), (std::vector<Request>{SETRANGE, pos(5), PAINT}));
}

TEST_F(Status, WhenTheLastEntryGoesTheBarKeepsItsState) {
    StatusEntry* e = create();
    e->percent = -1;
    status_refresh();
    status_remove(e);
    status_release(e);
    forget(e);
    PlatformProgressState state;
    applied(&state);
    EXPECT_EQ(state.position, 100);
    EXPECT_EQ(state.state, PLATFORM_PBST_ERROR);
}

}  // namespace
