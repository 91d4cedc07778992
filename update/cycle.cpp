// The updater thread's cycle.
#include "update/cycle.h"

#include <stdlib.h>
#include <string.h>

#include "core/path.h"
#include "core/report.h"
#include "core/settings.h"
#include "core/startup_gate.h"
#include "platform/platform.h"
#include "update/checks.h"
#include "update/manifest.h"
#include "update/status.h"
#include "update/version.h"

// The forum the failure message sends users to; the only place it is named.
#define UPDATE_FORUM_ADDRESS L"https://forum.corvane.example/"

const wchar_t update_failure_message[] =
    L"An error occured while attempting to download Corvane Chat. Please ensure that you have an "
    L"Internet connection. This may also be caused by server issues, in which case you can try "
    L"again later. If you encounter this message repeatedly, please post in the Corvane Chat "
    L"forums on the Tessal Network (" UPDATE_FORUM_ADDRESS
    L") with your system information so that we can hopefully resolve the issue or suggest "
    L"alternative means of installation.";

const char UPDATE_DOWNLOADING_TEXT[] = "Downloading update...";
const char UPDATE_INSTALLING_TEXT[] = "Installing update...";

const HandlerEntry updater_handlers[] = {
    {MAIL_RUN_UPDATE, update_request},
    {0, nullptr},
};

// Touched only by the updater thread.
static uint8_t cycle_running = 0;
// Written by the updater thread; read by others after its broadcast.
static UpdateFailure last_failure = UPDATE_FAILURE_NONE;

UpdateFailure update_last_failure(void) {
    return last_failure;
}

int32_t update_request(Mailbox* sender, uint32_t id, int32_t param, void* payload) {
    if (updates_held) {
        startup_mark_held_request_declined();
        return 1;
    }
    run_update_cycle();
    return 0;
}

// Sets the entry's percent and text and refreshes; a text that cannot be
// copied keeps the old one (the bar still moves).
static void show_status(StatusEntry* status, int32_t percent, const char* text) {
    if (status == nullptr) {
        return;
    }
    status->percent = percent;
    status_set_text(status, text);
    status_refresh();
}

// What the download's pieces go through: digest, staging file, bar.
struct DownloadSink {
    UpdateJob* job;
    PlatformFile* file;
    mbedtls_md_context_t* md;
    uint32_t counter;
};

static bool download_take_piece(void* context, const char* bytes, uint32_t n, bool last) {
    DownloadSink* sink = static_cast<DownloadSink*>(context);
    UpdateJob* job = sink->job;
    // More than declared can never match: stop before it fills the disk.
    if (static_cast<int64_t>(sink->counter) + n > static_cast<int64_t>(job->size)) {
        sink->counter += n;
        return false;
    }
    sink->counter += n;
    if (n > 0) {
        if (mbedtls_md_update(sink->md, reinterpret_cast<const uint8_t*>(bytes), n) != 0) {
            return false;
        }
        if (sink->file != nullptr && !platform_file_write(sink->file, bytes, n)) {
            return false;
        }
    }
    if (job->status != nullptr) {
        int32_t percent = download_percent(sink->counter, job->size, last);
        if (percent != job->status->percent) {
            job->status->percent = percent;
            status_refresh();
        }
    }
    return true;
}

bool download_body(UpdateJob* job, const char* url, PlatformFile* file, mbedtls_md_context_t* md,
                   uint32_t* received) {
    char buffer[DOWNLOAD_BUFFER_SIZE];
    DownloadSink sink = {job, file, md, 0};
    // No time limit: a large file on a slow line may take long.
    bool result = update_get_body(url, 0, buffer, DOWNLOAD_BUFFER_SIZE, download_take_piece, &sink);
    *received = sink.counter;
    return result;
}

// Orders the staging file's creation against its abandonment: once the
// stage is abandoned no cycle creates the file again.
static PlatformLazyLock stage_lock;
static bool stage_abandoned;  // under stage_lock

static PlatformLock* stage_lock_get(void) {
    return platform_lazy_lock(&stage_lock, 0);
}

// Creates (or truncates) the staging file unless the stage was abandoned.
// Null then, or when the file or the guard's lock cannot be made.
static PlatformFile* stage_create(const char* stage) {
    PlatformLock* lock = stage_lock_get();
    if (lock == nullptr) {
        return nullptr;
    }
    platform_lock_enter(lock);
    PlatformFile* file = stage_abandoned ? nullptr : platform_file_create(path_to_long_wide(stage));
    platform_lock_leave(lock);
    return file;
}

void update_abandon_stage(const char* program) {
    PlatformLock* lock = stage_lock_get();
    if (lock != nullptr) {
        platform_lock_enter(lock);
    }
    stage_abandoned = true;
    const wchar_t* stage = program != nullptr ? path_to_long_wide(stage_name(program)) : nullptr;
    if (stage != nullptr) {
        platform_delete_file(stage);
    }
    if (lock != nullptr) {
        platform_lock_leave(lock);
    }
}

// Before the staged file can take the program file's name it is made
// runnable and pushed to the disk: a kill after the swap must not leave a
// program file that cannot be started, nor a power cut an empty one.
static bool seal_staged_file(PlatformFile* file, const char* stage) {
    return platform_file_make_executable(path_to_long_wide(stage)) && platform_file_persist(file);
}

bool download_update(UpdateJob* job, UpdateFailure* why) {
    bool result = false;
    bool signed_ok = true;
    bool streamed = false;
    uint32_t received = 0;
    uint8_t digest[DIGEST_LENGTH];
    PlatformFile* file = nullptr;
    char* stage = nullptr;
    const char* program = program_file_path();
    mbedtls_md_context_t md;
    mbedtls_md_init(&md);

    if (program == nullptr) {
        goto cleanup;
    }
    // Owned: the path outlives many scratch requests and may become
    // staged_path.
    stage = status_copy_text(stage_name(program));
    if (stage == nullptr) {
        goto cleanup;
    }
    if (mbedtls_md_setup(&md, mbedtls_md_info_from_type(MBEDTLS_MD_SHA256), 0) != 0 ||
        mbedtls_md_starts(&md) != 0) {
        goto cleanup;
    }
    platform_delete_file(path_to_long_wide(stage));
    show_status(job->status, 0, UPDATE_DOWNLOADING_TEXT);

    file = stage_create(stage);
    if (file == nullptr) {
        goto cleanup;
    }
    streamed = download_body(job, field_text(job->fields[FIELD_URL]), file, &md, &received);
    if (!streamed || mbedtls_md_finish(&md, digest) != 0) {
        goto cleanup;
    }
    // A negative declared size never matches.
    if (job->size < 0 || received != static_cast<uint32_t>(job->size)) {
        goto cleanup;
    }
    signed_ok = check_file_signature(job, digest);
    if (signed_ok && seal_staged_file(file, stage)) {
        free(job->staged_path);
        job->staged_path = stage;
        stage = nullptr;
        result = true;
    }

cleanup:
    mbedtls_md_free(&md);
    if (file != nullptr) {
        platform_file_close(file);
    }
    if (!result && file != nullptr) {
        platform_delete_file(path_to_long_wide(stage));
    }
    free(stage);
    if (!result && why != nullptr) {
        *why = signed_ok ? UPDATE_FAILURE_DOWNLOAD : UPDATE_FAILURE_SIGNATURE;
    }
    return result;
}

bool install_update(UpdateJob* job) {
    show_status(job->status, 0, UPDATE_INSTALLING_TEXT);
    const char* program = program_file_path();
    if (program == nullptr || job->staged_path == nullptr) {
        return false;
    }
    // Held across several conversions, so each gets its own scratch slot.
    const wchar_t* program_wide = path_to_long_wide(program);
    const wchar_t* old_wide = path_to_long_wide(old_name(program));
    const wchar_t* staged_wide = path_to_long_wide(job->staged_path);
    const wchar_t* folder_wide = path_to_long_wide(path_parent(program));
    if (program_wide == nullptr || old_wide == nullptr || staged_wide == nullptr ||
        folder_wide == nullptr) {
        return false;
    }
    // A folder of that name is not a program file to replace: moved aside,
    // it would be left under the previous file's name for good.
    if (platform_path_kind(program_wide) == PLATFORM_PATH_DIRECTORY) {
        return false;
    }
    // The staged file's own entry reaches the disk before the swap uses it.
    if (!platform_folder_persist(folder_wide)) {
        return false;
    }
    // Fails harmlessly when nothing is installed yet.
    bool kept_old = platform_move(program_wide, old_wide);
    if (!platform_move(staged_wide, program_wide)) {
        // Never leave the folder without its program file.
        if (kept_old) {
            platform_move(old_wide, program_wide);
        }
        return false;
    }
    // The swap is on the disk before success lets Repair drop its backup.
    platform_folder_persist(folder_wide);
    last_failure = UPDATE_FAILURE_NONE;
    mail_post(nullptr, MAIL_UPDATE_DONE, 1, nullptr, nullptr);
    return true;
}

// Reads the version and size texts into the job.
static void read_manifest_numbers(UpdateJob* job) {
    parse_version(field_text(job->fields[FIELD_VERSION]), job->version);
    job->size = parse_size(field_text(job->fields[FIELD_SIZE]));
}

// The cycle's steps up to the swap; UPDATE_FAILURE_NONE when success was
// broadcast. Without memory for the status or the fields nothing could be
// fetched, which counts as a manifest not fetched.
static UpdateFailure run_cycle_steps(UpdateJob* job) {
    if (job->status == nullptr || !job_create_fields(job) ||
        !manifest_fetch_fields(job, manifest_url())) {
        return UPDATE_FAILURE_MANIFEST;
    }
    if (!check_manifest_signature(job)) {
        return UPDATE_FAILURE_SIGNATURE;
    }
    read_manifest_numbers(job);
    if (!version_above_baseline(job->version)) {
        return UPDATE_FAILURE_VERSION;
    }
    UpdateFailure why = UPDATE_FAILURE_DOWNLOAD;
    if (!download_update(job, &why)) {
        return why;
    }
    return install_update(job) ? UPDATE_FAILURE_NONE : UPDATE_FAILURE_SWAP;
}

void run_update_cycle(void) {
    if (cycle_running) {
        return;
    }
    cycle_running = 1;

    UpdateJob job;
    memset(&job, 0, sizeof(job));
    job.status = status_create();
    UpdateFailure failure = run_cycle_steps(&job);
    if (failure != UPDATE_FAILURE_NONE) {
        // Before the broadcast, so its receivers read this cycle's reason.
        last_failure = failure;
        if (job.status != nullptr && job.status->percent != -1) {
            job.status->percent = -1;
            status_refresh();
        }
        report(REPORT_ERROR, L"%ls", update_failure_message);
        mail_post(nullptr, MAIL_UPDATE_DONE, 0, nullptr, nullptr);
    }

    job_free_fields(&job);
    if (job.status != nullptr) {
        status_remove(job.status);
        status_release(job.status);
    }
    free(job.staged_path);
    cycle_running = 0;
}
