// Status entries: an ordered list of reporting tasks, the one nearest the
// end that has something to show drives the progress bar.
#pragma once

#include <stdint.h>

#include "platform/platform.h"

constexpr int32_t STATUS_PRIORITY = 50;
// The colour of a failed task's bar (COLORREF red).
constexpr uint32_t STATUS_FAILURE_COLOUR = 0x000000FF;
// Where progress_bar_create puts the bar in the main window's client area;
// the window's control table shows the same row from these.
constexpr int STATUS_BAR_X = 18;
constexpr int STATUS_BAR_Y = 302;
constexpr int STATUS_BAR_WIDTH = 348;
constexpr int STATUS_BAR_HEIGHT = 20;
// The bar's range, 0..100, as PBM_SETRANGE takes it: minimum in the low
// word, maximum in the high word.
constexpr intptr_t STATUS_BAR_RANGE = 100 << 16;

struct StatusEntry {
    int32_t priority;  // 50, set at creation
    int32_t percent;   // 0..100; negative: the task failed
    char* text;        // owned by the entry's owner, or null
};

// Creates the progress bar as a child of parent at the STATUS_BAR_
// position and size, and sets its range to 0..100. The status lock is made on first use. When
// the control cannot be made the bar is none and refreshes post nowhere.
void progress_bar_create(PlatformWindow parent);

// The bar made by progress_bar_create, or null.
PlatformWindow status_progress_bar(void);

// A new entry (priority 50, percent 0, no text) already in the list, or
// null when memory runs out (the list is then unchanged). Does not refresh.
StatusEntry* status_create(void);

// Posts the state of the driving entry to the bar; nothing when no entry
// qualifies.
void status_refresh(void);

// Takes every slot holding entry out of the list, then refreshes. The entry
// stays its owner's.
void status_remove(StatusEntry* entry);

// Replaces the entry's text with a heap copy of text (or none for null).
// False when the copy cannot be made; the old text is then kept.
bool status_set_text(StatusEntry* entry, const char* text);

// Frees an entry that is no longer in the list, with its text.
void status_release(StatusEntry* entry);

// Entries in the list (tests).
int32_t status_count(void);

// A heap copy of text for its owner to free; null for null or when memory
// runs out. Also the cycle's copy of its staging path.
char* status_copy_text(const char* text);
