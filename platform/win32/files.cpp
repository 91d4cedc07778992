// Files and folders, straight onto the wide Windows calls.
#include <shlobj.h>
#include <windows.h>

#include <stdlib.h>

#include "platform/platform.h"

PlatformPathKind platform_path_kind(const wchar_t* long_path) {
    DWORD attributes = GetFileAttributesW(long_path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return PLATFORM_PATH_NONE;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PLATFORM_PATH_DIRECTORY : PLATFORM_PATH_FILE;
}

PlatformCreateResult platform_create_directory(const wchar_t* long_path) {
    if (CreateDirectoryW(long_path, nullptr)) {
        return PLATFORM_CREATED;
    }
    return GetLastError() == ERROR_ALREADY_EXISTS ? PLATFORM_ALREADY_EXISTS
                                                  : PLATFORM_CREATE_FAILED;
}

bool platform_delete_file(const wchar_t* long_path) {
    return DeleteFileW(long_path) != 0;
}

bool platform_move(const wchar_t* from_long, const wchar_t* to_long) {
    return MoveFileW(from_long, to_long) != 0;
}

bool platform_remove_directory(const wchar_t* long_path) {
    return RemoveDirectoryW(long_path) != 0;
}

PlatformFile* platform_file_create(const wchar_t* long_path) {
    // Deleting stays allowed while the file is open, as on POSIX: a window
    // closed mid-download deletes the staging file under the writer, and
    // the system removes it once the last handle goes with the process.
    HANDLE file = CreateFileW(long_path, GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    return reinterpret_cast<PlatformFile*>(file);
}

PlatformFile* platform_file_create_new(const wchar_t* long_path, bool owner_only) {
    HANDLE file = CreateFileW(long_path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    return reinterpret_cast<PlatformFile*>(file);
}

bool platform_file_write(PlatformFile* file, const void* data, uint32_t n) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        DWORD written = 0;
        if (!WriteFile(reinterpret_cast<HANDLE>(file), p, n, &written, nullptr) || written == 0) {
            return false;
        }
        p += written;
        n -= written;
    }
    return true;
}

void platform_file_close(PlatformFile* file) {
    if (file != nullptr) {
        CloseHandle(reinterpret_cast<HANDLE>(file));
    }
}

bool platform_file_make_executable(const wchar_t* long_path) {
    return GetFileAttributesW(long_path) != INVALID_FILE_ATTRIBUTES;
}

bool platform_file_persist(PlatformFile* file) {
    return file != nullptr && FlushFileBuffers(reinterpret_cast<HANDLE>(file)) != 0;
}

bool platform_folder_persist(const wchar_t* long_path) {
    DWORD attributes = GetFileAttributesW(long_path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

uint32_t platform_current_directory(wchar_t* out, uint32_t capacity) {
    return GetCurrentDirectoryW(capacity, out);
}

bool platform_known_folder(PlatformFolder folder, wchar_t out[PLATFORM_MAX_PATH]) {
    return SHGetFolderPathW(nullptr, (int)folder, nullptr, SHGFP_TYPE_CURRENT, out) == S_OK;
}
