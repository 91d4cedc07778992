// A stand-in chat program for the Wine tests: a windowless Windows program
// that writes the command line it was given, exactly as the system passed
// it, and its current folder (UTF-8, one per line) to the file named by
// CORVANE_CHAT_RECORD, then ends.
#include <windows.h>

#include <stdio.h>

#include <string>

static std::string utf8(const wchar_t* wide) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) {
        return std::string();
    }
    std::string out((size_t)bytes - 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, &out[0], bytes, nullptr, nullptr);
    return out;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR ansi_line, int show) {
    wchar_t record[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"CORVANE_CHAT_RECORD", record, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        return 0;
    }
    wchar_t folder[MAX_PATH];
    DWORD folder_length = GetCurrentDirectoryW(MAX_PATH, folder);
    if (folder_length == 0 || folder_length >= MAX_PATH) {
        folder[0] = 0;
    }
    std::string text = utf8(GetCommandLineW()) + "\n" + utf8(folder) + "\n";
    // Written under another name and renamed, so a reader never sees half.
    std::wstring partial = std::wstring(record) + L".part";
    FILE* out = _wfopen(partial.c_str(), L"wb");
    if (out == nullptr) {
        return 1;
    }
    bool ok = fwrite(text.data(), 1, text.size(), out) == text.size();
    if (fclose(out) != 0 || !ok) {
        return 1;
    }
    return MoveFileW(partial.c_str(), record) ? 0 : 1;
}
