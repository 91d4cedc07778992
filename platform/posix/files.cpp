// Files and folders. The tool hands over "\\?\" long paths; here they name
// the POSIX path "/" + the rest with "\" turned into "/", so the same
// internal paths work on both systems.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE 1
#endif
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/posix_internal.h"

char* posix_path_from_long(const wchar_t* long_path) {
    if (long_path == nullptr) {
        return nullptr;
    }
    const wchar_t* rest = long_path;
    if (wcsncmp(rest, L"\\\\?\\", 4) == 0) {
        rest += 4;
    }
    int size = platform_wide_to_utf8(rest, nullptr, 0);
    char* path = static_cast<char*>(malloc((size_t)size + 1));
    if (path == nullptr) {
        return nullptr;
    }
    path[0] = '/';
    platform_wide_to_utf8(rest, path + 1, size);
    for (char* p = path; *p; p++) {
        if (*p == '\\') {
            *p = '/';
        }
    }
    return path;
}

PlatformPathKind platform_path_kind(const wchar_t* long_path) {
    char* path = posix_path_from_long(long_path);
    if (path == nullptr) {
        return PLATFORM_PATH_NONE;
    }
    struct stat st;
    PlatformPathKind kind = PLATFORM_PATH_NONE;
    if (stat(path, &st) == 0) {
        kind = S_ISDIR(st.st_mode) ? PLATFORM_PATH_DIRECTORY : PLATFORM_PATH_FILE;
    }
    free(path);
    return kind;
}

PlatformCreateResult platform_create_directory(const wchar_t* long_path) {
    char* path = posix_path_from_long(long_path);
    if (path == nullptr) {
        return PLATFORM_CREATE_FAILED;
    }
    PlatformCreateResult result = PLATFORM_CREATED;
    if (mkdir(path, 0777) != 0) {
        result = errno == EEXIST ? PLATFORM_ALREADY_EXISTS : PLATFORM_CREATE_FAILED;
    }
    free(path);
    return result;
}

bool platform_delete_file(const wchar_t* long_path) {
    char* path = posix_path_from_long(long_path);
    if (path == nullptr) {
        return false;
    }
    struct stat st;
    // Deleting a file never removes a folder, as on Windows.
    bool ok = lstat(path, &st) == 0 && !S_ISDIR(st.st_mode) && unlink(path) == 0;
    free(path);
    return ok;
}

bool platform_move(const wchar_t* from_long, const wchar_t* to_long) {
    char* from = posix_path_from_long(from_long);
    char* to = posix_path_from_long(to_long);
    bool ok = false;
    if (from != nullptr && to != nullptr) {
        // The target must not be replaced; the kernel checks atomically.
        ok = renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0;
        if (!ok && errno == EINVAL) {
            // File systems without the flag: link keeps "never replace".
            struct stat st;
            ok = lstat(from, &st) == 0 && !S_ISDIR(st.st_mode) && link(from, to) == 0 &&
                 unlink(from) == 0;
        }
    }
    free(from);
    free(to);
    return ok;
}

bool platform_remove_directory(const wchar_t* long_path) {
    char* path = posix_path_from_long(long_path);
    if (path == nullptr) {
        return false;
    }
    bool ok = rmdir(path) == 0;
    free(path);
    return ok;
}

struct PlatformFile {
    int fd;
};

// Opens the file for writing with the given open flags and creation mode;
// null when it cannot be opened or memory runs out.
static PlatformFile* open_for_writing(const wchar_t* long_path, int flags, mode_t mode) {
    char* path = posix_path_from_long(long_path);
    if (path == nullptr) {
        return nullptr;
    }
    int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC | flags, mode);
    free(path);
    if (fd < 0) {
        return nullptr;
    }
    PlatformFile* file = static_cast<PlatformFile*>(malloc(sizeof(PlatformFile)));
    if (file == nullptr) {
        close(fd);
        return nullptr;
    }
    file->fd = fd;
    return file;
}

PlatformFile* platform_file_create(const wchar_t* long_path) {
    return open_for_writing(long_path, O_TRUNC, 0666);
}

PlatformFile* platform_file_create_new(const wchar_t* long_path, bool owner_only) {
    // O_EXCL: the look for an existing file and the creation are one step.
    return open_for_writing(long_path, O_EXCL, owner_only ? 0600 : 0666);
}

bool platform_file_write(PlatformFile* file, const void* data, uint32_t n) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        ssize_t written = write(file->fd, p, n);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        p += written;
        n -= (uint32_t)written;
    }
    return true;
}

// File systems that keep nothing to flush answer EINVAL; that is success.
static bool posix_synced(int fd) {
    while (fsync(fd) != 0) {
        if (errno == EINVAL) {
            return true;
        }
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool platform_file_persist(PlatformFile* file) {
    return file != nullptr && posix_synced(file->fd);
}

bool platform_folder_persist(const wchar_t* long_path) {
    char* path = posix_path_from_long(long_path);
    if (path == nullptr) {
        return false;
    }
    int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    free(path);
    if (fd < 0) {
        return false;
    }
    bool ok = posix_synced(fd);
    close(fd);
    return ok;
}

void platform_file_close(PlatformFile* file) {
    if (file == nullptr) {
        return;
    }
    close(file->fd);
    free(file);
}

bool platform_file_make_executable(const wchar_t* long_path) {
    char* path = posix_path_from_long(long_path);
    if (path == nullptr) {
        return false;
    }
    mode_t mask = umask(0);
    umask(mask);
    bool ok = chmod(path, 0777 & ~mask) == 0;
    free(path);
    return ok;
}

uint32_t platform_current_directory(wchar_t* out, uint32_t capacity) {
    char* cwd = getcwd(nullptr, 0);
    if (cwd == nullptr) {
        return 0;
    }
    int needed = platform_utf8_to_wide(cwd, nullptr, 0);
    uint32_t result;
    if (needed <= 0) {
        result = 0;
    } else if ((uint32_t)needed > capacity) {
        result = (uint32_t)needed;
    } else {
        platform_utf8_to_wide(cwd, out, (int)capacity);
        result = (uint32_t)needed - 1;
    }
    free(cwd);
    return result;
}

bool platform_known_folder(PlatformFolder folder, wchar_t out[PLATFORM_MAX_PATH]) {
    const char* home = getenv("HOME");
    if (home == nullptr || home[0] != '/') {
        return false;
    }
    char path[PLATFORM_MAX_PATH * 4];
    int n;
    const char* data = getenv("XDG_DATA_HOME");
    bool has_data = data != nullptr && data[0] == '/';
    switch (folder) {
        case PLATFORM_FOLDER_APPDATA:
            n = has_data ? snprintf(path, sizeof path, "%s", data)
                         : snprintf(path, sizeof path, "%s/.local/share", home);
            break;
        case PLATFORM_FOLDER_PROGRAMS:
            n = has_data ? snprintf(path, sizeof path, "%s/applications", data)
                         : snprintf(path, sizeof path, "%s/.local/share/applications", home);
            break;
        case PLATFORM_FOLDER_DESKTOP:
            n = snprintf(path, sizeof path, "%s/Desktop", home);
            break;
        default:
            return false;
    }
    if (n < 0 || (size_t)n >= sizeof path) {
        return false;
    }
    return platform_utf8_to_wide(path, out, PLATFORM_MAX_PATH) > 0;
}
