// The per-thread scratch ring.
#include "core/scratch.h"

#include <stdlib.h>
#include <string.h>

static thread_local ScratchRing ring;

ScratchRing* scratch_ring(void) {
    return &ring;
}

char* scratch_alloc(size_t n) {
    ScratchSlot* slot = &ring.slots[ring.next];
    ring.next = (ring.next + 1) % SCRATCH_SLOTS;
    if (n <= slot->capacity) {
        return slot->buffer;
    }
    if (n > UINT32_MAX) {
        return nullptr;
    }
    uint32_t capacity = n > SCRATCH_MIN_CAPACITY ? (uint32_t)n : SCRATCH_MIN_CAPACITY;
    char* grown = static_cast<char*>(realloc(slot->buffer, capacity));
    if (grown == nullptr) {
        return nullptr;
    }
    slot->buffer = grown;
    slot->capacity = capacity;
    return grown;
}

void scratch_release_thread(void) {
    for (uint32_t i = 0; i < SCRATCH_SLOTS; i++) {
        free(ring.slots[i].buffer);
        ring.slots[i].buffer = nullptr;
        ring.slots[i].capacity = 0;
    }
    ring.next = 0;
}

char* scratch_strdup(const char* text) {
    if (text == nullptr) {
        return nullptr;
    }
    size_t n = strlen(text) + 1;
    char* copy = scratch_alloc(n);
    if (copy != nullptr) {
        memcpy(copy, text, n);
    }
    return copy;
}
