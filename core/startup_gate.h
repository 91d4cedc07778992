// The end of start-up as something other threads wait for, not poll.
//
// Two steps end it: start-up has finished (startup_done), and the update
// request it posts while updates are held has been declined, or was never
// queued (held_request_declined). Until both are marked, clearing the hold
// would let that request run a cycle of its own.
#pragma once

// Marks startup_done and wakes every waiter (main thread, just before its
// loop).
void startup_mark_done(void);

// Marks held_request_declined and wakes every waiter (the updater when it
// declines a held request, start-up when it had no updater to post to).
void startup_mark_held_request_declined(void);

// True once both steps are marked.
bool startup_ended(void);

// Sleeps the calling thread, which has no mailbox, until startup_done is
// marked. Returns at once when that cannot be waited for (no memory for the
// event); the operations still wait for the whole end on their own.
void startup_wait_done(void);

// Pumps the calling thread's mailbox, keeping its windows alive, until
// start-up has ended (true) or the mailbox quit (false).
bool startup_wait_ended(void);
