// The POSIX main: the wide argument vector and a command tail quoted by the
// Windows rules, so the tool passes its arguments on as on Windows.
#include <locale.h>
#include <stdlib.h>

#include "platform/platform.h"

// Frees the first count entries of the vector and the vector itself.
static void free_arguments(wchar_t** wargv, int count) {
    for (int i = 0; i < count; i++) {
        free(wargv[i]);
    }
    free(wargv);
}

int main(int argc, char** argv) {
    setlocale(LC_CTYPE, "C.UTF-8");  // wide text in printf as UTF-8
    wchar_t** wargv = static_cast<wchar_t**>(calloc((size_t)argc + 1, sizeof(wchar_t*)));
    if (wargv == nullptr) {
        return 0;
    }
    size_t tail_units = 1;
    for (int i = 0; i < argc; i++) {
        int n = platform_utf8_to_wide(argv[i], nullptr, 0);
        wargv[i] = static_cast<wchar_t*>(malloc((size_t)n * sizeof(wchar_t)));
        if (wargv[i] == nullptr) {
            free_arguments(wargv, i);
            return 0;
        }
        platform_utf8_to_wide(argv[i], wargv[i], n);
        if (i > 0) {
            tail_units += platform_quote_argument(wargv[i], nullptr) + 1;
        }
    }
    wchar_t* tail = static_cast<wchar_t*>(malloc(tail_units * sizeof(wchar_t)));
    if (tail == nullptr) {
        free_arguments(wargv, argc);
        return 0;
    }
    size_t at = 0;
    for (int i = 1; i < argc; i++) {
        if (i > 1) {
            tail[at++] = L' ';
        }
        at += platform_quote_argument(wargv[i], tail + at);
    }
    tail[at] = 0;
    // Both live while the tool runs, as the system's own do; once the main
    // loop has ended nothing reads them, and a leak check at exit must see
    // them gone.
    int code = bootstrap_main(nullptr, tail, argc, wargv);
    free(tail);
    free_arguments(wargv, argc);
    return code;
}
