// Windows command-line rules, so the chat program sees on POSIX exactly the
// arguments a Windows program would get from the same command line.
#include <stdlib.h>
#include <wchar.h>

#include "platform/platform.h"

static bool is_blank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// Splits line into *argc heap strings (one block: the vector, then the
// texts). The first argument ends at a blank, or in quotes at the next quote
// with no escapes; later ones follow the C runtime's rules: 2n backslashes
// and a quote give n backslashes and toggle quoting, 2n+1 give n and a
// literal quote, and "" inside quotes is a literal quote. Null when out of
// memory; the caller frees the result.
wchar_t** platform_split_command_line(const wchar_t* line, int* argc) {
    size_t len = wcslen(line);
    // At most one argument per two characters plus one, each with its NUL.
    size_t max_args = len / 2 + 2;
    size_t bytes = max_args * sizeof(wchar_t*) + (len + max_args) * sizeof(wchar_t);
    wchar_t** argv = static_cast<wchar_t**>(malloc(bytes));
    if (argv == nullptr) {
        return nullptr;
    }
    wchar_t* out = reinterpret_cast<wchar_t*>(argv + max_args);
    const wchar_t* p = line;
    int n = 0;

    // Program name.
    argv[n++] = out;
    if (*p == L'"') {
        for (p++; *p && *p != L'"'; p++) {
            *out++ = *p;
        }
        if (*p == L'"') {
            p++;
        }
    } else {
        while (*p && !is_blank(*p)) {
            *out++ = *p++;
        }
    }
    *out++ = 0;

    for (;;) {
        while (is_blank(*p)) {
            p++;
        }
        if (*p == 0) {
            break;
        }
        argv[n++] = out;
        bool quoted = false;
        while (*p && (quoted || !is_blank(*p))) {
            if (*p == L'\\') {
                size_t slashes = 0;
                while (*p == L'\\') {
                    slashes++, p++;
                }
                if (*p == L'"') {
                    for (size_t i = 0; i < slashes / 2; i++) {
                        *out++ = L'\\';
                    }
                    if (slashes % 2) {
                        *out++ = L'"';
                        p++;
                    }
                } else {
                    for (size_t i = 0; i < slashes; i++) {
                        *out++ = L'\\';
                    }
                }
            } else if (*p == L'"') {
                if (quoted && p[1] == L'"') {
                    *out++ = L'"';
                    p += 2;
                } else {
                    quoted = !quoted;
                    p++;
                }
            } else {
                *out++ = *p++;
            }
        }
        *out++ = 0;
    }
    argv[n] = nullptr;
    *argc = n;
    return argv;
}

// Appends one argument to out quoted so that the rules above give it back.
// Returns the characters written; out may be null to measure.
size_t platform_quote_argument(const wchar_t* arg, wchar_t* out) {
    size_t n = 0;
    bool plain = *arg != 0;
    for (const wchar_t* p = arg; *p; p++) {
        if (is_blank(*p) || *p == L'"') {
            plain = false;
        }
    }
    if (plain) {
        for (const wchar_t* p = arg; *p; p++) {
            if (out) {
                out[n] = *p;
            }
            n++;
        }
        return n;
    }
    if (out) {
        out[n] = L'"';
    }
    n++;
    for (const wchar_t* p = arg;; p++) {
        size_t slashes = 0;
        while (*p == L'\\') {
            slashes++, p++;
        }
        size_t copies = (*p == L'"' || *p == 0) ? slashes * 2 : slashes;
        for (size_t i = 0; i < copies; i++) {
            if (out) {
                out[n] = L'\\';
            }
            n++;
        }
        if (*p == 0) {
            break;
        }
        if (*p == L'"') {
            if (out) {
                out[n] = L'\\';
            }
            n++;
        }
        if (out) {
            out[n] = *p;
        }
        n++;
    }
    if (out) {
        out[n] = L'"';
    }
    n++;
    return n;
}
