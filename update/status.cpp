// The status list and the progress bar it drives.
#include "update/status.h"

#include <stdlib.h>
#include <string.h>

static PlatformLazyLock status_lock;
static StatusEntry** status_list = nullptr;
static int32_t status_list_count = 0;
static char* last_shown_text = nullptr;
static PlatformWindow progress_bar = nullptr;

// The lock is plain (no spinning); made once, by whoever comes first. A lock
// that cannot be made is as fatal here as it was before: entries could not
// be kept apart without it.
static PlatformLock* lock_status(void) {
    PlatformLock* lock = platform_lazy_lock(&status_lock, 0);
    platform_lock_enter(lock);
    return lock;
}

void progress_bar_create(PlatformWindow parent) {
    platform_lazy_lock(&status_lock, 0);
    progress_bar = platform_progress_bar_create(parent, STATUS_BAR_X, STATUS_BAR_Y,
                                                STATUS_BAR_WIDTH, STATUS_BAR_HEIGHT);
    if (progress_bar != nullptr) {
        platform_send_window_message(progress_bar, PLATFORM_PBM_SETRANGE, 0, STATUS_BAR_RANGE);
    }
}

PlatformWindow status_progress_bar(void) {
    return progress_bar;
}

StatusEntry* status_create(void) {
    StatusEntry* entry = static_cast<StatusEntry*>(calloc(1, sizeof(StatusEntry)));
    if (entry == nullptr) {
        return nullptr;
    }
    entry->priority = STATUS_PRIORITY;

    PlatformLock* lock = lock_status();
    StatusEntry** grown = static_cast<StatusEntry**>(
        realloc(status_list, sizeof(StatusEntry*) * static_cast<size_t>(status_list_count + 1)));
    if (grown == nullptr) {
        platform_lock_leave(lock);
        free(entry);
        return nullptr;
    }
    status_list = grown;
    // In front of the trailing run of entries of priority 50 or more, so
    // among equals the oldest stays nearest the end and drives the bar.
    int32_t p = status_list_count;
    while (p > 0 && status_list[p - 1]->priority >= STATUS_PRIORITY) {
        p--;
    }
    memmove(status_list + p + 1, status_list + p,
            sizeof(StatusEntry*) * static_cast<size_t>(status_list_count - p));
    status_list[p] = entry;
    status_list_count++;
    platform_lock_leave(lock);
    return entry;
}

char* status_copy_text(const char* text) {
    if (text == nullptr) {
        return nullptr;
    }
    size_t n = strlen(text) + 1;
    char* copy = static_cast<char*>(malloc(n));
    if (copy != nullptr) {
        memcpy(copy, text, n);
    }
    return copy;
}

void status_refresh(void) {
    PlatformLock* lock = lock_status();
    StatusEntry* driving = nullptr;
    for (int32_t i = status_list_count - 1; i >= 0; i--) {
        if (status_list[i]->text != nullptr || status_list[i]->percent != 0) {
            driving = status_list[i];
            break;
        }
    }
    if (driving == nullptr) {
        platform_lock_leave(lock);
        return;
    }
    // Posted, never sent: the updater must not wait for the UI thread.
    if (driving->percent < 0) {
        platform_post_window_message(progress_bar, PLATFORM_PBM_SETPOS, 100, 0);
        platform_post_window_message(progress_bar, PLATFORM_PBM_SETBARCOLOR, 0,
                                     static_cast<intptr_t>(STATUS_FAILURE_COLOUR));
        platform_post_window_message(progress_bar, PLATFORM_PBM_SETSTATE, PLATFORM_PBST_ERROR, 0);
    } else {
        platform_post_window_message(progress_bar, PLATFORM_PBM_SETPOS,
                                     static_cast<uintptr_t>(driving->percent), 0);
    }
    bool unchanged = driving->text != nullptr && last_shown_text != nullptr &&
                     strcmp(driving->text, last_shown_text) == 0;
    // A failed copy forgets the text, so the next refresh repaints anyway.
    free(last_shown_text);
    last_shown_text = status_copy_text(driving->text);
    platform_lock_leave(lock);
    if (!unchanged) {
        platform_invalidate_window(progress_bar);
    }
}

void status_remove(StatusEntry* entry) {
    PlatformLock* lock = lock_status();
    for (int32_t i = status_list_count - 1; i >= 0; i--) {
        if (status_list[i] == entry) {
            memmove(status_list + i, status_list + i + 1,
                    sizeof(StatusEntry*) * static_cast<size_t>(status_list_count - i - 1));
            status_list_count--;
        }
    }
    if (status_list_count == 0) {
        free(status_list);
        status_list = nullptr;
    } else {
        // Shrinking cannot lose entries; a failed shrink keeps the larger block.
        StatusEntry** shrunk = static_cast<StatusEntry**>(
            realloc(status_list, sizeof(StatusEntry*) * static_cast<size_t>(status_list_count)));
        if (shrunk != nullptr) {
            status_list = shrunk;
        }
    }
    platform_lock_leave(lock);
    status_refresh();
}

bool status_set_text(StatusEntry* entry, const char* text) {
    char* copy = status_copy_text(text);
    if (text != nullptr && copy == nullptr) {
        return false;
    }
    free(entry->text);
    entry->text = copy;
    return true;
}

void status_release(StatusEntry* entry) {
    if (entry == nullptr) {
        return;
    }
    free(entry->text);
    free(entry);
}

int32_t status_count(void) {
    PlatformLock* lock = lock_status();
    int32_t count = status_list_count;
    platform_lock_leave(lock);
    return count;
}
