// What a name leads to, and replacing a file in one step.
#include <windows.h>

#include "platform/platform.h"

bool platform_file_facts(const wchar_t* long_path, PlatformFileFacts* out) {
    *out = {};
    // No access asked for: only the file's record is read, so a file that
    // others hold open answers too. Backup semantics open a folder as well.
    HANDLE file = CreateFileW(long_path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    bool result = GetFileInformationByHandle(file, &info) != 0;
    if (result) {
        out->regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                       GetFileType(file) == FILE_TYPE_DISK;
        out->volume = info.dwVolumeSerialNumber;
        out->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    }
    CloseHandle(file);
    return result;
}

bool platform_replace_file(const wchar_t* from_long, const wchar_t* to_long) {
    // Without MOVEFILE_COPY_ALLOWED this stays a rename within the folder,
    // one step; it fails on a folder as the target.
    return MoveFileExW(from_long, to_long, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}
