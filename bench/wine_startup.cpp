// bench/wine_startup: time from starting CorvaneChatBootstrap.exe to its main
// window being visible, run after run, each with a fresh install folder.
// Not a test: bench/run-wine-startup.sh runs it under Wine.
//
//   wine_startup.exe PATH\CorvaneChatBootstrap.exe [runs]
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <algorithm>
#include <vector>

// Long enough for a cold Wine start; a window that never shows fails the run.
constexpr DWORD BENCH_WINDOW_TIMEOUT_MS = 30000;
constexpr DWORD BENCH_EXIT_TIMEOUT_MS = 10000;

struct BenchWindowSearch {
    DWORD process_id;
    HWND found;
};

static BOOL CALLBACK bench_match_window(HWND window, LPARAM param) {
    BenchWindowSearch* search = reinterpret_cast<BenchWindowSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->process_id || !IsWindowVisible(window)) {
        return TRUE;
    }
    wchar_t name[64];
    if (GetClassNameW(window, name, 64) == 0 || wcscmp(name, L"CorvaneChatBootstrap") != 0) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

// Removes a folder and everything below it; the tool may have written into it.
static void bench_remove_tree(const wchar_t* folder) {
    wchar_t pattern[MAX_PATH];
    swprintf(pattern, MAX_PATH, L"%ls\\*", folder);
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(pattern, &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0) {
                continue;
            }
            wchar_t child[MAX_PATH];
            swprintf(child, MAX_PATH, L"%ls\\%ls", folder, entry.cFileName);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                bench_remove_tree(child);
            } else {
                DeleteFileW(child);
            }
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryW(folder);
}

// One start: returns the milliseconds to a visible window, or a negative
// number when the program failed to start, show its window or close.
static double bench_one_start(const wchar_t* exe, int run) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    wchar_t folder[MAX_PATH];
    swprintf(folder, MAX_PATH, L"%lscorvane-startup-%lu-%d", temp, GetCurrentProcessId(), run);
    bench_remove_tree(folder);
    CreateDirectoryW(folder, nullptr);

    wchar_t command[3 * MAX_PATH];
    swprintf(command, 3 * MAX_PATH, L"\"%ls\" -cvdir \"%ls\"", exe, folder);
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    LARGE_INTEGER frequency, started, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&started);
    if (!CreateProcessW(exe, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        fwprintf(stderr, L"wine_startup: cannot start %ls (error %lu)\n", exe, GetLastError());
        bench_remove_tree(folder);
        return -1;
    }

    BenchWindowSearch search = {process.dwProcessId, nullptr};
    double elapsed_ms = 0;
    for (;;) {
        EnumWindows(bench_match_window, reinterpret_cast<LPARAM>(&search));
        QueryPerformanceCounter(&now);
        elapsed_ms = 1000.0 * static_cast<double>(now.QuadPart - started.QuadPart) /
                     static_cast<double>(frequency.QuadPart);
        if (search.found || elapsed_ms > BENCH_WINDOW_TIMEOUT_MS) {
            break;
        }
        if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0) {
            break;  // it ended without ever showing its window
        }
    }

    bool closed = false;
    if (search.found) {
        PostMessageW(search.found, WM_CLOSE, 0, 0);
        closed = WaitForSingleObject(process.hProcess, BENCH_EXIT_TIMEOUT_MS) == WAIT_OBJECT_0;
    }
    if (!closed) {
        fwprintf(
            stderr, L"wine_startup: run %d: %ls\n", run,
            search.found ? L"the window did not close on WM_CLOSE" : L"no visible window appeared");
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, BENCH_EXIT_TIMEOUT_MS);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    bench_remove_tree(folder);
    return closed ? elapsed_ms : -1;
}

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fwprintf(stderr, L"usage: wine_startup PATH\\CorvaneChatBootstrap.exe [runs]\n");
        return 2;
    }
    wchar_t exe[MAX_PATH];
    if (GetFullPathNameW(argv[1], MAX_PATH, exe, nullptr) == 0) {
        return 2;
    }
    int runs = argc > 2 ? _wtoi(argv[2]) : 10;
    if (runs < 1) {
        runs = 1;
    }

    std::vector<double> times;
    for (int run = 1; run <= runs; run++) {
        double ms = bench_one_start(exe, run);
        if (ms < 0) {
            return 1;
        }
        wprintf(L"run %2d: %8.1f ms\n", run, ms);
        fflush(stdout);
        times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    size_t middle = times.size() / 2;
    double median = times.size() % 2 ? times[middle] : (times[middle - 1] + times[middle]) / 2.0;
    wprintf(L"start to visible window: median %.1f ms over %d runs (min %.1f, max %.1f)\n", median,
            runs, times.front(), times.back());
    return 0;
}
