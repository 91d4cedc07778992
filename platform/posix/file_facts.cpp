// What a name leads to, and replacing a file in one step.
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include "platform/posix/posix_internal.h"

bool platform_file_facts(const wchar_t* long_path, PlatformFileFacts* out) {
    char* path = posix_path_from_long(long_path);
    struct stat st;
    bool result = path != nullptr && stat(path, &st) == 0;
    *out = {};
    if (result) {
        out->regular = S_ISREG(st.st_mode);
        out->volume = static_cast<uint64_t>(st.st_dev);
        out->index = static_cast<uint64_t>(st.st_ino);
    }
    free(path);
    return result;
}

bool platform_replace_file(const wchar_t* from_long, const wchar_t* to_long) {
    char* from = posix_path_from_long(from_long);
    char* to = posix_path_from_long(to_long);
    // rename refuses a folder as the target (EISDIR), as Windows does.
    bool result = from != nullptr && to != nullptr && rename(from, to) == 0;
    free(from);
    free(to);
    return result;
}
