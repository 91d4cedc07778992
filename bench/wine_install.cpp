// bench/wine_install: time from pressing Install in the tool's test build to
// the program file being in place (Bin\CorvaneChat.exe, moved there from its
// staging file after the download and the signature checks), run after run,
// each into a fresh folder. The release is signed with the test key and
// served over HTTPS by the loopback nginx of tests/wine/with_nginx.py; its
// program file is the chat stub padded to 64 MiB, so the chat program the
// tool starts afterwards ends at once. The file is polled for every 50 ms.
// Not a test: bench/run-wine-install.sh runs it under Wine.
//
//   wine_install.exe [runs]      (default 5)
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <vector>

#include "tests/support/release.h"
#include "tests/wine/wine_fixture.h"

constexpr size_t BENCH_PROGRAM_BYTES = 64u << 20;
constexpr DWORD BENCH_INSTALL_TIMEOUT_MS = 300000;

// One Install: the seconds from the click to the program file in place, or
// a negative number when the tool failed to install or to end with code 0.
static double bench_one_install(const std::wstring& tool_path) {
    WinTempDir temp;
    std::wstring folder = temp.file(L"Corvane Chat");
    std::wstring program = folder + L"\\Bin\\CorvaneChat.exe";
    WinTool tool;
    std::string error;
    if (!tool.start(tool_path, L"-cvdir \"" + folder + L"\"", temp.path(), &error) ||
        tool.find_main_window(WINDOW_TIMEOUT_MS) == nullptr) {
        fprintf(stderr, "wine_install: %s\n",
                error.empty() ? "the tool's window did not appear" : error.c_str());
        return -1;
    }
    LARGE_INTEGER frequency, started, placed;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&started);
    press(tool, ID_INSTALL);
    bool installed = wait_until([&] { return win_exists(program); }, BENCH_INSTALL_TIMEOUT_MS);
    QueryPerformanceCounter(&placed);
    std::string state = button_state(tool);
    if (!installed || tool.wait_exit(EXIT_TIMEOUT_MS) != 0) {
        fprintf(stderr, "wine_install: %s; %s\n",
                installed ? "the tool did not end with code 0" : "no program file", state.c_str());
        return -1;
    }
    // The chat program it started may still hold the file the folder's
    // removal needs gone.
    wait_until([&] { return DeleteFileW(program.c_str()) != 0; }, EXIT_TIMEOUT_MS);
    return static_cast<double>(placed.QuadPart - started.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

int main(int argc, char** argv) {
    const char* www = getenv("CORVANE_WINE_WWW");
    const char* port = getenv("CORVANE_WINE_HTTPS_PORT");
    int runs = argc > 1 ? atoi(argv[1]) : 5;
    if (www == nullptr || port == nullptr || runs < 1) {
        fprintf(stderr, "usage: wine_install [runs]   (run through tests/wine/with_nginx.py)\n");
        return 2;
    }
    std::string host = std::string("127.0.0.1:") + port;
    std::string program;
    if (!win_read_file(wine_path(CORVANE_WINE_CHAT_STUB), &program)) {
        fprintf(stderr, "wine_install: cannot read %s\n", CORVANE_WINE_CHAT_STUB);
        return 1;
    }
    program += test_program_bytes(BENCH_PROGRAM_BYTES - program.size(), 1);
    TestRelease release = make_test_release(program, "https://" + host + "/CorvaneChat.exe");
    std::wstring root = wine_path(www);
    if (!win_write_file(root + L"\\CorvaneChat.exe", program) ||
        !win_write_file(root + L"\\update\\release\\v1\\corvanechat.xml",
                        test_release_xml(release))) {
        fprintf(stderr, "wine_install: cannot publish the release in %s\n", www);
        return 1;
    }
    // The tool inherits these; its test build reads them.
    SetEnvironmentVariableW(L"CORVANE_TEST_UPDATE_HOST", widen(host).c_str());
    SetEnvironmentVariableW(L"CORVANE_TEST_SIGNING_KEY", wine_path(CORVANE_WINE_TEST_KEY).c_str());

    std::vector<double> times;
    for (int run = 1; run <= runs; run++) {
        double seconds = bench_one_install(wine_path(CORVANE_WINE_TEST_TOOL));
        if (seconds < 0) {
            return 1;
        }
        printf("run %2d: %7.3f s\n", run, seconds);
        fflush(stdout);
        times.push_back(seconds);
    }
    std::sort(times.begin(), times.end());
    size_t middle = times.size() / 2;
    double median = times.size() % 2 ? times[middle] : (times[middle - 1] + times[middle]) / 2.0;
    printf(
        "click to program file in place, %zu MiB over HTTPS: median %.3f s over %d runs "
        "(min %.3f, max %.3f)\n",
        BENCH_PROGRAM_BYTES >> 20, median, runs, times.front(), times.back());
    return 0;
}
