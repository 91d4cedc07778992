// The update cycle of the updater thread: manifest, version check,
// download to a staging file, checks, swap into place, broadcast.
#pragma once

#include <stdint.h>
#include <wchar.h>

#include <mbedtls/md.h>

#include "core/mailbox.h"

struct UpdateJob;
struct PlatformFile;

// The updater mailbox's table: (MAIL_RUN_UPDATE, update_request), (0, null).
extern const HandlerEntry updater_handlers[];

// The one message every failed cycle reports (no format conversions).
extern const wchar_t update_failure_message[];

// Why a cycle failed. The user sees the one failure message whatever it
// is; the reason is for the tests and for whoever reads the code's paths.
enum UpdateFailure {
    UPDATE_FAILURE_NONE,       // the cycle succeeded
    UPDATE_FAILURE_MANIFEST,   // manifest not fetched or not parsed
    UPDATE_FAILURE_SIGNATURE,  // the manifest's or the file's signature fails
    UPDATE_FAILURE_VERSION,    // the manifest's version is not above the baseline
    UPDATE_FAILURE_DOWNLOAD,   // staging file, transfer or declared size
    UPDATE_FAILURE_SWAP,       // the staged file could not be put in place
};

// The reason of the last cycle that ran to its end; written by the updater
// thread before its MAIL_UPDATE_DONE, so a thread that received that
// message reads this cycle's.
UpdateFailure update_last_failure(void);

// The texts the status entry shows during a cycle.
extern const char UPDATE_DOWNLOADING_TEXT[];
extern const char UPDATE_INSTALLING_TEXT[];

// Size of the download buffer; the client fills one byte less per read.
constexpr int32_t DOWNLOAD_BUFFER_SIZE = 20000;

// Handler of MAIL_RUN_UPDATE: returns 1 and does nothing while updates are
// held, else runs one cycle and returns 0.
int32_t update_request(Mailbox* sender, uint32_t id, int32_t param, void* payload);

// One whole cycle; the outcome is broadcast as MAIL_UPDATE_DONE (1 or 0).
// A nested call while a cycle runs returns at once.
void run_update_cycle(void);

// Reads url's body, feeding every byte into md and writing it to file (when
// not null), and moves job->status (when not null) through the percent of
// job->size. True when the body ended (HTTP_END, or a client error that
// leaves the size check to judge); false when the request could not be
// made, a write or the digest failed, or more bytes than job->size
// arrived, in which case the reading stopped at once. *received counts the
// bytes received, the piece that passed the declared size included (that
// piece is neither hashed nor written).
bool download_body(UpdateJob* job, const char* url, PlatformFile* file, mbedtls_md_context_t* md,
                   uint32_t* received);

// Downloads the "url" field to the staging file beside the program file and
// checks size and signature; a file that passes is made executable and
// flushed to the disk. True with staged_path set; on false no staging file
// remains, staged_path is untouched and *why (when given) says whether the
// download or the file's signature failed.
bool download_update(UpdateJob* job, UpdateFailure* why);

// Gives the staging file beside program up for good, from any thread, once
// the operation that waited for the cycle was closed and the tool ends:
// deletes it (also while a cycle writes it) and keeps every later cycle
// from creating it, so the end of the process cannot leave it behind. A
// cycle that comes to its download afterwards fails as one that could not
// stage.
void update_abandon_stage(const char* program);

// Swaps the staged file into place, keeping the previous one as ".old",
// and broadcasts success; the folder's entries are flushed before and after
// the swap. A folder in the program file's place is refused and left where
// it is. On false the install folder still has its program file (a moved
// one is moved back) and nothing is broadcast.
bool install_update(UpdateJob* job);
