// The per-thread scratch ring: reuse after 256 requests and slot growth.
#include <gtest/gtest.h>

#include <string.h>

#include <set>
#include <thread>

#include "core/scratch.h"

namespace {

// Runs body on a thread of its own, so the ring starts empty at slot 0.
template <typename F>
void on_fresh_thread(F body) {
    std::thread t([&] {
        body();
        scratch_release_thread();
    });
    t.join();
}

TEST(ScratchRing, The257thRequestReturnsTheFirstBufferWithItsText) {
    on_fresh_thread([] {
        char* first = scratch_alloc(16);
        ASSERT_NE(first, nullptr);
        strcpy(first, "first text");
        std::set<char*> seen = {first};
        for (uint32_t i = 1; i < SCRATCH_SLOTS; i++) {
            char* p = scratch_alloc(16);
            ASSERT_NE(p, nullptr);
            EXPECT_TRUE(seen.insert(p).second) << "request " << i + 1 << " reused a buffer";
        }
        char* again = scratch_alloc(16);
        EXPECT_EQ(again, first);
        EXPECT_STREQ(again, "first text");
    });
}

TEST(ScratchRing, SlotCapacityFollowsTheRequests) {
    // Each row is one request to slot 0, made after a full turn of the ring.
    struct Row {
        size_t request;
        uint32_t capacity_after;
    };
    const Row rows[] = {
        {1, 256},    // the smallest buffer is 256 bytes
        {256, 256},  // fits
        {300, 300},  // grows to exactly the request
        {100, 300},  // never shrinks
        {301, 301}, {5000, 5000},
    };
    on_fresh_thread([&] {
        ScratchRing* ring = scratch_ring();
        ASSERT_EQ(ring->next, 0u);
        for (const Row& row : rows) {
            ASSERT_EQ(ring->next, 0u);
            char* p = scratch_alloc(row.request);
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(ring->slots[0].buffer, p);
            EXPECT_EQ(ring->slots[0].capacity, row.capacity_after) << "request " << row.request;
            memset(p, 'x', row.request);  // the whole request is usable
            for (uint32_t i = 1; i < SCRATCH_SLOTS; i++) {
                scratch_alloc(1);
            }
        }
    });
}

TEST(ScratchRing, GrowingASlotKeepsTheOtherSlotsBuffers) {
    on_fresh_thread([] {
        char* a = scratch_alloc(10);
        strcpy(a, "kept");
        char* b = scratch_alloc(1000);  // slot 1 grows from nothing
        ASSERT_NE(b, nullptr);
        EXPECT_STREQ(a, "kept");
        EXPECT_EQ(scratch_ring()->slots[1].capacity, 1000u);
    });
}

TEST(ScratchRing, EachThreadHasItsOwnRing) {
    char* mine = scratch_alloc(8);
    strcpy(mine, "main");
    char* theirs = nullptr;
    on_fresh_thread([&] { theirs = scratch_alloc(8); });
    EXPECT_NE(theirs, mine);
    EXPECT_STREQ(mine, "main");
}

TEST(ScratchRing, StrdupCopiesIntoTheRing) {
    EXPECT_EQ(scratch_strdup(nullptr), nullptr);
    const char* text = "C:\\Games";
    char* copy = scratch_strdup(text);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, text);
    EXPECT_STREQ(copy, text);
    char* empty = scratch_strdup("");
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty, "");
}

}  // namespace
