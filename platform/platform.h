// The thin layer between the portable code and the operating system.
//
// Every function is named by what the tool needs, not by the system call
// behind it. The Win32 side calls Windows directly; the POSIX side gives the
// same observable behaviour (paths in "\\?\" form, a per-thread window-message
// queue that wakes the owner's wait, moves that never replace).
//
// Paths handed to this layer are always the UTF-16 long form that
// path_to_long_wide produces ("\\?\C:\dir", "\\?\UNC\srv\share",
// "\\?\home\ann" on POSIX). Nothing above this header includes a system header.
#pragma once

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

// ---- Locks -----------------------------------------------------------------

struct PlatformLock;

// Returns a new unlocked lock, or null when memory runs out. spin_count is
// the busy-wait before sleeping (Windows critical sections); 0 for a plain
// lock. Locks are never destroyed by the tool, but tests may free them.
PlatformLock* platform_lock_create(uint32_t spin_count);
void platform_lock_enter(PlatformLock* lock);
void platform_lock_leave(PlatformLock* lock);
void platform_lock_destroy(PlatformLock* lock);

// A lock made on first use by whichever thread comes first, for the locks
// of a file's own statics, which no start-up order could make in time.
struct PlatformLazyLock {
    PlatformLock* lock;  // zero-initialised; owned by the layer
};
// The lock, made with spin_count by the first call. Null when it cannot be
// made; a later call tries again.
PlatformLock* platform_lazy_lock(PlatformLazyLock* lazy, uint32_t spin_count);

// Runs init exactly once per flag, even when threads race to be first.
struct PlatformOnce {
    volatile long state;  // zero-initialised; owned by the layer
};
void platform_once(PlatformOnce* once, void (*init)(void));

// ---- Events and waiting ----------------------------------------------------

struct PlatformEvent;

// Manual-reset event, created not signalled. Null when it cannot be made.
PlatformEvent* platform_event_create(void);
void platform_event_set(PlatformEvent* event);
void platform_event_reset(PlatformEvent* event);
void platform_event_destroy(PlatformEvent* event);

// Timeout value that means "no limit".
constexpr int32_t PLATFORM_WAIT_FOREVER = -1;

// Sleeps until the event is set, or window input is waiting in the calling
// thread's queue (also input that was already looked at), or timeout_ms has
// passed. Returns nothing: the caller looks again at what it waits for.
void platform_wait_event_or_input(PlatformEvent* event, int32_t timeout_ms);

// Tests only: with a hook set, every wait calls it on the waiting thread
// once it has found nothing to wake for and just before it sleeps, so a
// test can post in that very moment; the wait must still end. Null, the
// default, calls nothing. Process-wide; set and cleared while no other
// thread waits. The context must outlive the hook.
typedef void (*PlatformWaitHook)(void* context);
void platform_wait_set_sleep_hook(PlatformWaitHook hook, void* context);

// Millisecond clock that wraps at 2^32.
uint32_t platform_tick_ms(void);
// Millisecond clock since start-up that does not wrap in practice: for
// deadlines that must hold across the 49.7 days of the 32-bit one.
uint64_t platform_tick64_ms(void);

// Sleeps the calling thread (tests and the demo only; the tool never sleeps).
void platform_sleep_ms(uint32_t ms);

// ---- Threads ---------------------------------------------------------------

typedef uintptr_t PlatformThread;  // thread handle; 0 is none

// Starts fn(arg) on a new thread through the C runtime. Returns 0 on failure.
PlatformThread platform_thread_start(void (*fn)(void* arg), void* arg);

// Handle of the calling thread (for the main thread, as GetCurrentThread).
PlatformThread platform_thread_current(void);

// Ends the calling thread with the given exit code; does not return.
[[noreturn]] void platform_thread_exit(uint32_t code);

// Waits for a started thread to end (tests only). True when it ended.
bool platform_thread_join(PlatformThread thread, int32_t timeout_ms);

// ---- Tests only: a thread start the system refuses -------------------------
// The system almost never refuses a thread, so the callers' paths for that
// would go unexercised. With a hook set, every platform_thread_start first
// asks it: false makes that start fail as a refused one does (0, nothing
// started, fn never runs). Null, the default, leaves starts untouched.
// Process-wide; set and cleared while no other thread starts threads. The
// context must outlive the hook.
typedef bool (*PlatformThreadStartHook)(void* context);
void platform_thread_set_start_hook(PlatformThreadStartHook hook, void* context);

// ---- Window messages -------------------------------------------------------

// One window message, laid out as the Windows MSG record.
struct PlatformMsg {
    void* window;  // target window, null for a thread message
    uint32_t message;
    uintptr_t wparam;
    intptr_t lparam;
    uint32_t time;
    int32_t pt_x;
    int32_t pt_y;
};

constexpr uint32_t PLATFORM_WM_QUIT = 0x0012;
constexpr uint32_t PLATFORM_WM_USER = 0x0400;

// Removes the next message of the calling thread's queue into *out. False
// when the queue is empty.
bool platform_peek_message(PlatformMsg* out);

// Hands a window message to its window: through the dialog manager of
// dialog_window when that takes it, else translated and dispatched.
void platform_dispatch_message(void* dialog_window, const PlatformMsg* msg);

// Queues a message without a window for a thread. False when the thread has
// no queue or has ended.
bool platform_post_thread_message(PlatformThread thread, uint32_t message, uintptr_t wparam,
                                  intptr_t lparam);

// Queues WM_QUIT with the exit code for the calling thread.
void platform_post_quit(int32_t exit_code);

// ---- Text ------------------------------------------------------------------

// UTF-8 to wide and back, terminating NUL included. With capacity 0 they
// return the size needed (in units, NUL counted); otherwise the units
// written, or 0 when the output does not fit or the input is invalid.
int platform_utf8_to_wide(const char* text, wchar_t* out, int capacity);
int platform_wide_to_utf8(const wchar_t* text, char* out, int capacity);

// Formats like the C runtime's wide printf into out, cut to capacity - 1
// units when longer and always terminated. Returns false when cut.
bool platform_format_wide(wchar_t* out, size_t capacity, const wchar_t* format, va_list args);

// ---- Files and folders -----------------------------------------------------

enum PlatformPathKind {
    PLATFORM_PATH_NONE = 0,
    PLATFORM_PATH_FILE = 1,
    PLATFORM_PATH_DIRECTORY = 2
};

// What exists at the path, if anything.
PlatformPathKind platform_path_kind(const wchar_t* long_path);

enum PlatformCreateResult {
    PLATFORM_CREATED = 0,
    PLATFORM_ALREADY_EXISTS = 1,
    PLATFORM_CREATE_FAILED = 2
};

// Creates one folder (not its parents). Something of that name, file or
// folder, gives PLATFORM_ALREADY_EXISTS.
PlatformCreateResult platform_create_directory(const wchar_t* long_path);

bool platform_delete_file(const wchar_t* long_path);
// Renames a file or folder; fails when the target exists.
bool platform_move(const wchar_t* from_long, const wchar_t* to_long);
// Removes an empty folder; fails on a folder with anything in it.
bool platform_remove_directory(const wchar_t* long_path);

struct PlatformFile;

// Creates (or truncates) a file for writing, unshared. Null on failure.
PlatformFile* platform_file_create(const wchar_t* long_path);
// Creates a new file for writing, unshared, in one step that fails when
// anything already exists at the path (a link included). With owner_only
// only the user may read or write it on POSIX (mode 0600); on Windows the
// folder's access rules apply. Null on failure.
PlatformFile* platform_file_create_new(const wchar_t* long_path, bool owner_only);
// Writes all n bytes; false when any could not be written.
bool platform_file_write(PlatformFile* file, const void* data, uint32_t n);
void platform_file_close(PlatformFile* file);
// Marks a file as a program the user may run (a no-op on Windows).
bool platform_file_make_executable(const wchar_t* long_path);
// Waits until the file's bytes (and its mode) are on the disk, so that a
// power cut after a later rename cannot leave that name on an empty or
// partial file.
bool platform_file_persist(PlatformFile* file);
// Waits until the folder's entries (names created, renamed or deleted in
// it) are on the disk. Windows keeps no separate record of them to flush:
// there it only checks that the folder exists.
bool platform_folder_persist(const wchar_t* long_path);

// The current directory in the system's own form. Returns the units needed
// with the NUL when capacity is too small (or 0), else the units written
// without the NUL; 0 on failure. As GetCurrentDirectoryW.
uint32_t platform_current_directory(wchar_t* out, uint32_t capacity);

enum PlatformFolder {
    PLATFORM_FOLDER_APPDATA = 26,  // per-user application data
    PLATFORM_FOLDER_PROGRAMS = 2,  // the user's Start-menu programs
    PLATFORM_FOLDER_DESKTOP = 16,  // the user's desktop folder
};

constexpr int PLATFORM_MAX_PATH = 260;

// Fills out (PLATFORM_MAX_PATH units) with the folder in the system's form.
// False when the system cannot name it.
bool platform_known_folder(PlatformFolder folder, wchar_t out[PLATFORM_MAX_PATH]);

// ---- Processes -------------------------------------------------------------

// Full path of the running program file in the system's form, as the C
// runtime reports it; a pointer that lives as long as the process.
const wchar_t* platform_program_path(void);

// Starts the program at application_long with the given Windows-style
// command line (its first argument names the program), the tool's own
// environment and current directory. On POSIX the line is split by the
// Windows rules for command lines. True when the process was created.
bool platform_process_start(const wchar_t* application_long, wchar_t* command_line);

// Ends the whole process with the exit code; does not return.
[[noreturn]] void platform_process_exit(uint32_t code);

// ---- Message boxes ---------------------------------------------------------

constexpr uint32_t PLATFORM_MB_OK = 0x0;
constexpr uint32_t PLATFORM_MB_YESNO = 0x4;
constexpr uint32_t PLATFORM_MB_ICONERROR = 0x10;
constexpr uint32_t PLATFORM_MB_ICONQUESTION = 0x20;
constexpr uint32_t PLATFORM_MB_ICONINFORMATION = 0x40;
constexpr int PLATFORM_IDOK = 1;
constexpr int PLATFORM_IDYES = 6;
constexpr int PLATFORM_IDNO = 7;

// Shows a modal message box owned by owner (or none) and returns the button
// pressed. On POSIX a window backend may take over the box (see
// platform_set_message_box_hook); without one the caption and text are
// printed and a question is answered No.
int platform_message_box(void* owner, const wchar_t* text, const wchar_t* caption, uint32_t type);

typedef int (*PlatformMessageBoxHook)(void* owner, const wchar_t* text, const wchar_t* caption,
                                      uint32_t type);
// Lets the console window show message boxes itself. Set before other
// threads start.
void platform_set_message_box_hook(PlatformMessageBoxHook hook);

// ---- Entry point -----------------------------------------------------------

// The portable entry point that each platform's main calls: module instance
// (null on POSIX), the command tail exactly as the system passed it (on
// POSIX, argv[1..] quoted by the Windows rules), and the wide argument
// vector. Defined by the tool's start-up.
int bootstrap_main(void* instance, const wchar_t* command_tail, int argc, wchar_t** argv);

// ---- Windows and controls --------------------------------------------------
//
// A window handle. On Windows an HWND; on POSIX an object of this layer that
// belongs to the thread that created it, whose posted messages join that
// thread's queue and reach the window's procedure when it dispatches them.

typedef void* PlatformWindow;
typedef intptr_t (*PlatformWindowProc)(PlatformWindow window, uint32_t message, uintptr_t wparam,
                                       intptr_t lparam);

// Queues a message for a window's thread (PostMessageW). False when the
// window does not exist.
bool platform_post_window_message(PlatformWindow window, uint32_t message, uintptr_t wparam,
                                  intptr_t lparam);
// Calls the window's procedure on the calling thread (SendMessageW from the
// owner thread).
intptr_t platform_send_window_message(PlatformWindow window, uint32_t message, uintptr_t wparam,
                                      intptr_t lparam);
// Marks the whole window for repainting (RedrawWindow, RDW_INVALIDATE). Any
// thread may call it; the repaint happens on the owner thread.
void platform_invalidate_window(PlatformWindow window);

// Progress-bar messages and states, as the Windows control takes them.
constexpr uint32_t PLATFORM_PBM_SETRANGE = 0x401;
constexpr uint32_t PLATFORM_PBM_SETPOS = 0x402;
constexpr uint32_t PLATFORM_PBM_SETBARCOLOR = 0x409;
constexpr uint32_t PLATFORM_PBM_SETSTATE = 0x410;
constexpr uint32_t PLATFORM_PBST_NORMAL = 1;
constexpr uint32_t PLATFORM_PBST_ERROR = 2;
constexpr uint32_t PLATFORM_WM_PAINT = 0x000F;

// Creates the smooth progress-bar control as a child of parent, with a
// client edge, at the given client position and size. Null on failure.
PlatformWindow platform_progress_bar_create(PlatformWindow parent, int x, int y, int width,
                                            int height);

// What a POSIX progress bar has applied, on its own thread, in order: every
// request it was sent or posted (PBM_* messages and WM_PAINT for each
// invalidation) and the resulting state. Windows has no such record.
struct PlatformProgressState {
    int32_t range_min, range_max;
    int32_t position;
    uint32_t bar_color;
    uint32_t state;   // PLATFORM_PBST_*
    uint32_t paints;  // invalidations applied
};
struct PlatformProgressRequest {
    uint32_t message;
    uintptr_t wparam;
    intptr_t lparam;
};
// Copies the state and up to capacity requests (oldest first); returns the
// number of requests recorded in all. Call on the bar's own thread.
uint32_t platform_progress_bar_record(PlatformWindow bar, PlatformProgressState* state,
                                      PlatformProgressRequest* requests, uint32_t capacity);

#ifndef _WIN32
// A plain window of this layer for tests and the console backend: its
// messages reach proc on the creating thread. Windows builds its own.
PlatformWindow platform_window_create_posix(PlatformWindowProc proc, void* user);
void* platform_window_user(PlatformWindow window);
void platform_window_destroy_posix(PlatformWindow window);
// Calls observer on the bar's thread after each request it applies, so a
// console can redraw the bar.
void platform_progress_bar_observe(PlatformWindow bar, PlatformWindowProc observer);

// The Windows rules for command lines, for the POSIX launch and tail:
// split gives a heap vector (free it) and its count, or null; quote writes
// one argument so that split gives it back, and returns its length (out may
// be null to measure).
wchar_t** platform_split_command_line(const wchar_t* line, int* argc);
// The kind of a message box as printed ("error", "question",
// "information", "message") by its icon bits.
const char* platform_message_box_kind(uint32_t type);
size_t platform_quote_argument(const wchar_t* arg, wchar_t* out);
#endif

#ifndef _WIN32
// True when standard output is a terminal (the console window draws
// itself only there).
bool platform_stdout_is_terminal(void);
#endif

// ---- The system's proxy setting --------------------------------------------
//
// Raw texts only: the portable side (http/proxy_choice.h) parses and matches
// them. Nothing here writes a setting.

constexpr int32_t PLATFORM_PROXY_TEXT_CAPACITY = 1024;

enum PlatformProxyKind {
    // Nothing is set for the URL's scheme, or the answer was DIRECT.
    PLATFORM_PROXY_NONE = 0,
    // proxy is a proxy URL, bypass a no_proxy list (the POSIX environment).
    PLATFORM_PROXY_URL = 1,
    // proxy is a Windows proxy-server list, bypass a Windows bypass list
    // (the user's manual Internet settings).
    PLATFORM_PROXY_WINDOWS_MANUAL = 2,
    // proxy is the auto-config answer for this URL, a proxy-server list;
    // no bypass list applies to it.
    PLATFORM_PROXY_WINDOWS_RESOLVED = 3,
};

struct PlatformProxySettings {
    PlatformProxyKind kind;
    char proxy[PLATFORM_PROXY_TEXT_CAPACITY];
    char bypass[PLATFORM_PROXY_TEXT_CAPACITY];
    // Where proxy came from: a variable's name, "Internet settings" or
    // "auto-config"; static text, null when nothing was set.
    const char* origin;
};

// The system's proxy settings for url (UTF-8; https tells its scheme). On
// POSIX: https_proxy, then HTTPS_PROXY, for "https", http_proxy for "http",
// else all_proxy, then ALL_PROXY, for either; and no_proxy, then NO_PROXY
// (an empty variable counts as unset). On Windows: the current user's
// Internet settings as WinHTTP reads them, with an auto-config script or
// auto-detection asked for url (a failed one falls back to the manual
// proxy). False when a text does not fit its buffer; *out is zeroed then but
// for origin, which names the setting that does not fit.
bool platform_system_proxy(const char* url, bool https, PlatformProxySettings* out);

// ---- Files: what a name leads to, and replacing one in a single step -------

// What a name leads to, links followed. Two names of one file (hard or
// symbolic links) give the same volume and index: device and inode on
// POSIX, volume serial number and file index on Windows.
struct PlatformFileFacts {
    bool regular;  // a plain file: not a folder, device, pipe or socket
    uint64_t volume;
    uint64_t index;
};

// False, with *out zeroed, when nothing is at the path (a link to nowhere
// included) or it cannot be looked at.
bool platform_file_facts(const wchar_t* long_path, PlatformFileFacts* out);

// Renames a file over to_long in one step: a file (or link) there is
// replaced, so that name holds the old file or the new one, never neither.
// Fails, changing nothing, when to_long is a folder.
bool platform_replace_file(const wchar_t* from_long, const wchar_t* to_long);
