// Internal paths: conversion in and out, and the small path operations.
#include "core/path.h"

#include <stdlib.h>
#include <string.h>

#include "core/scratch.h"
#include "platform/platform.h"

char* path_normalise(const char* s) {
    if (s == nullptr) {
        return nullptr;
    }
    if (*s == 0) {
        return const_cast<char*>(s);
    }
    size_t len = strlen(s);
    char* out = scratch_alloc(len + 1);
    if (out == nullptr) {
        return nullptr;
    }
    size_t n = 0;
    // The first written segment of a relative path gets no separator; an
    // absolute path keeps its leading "/" through it.
    bool bare = s[0] != '/';
    const char* segment = s;
    for (const char* p = s;; p++) {
        if (*p != '/' && *p != '\\' && *p != 0) {
            continue;
        }
        size_t seg_len = (size_t)(p - segment);
        if (seg_len == 0 || (seg_len == 1 && segment[0] == '.')) {
            // empty or "." segments vanish
        } else if (seg_len == 2 && segment[0] == '.' && segment[1] == '.') {
            size_t cut = n;
            while (cut > 0 && out[cut - 1] != '/') {
                cut--;
            }
            if (cut > 0) {
                n = cut - 1;
            } else if (s[0] != '/') {
                // A relative path's only segment goes: a/../b is b.
                n = 0;
                bare = true;
            }
        } else {
            if (bare) {
                bare = false;
            } else {
                out[n++] = '/';
            }
            memcpy(out + n, segment, seg_len);
            n += seg_len;
        }
        if (*p == 0) {
            break;
        }
        segment = p + 1;
    }
    out[n] = 0;
    return out;
}

// Converts wide text (with its NUL) to UTF-8 in a scratch buffer.
static char* scratch_utf8(const wchar_t* w) {
    int size = platform_wide_to_utf8(w, nullptr, 0);
    if (size <= 0) {
        return nullptr;
    }
    char* out = scratch_alloc((size_t)size);
    if (out == nullptr || platform_wide_to_utf8(w, out, size) == 0) {
        return nullptr;
    }
    return out;
}

// The current directory in internal form, owned; filled once per process.
static char* current_directory;
static PlatformOnce current_directory_once;

static void current_directory_fill(void) {
    uint32_t needed = platform_current_directory(nullptr, 0);
    if (needed == 0) {
        return;
    }
    wchar_t* buffer = reinterpret_cast<wchar_t*>(scratch_alloc((size_t)needed * sizeof(wchar_t)));
    if (buffer == nullptr || platform_current_directory(buffer, needed) == 0) {
        return;
    }
    char* path = path_from_wide(buffer);
    if (path == nullptr) {
        return;
    }
    char* copy = strdup(path);
    if (copy == nullptr) {
        return;
    }
    free(current_directory);
    current_directory = copy;
}

// head (its first n bytes) followed by tail, in a scratch buffer; none
// when tail is none or memory runs out.
static char* scratch_concat(const char* head, size_t n, const char* tail) {
    if (tail == nullptr) {
        return nullptr;
    }
    size_t tail_len = strlen(tail);
    char* out = scratch_alloc(n + tail_len + 1);
    if (out == nullptr) {
        return nullptr;
    }
    memcpy(out, head, n);
    memcpy(out + n, tail, tail_len + 1);
    return out;
}

// A path such as \tmp\demo names a folder from the root of the current
// directory's drive: /C:/tmp/demo on Windows, /tmp/demo where there are no
// drives. Taken as relative it would land inside the current directory.
// On a network share the root is the share itself: \Chat in
// \\server\share\dir is /UNC/server/share/Chat.
static char* root_relative(const wchar_t* w) {
    platform_once(&current_directory_once, current_directory_fill);
    const char* cwd = current_directory ? current_directory : "";
    size_t root = 0;
    if (cwd[0] == '/' && cwd[1] != 0 && cwd[2] == ':' && (cwd[3] == '/' || cwd[3] == 0)) {
        root = 3;
    } else if (strncmp(cwd, "/UNC/", 5) == 0) {
        const char* server_end = strchr(cwd + 5, '/');
        if (server_end != nullptr && server_end[1] != 0) {
            const char* share_end = strchr(server_end + 1, '/');
            root = share_end != nullptr ? (size_t)(share_end - cwd) : strlen(cwd);
        }
    }
    return root != 0 ? scratch_concat(cwd, root, scratch_utf8(w))
                     : scratch_concat("/", 1, scratch_utf8(w));
}

// Where the current directory has neither drive nor server (POSIX), "/" is
// a folder of its own, the root; normalised it would be the empty path,
// which the window takes for "no folder". It stays "/" instead.
static char* path_root_text(void) {
    char* out = scratch_alloc(2);
    if (out != nullptr) {
        strcpy(out, "/");
    }
    return out;
}

// Asks the system, not the cache: filling the cache converts the current
// directory, which may be that very root.
static bool names_drive_less_root(const char* text) {
    if (text[0] != '/' || (text[1] != 0 && text[2] == ':') || strncmp(text, "/UNC/", 5) == 0) {
        return false;
    }
    uint32_t needed = platform_current_directory(nullptr, 0);
    if (needed == 0) {
        return false;
    }
    wchar_t* cwd = reinterpret_cast<wchar_t*>(scratch_alloc((size_t)needed * sizeof(wchar_t)));
    return cwd != nullptr && platform_current_directory(cwd, needed) != 0 && cwd[0] == L'/';
}

// "UNC\" in any letter case, as Windows itself accepts it.
static bool is_unc_marker(const wchar_t* w) {
    return (w[0] == L'U' || w[0] == L'u') && (w[1] == L'N' || w[1] == L'n') &&
           (w[2] == L'C' || w[2] == L'c') && w[3] == L'\\';
}

char* path_from_wide(const wchar_t* w) {
    if (w == nullptr) {
        return nullptr;
    }
    size_t len = wcslen(w);
    // The long-path form "\\?\" and the device form "\\.\" name no server.
    if (len > 4 && w[0] == L'\\' && w[1] == L'\\' && (w[2] == L'?' || w[2] == L'.') &&
        w[3] == L'\\') {
        w += 4;
        len -= 4;
        // \\?\UNC\server\share is a network path like \\server\share.
        if (len >= 4 && is_unc_marker(w)) {
            return path_normalise(scratch_concat("/UNC", 4, scratch_utf8(w + 3)));
        }
    }
    char* text;
    if (len >= 3 && w[1] == L':' && w[2] == L'\\') {
        text = scratch_concat("/", 1, scratch_utf8(w));
    } else if (len >= 2 && w[0] == L'\\' && w[1] == L'\\') {
        text = scratch_concat("/UNC", 4, scratch_utf8(w + 1));
    } else if (w[0] == L'\\' && w[1] != L'\\') {
        text = root_relative(w);
    } else {
        text = scratch_utf8(w);
    }
    if (text == nullptr) {
        return nullptr;
    }
    char* normal = path_normalise(text);
    return normal != nullptr && *normal == 0 && names_drive_less_root(text) ? path_root_text()
                                                                            : normal;
}

void path_reset_current_directory(void) {
    free(current_directory);
    current_directory = nullptr;
    current_directory_once.state = 0;
}

void path_use_current_directory(const wchar_t* system_path) {
    platform_once(&current_directory_once, current_directory_fill);
    char* path = path_from_wide(system_path);
    char* copy = path != nullptr ? strdup(path) : nullptr;
    free(current_directory);
    current_directory = copy;
}

// The system-side text of a path: without its leading "/", or the current
// directory, "\" and the path for a relative one. Separators stay "/".
static const char* system_text(const char* s) {
    if (s[0] == '/') {
        return s + 1;
    }
    platform_once(&current_directory_once, current_directory_fill);
    const char* cwd = current_directory ? current_directory : "";
    if (cwd[0] == '/') {
        cwd++;
    }
    size_t cwd_len = strlen(cwd);
    char* text = scratch_alloc(cwd_len + strlen(s) + 2);
    if (text == nullptr) {
        return nullptr;
    }
    memcpy(text, cwd, cwd_len);
    text[cwd_len] = '\\';
    strcpy(text + cwd_len + 1, s);
    return text;
}

// True for system-side text that starts as a network path ("UNC/...") but
// lacks its server or share: \\, \\server and \\server\ are no folder.
static bool network_without_share(const char* text) {
    if (strncmp(text, "UNC", 3) != 0 || (text[3] != '/' && text[3] != 0)) {
        return false;
    }
    const char* server = text[3] == '/' ? text + 4 : text + 3;
    const char* share = *server != '/' ? strchr(server, '/') : nullptr;
    return *server == 0 || share == nullptr || share[1] == 0 || share[1] == '/';
}

wchar_t* path_to_long_wide(const char* s) {
    if (s == nullptr) {
        return nullptr;
    }
    const char* text = system_text(s);
    if (text == nullptr || network_without_share(text)) {
        return nullptr;
    }
    int units = platform_utf8_to_wide(text, nullptr, 0);
    if (units <= 0) {
        return nullptr;
    }
    wchar_t* out = reinterpret_cast<wchar_t*>(scratch_alloc(((size_t)units + 4) * sizeof(wchar_t)));
    if (out == nullptr || platform_utf8_to_wide(text, out + 4, units) == 0) {
        return nullptr;
    }
    out[0] = L'\\', out[1] = L'\\', out[2] = L'?', out[3] = L'\\';
    for (wchar_t* p = out + 4; *p; p++) {
        if (*p == L'/') {
            *p = L'\\';
        }
    }
    return out;
}

char* path_to_display(const char* s) {
    if (s == nullptr) {
        return nullptr;
    }
    const char* text = system_text(s);
    if (text == nullptr) {
        return nullptr;
    }
    const char* shown = text;
    bool network = strncmp(text, "UNC", 3) == 0 && (text[3] == '/' || text[3] == 0);
    if (network) {
        // Keep the "/" before the server; without a server, "\\" alone.
        shown = text[3] != 0 ? text + 3 : "/";
    }
    // A root without drive or server (a POSIX folder, /tmp/x) keeps its
    // leading "", so that the text reads back as the same folder. A drive
    // is the whole first segment: /a:b is the folder "a:b" at the root.
    bool drive = text[0] != 0 && text[1] == ':' && (text[2] == 0 || text[2] == '/');
    bool rooted = !network && text[0] != 0 && !drive;
    // The drive-less root itself shows as "\" (see path_from_wide).
    if (strcmp(s, "/") == 0) {
        rooted = true;
    }
    size_t len = strlen(shown);
    // A drive root shows as "E:\": "E:" alone would read back as relative.
    bool drive_root = len == 2 && shown[1] == ':';
    char* out = scratch_alloc(len + 3);
    if (out == nullptr) {
        return nullptr;
    }
    size_t n = 0;
    if (network || rooted) {
        out[n++] = '\\';
    }
    memcpy(out + n, shown, len + 1);
    if (drive_root) {
        strcpy(out + n + len, "\\");
    }
    for (char* p = out; *p; p++) {
        if (*p == '/') {
            *p = '\\';
        }
    }
    return out;
}

wchar_t* path_to_display_wide(const char* s) {
    char* display = path_to_display(s);
    if (display == nullptr) {
        return nullptr;
    }
    int units = platform_utf8_to_wide(display, nullptr, 0);
    if (units <= 0) {
        return nullptr;
    }
    wchar_t* out = reinterpret_cast<wchar_t*>(scratch_alloc((size_t)units * sizeof(wchar_t)));
    if (out == nullptr || platform_utf8_to_wide(display, out, units) == 0) {
        return nullptr;
    }
    return out;
}

char* path_parent(const char* s) {
    if (s == nullptr) {
        return nullptr;
    }
    const char* last = strrchr(s, '/');
    if (last == nullptr) {
        return nullptr;
    }
    size_t n = (size_t)(last - s);
    char* out = scratch_alloc(n + 1);
    if (out == nullptr) {
        return nullptr;
    }
    memcpy(out, s, n);
    out[n] = 0;
    return out;
}

static bool empty(const char* s) {
    return s == nullptr || *s == 0;
}

const char* path_join(const char* a, const char* b) {
    if (empty(a)) {
        return b;
    }
    if (empty(b)) {
        return a;
    }
    // The root "/" already ends in the separator.
    size_t la = strcmp(a, "/") == 0 ? 0 : strlen(a), lb = strlen(b);
    char* out = scratch_alloc(la + lb + 2);
    if (out == nullptr) {
        return nullptr;
    }
    memcpy(out, a, la);
    out[la] = '/';
    memcpy(out + la + 1, b, lb + 1);
    return out;
}

const char* path_join3(const char* a, const char* b, const char* c) {
    if (empty(a)) {
        return path_join(b, c);
    }
    if (empty(b)) {
        return path_join(a, c);
    }
    if (empty(c)) {
        return path_join(a, b);
    }
    size_t la = strcmp(a, "/") == 0 ? 0 : strlen(a), lb = strlen(b), lc = strlen(c);
    char* out = scratch_alloc(la + lb + lc + 3);
    if (out == nullptr) {
        return nullptr;
    }
    memcpy(out, a, la);
    out[la] = '/';
    memcpy(out + la + 1, b, lb);
    out[la + 1 + lb] = '/';
    memcpy(out + la + lb + 2, c, lc + 1);
    return out;
}

static char* with_suffix(const char* s, const char* suffix) {
    return scratch_concat(s, strlen(s), suffix);
}

char* repair_name(const char* s) {
    return empty(s) ? nullptr : with_suffix(s, ".repair");
}
char* old_name(const char* s) {
    return with_suffix(s, ".old");
}
const char PATH_STAGE_SUFFIX[] = ".stage";

char* stage_name(const char* s) {
    return with_suffix(s, PATH_STAGE_SUFFIX);
}

bool path_exists(const char* s) {
    if (s == nullptr) {
        return false;
    }
    wchar_t* wide = path_to_long_wide(s);
    return wide != nullptr && platform_path_kind(wide) != PLATFORM_PATH_NONE;
}

bool path_delete_if_present(const char* s) {
    if (!path_exists(s)) {
        return true;
    }
    const wchar_t* wide = path_to_long_wide(s);
    return wide != nullptr && platform_delete_file(wide);
}

bool make_directories(const char* s) {
    if (s == nullptr) {
        return false;
    }
    const char* last = strrchr(s, '/');
    if (last != nullptr) {
        char* parent = path_parent(s);
        // The result is not needed: a parent that cannot be made shows up
        // as the failure of the folder itself.
        if (parent != nullptr && !path_exists(parent)) {
            make_directories(parent);
        }
    }
    wchar_t* wide = path_to_long_wide(s);
    if (wide == nullptr) {
        return false;
    }
    return platform_create_directory(wide) != PLATFORM_CREATE_FAILED;
}
