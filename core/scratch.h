// Per-thread ring of reusable scratch buffers.
//
// Path and text helpers return their results here so callers never free
// them. A buffer stays valid until the same thread has made 256 further
// requests; anything that must live longer, or go to another thread, is
// copied to the heap.
#pragma once

#include <stddef.h>
#include <stdint.h>

constexpr uint32_t SCRATCH_SLOTS = 256;
constexpr uint32_t SCRATCH_MIN_CAPACITY = 256;

struct ScratchSlot {
    uint32_t capacity;
    char* buffer;
};

struct ScratchRing {
    uint32_t next;
    ScratchSlot slots[SCRATCH_SLOTS];
};

// Returns a buffer of at least n bytes from the calling thread's ring; the
// next slot's earlier contents stay when they fit. Null when memory runs out
// (the slot is then left as it was).
char* scratch_alloc(size_t n);

// The calling thread's ring (for tests that look at slot capacities).
ScratchRing* scratch_ring(void);

// Frees the calling thread's slot buffers; called when a thread ends.
void scratch_release_thread(void);

// Copies text into a scratch buffer; null for null.
char* scratch_strdup(const char* text);
