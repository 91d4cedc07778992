// Between the parts of the layer that are the same on both systems and each
// system's files; nothing above the layer includes it.
#pragma once

// False when the test hook refuses the next thread start.
bool shared_thread_start_allowed(void);

// Runs the test hook of platform_wait_set_sleep_hook, if one is set.
void shared_wait_about_to_sleep(void);
