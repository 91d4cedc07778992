// UTF-8 and UTF-16 through the system's conversions.
#include <windows.h>

#include <stdio.h>

#include "platform/platform.h"

int platform_utf8_to_wide(const char* text, wchar_t* out, int capacity) {
    return MultiByteToWideChar(CP_UTF8, 0, text, -1, out, capacity);
}

int platform_wide_to_utf8(const wchar_t* text, char* out, int capacity) {
    return WideCharToMultiByte(CP_UTF8, 0, text, -1, out, capacity, nullptr, nullptr);
}

bool platform_format_wide(wchar_t* out, size_t capacity, const wchar_t* format, va_list args) {
    if (capacity == 0) {
        return false;
    }
    // The runtime's truncating formatter leaves a cut text unterminated.
    int n = _vsnwprintf(out, capacity - 1, format, args);
    out[capacity - 1] = 0;
    if (n < 0) {
        return false;
    }
    out[n] = 0;
    return true;
}
