// libFuzzer harness: the Windows command-line rules of the POSIX launch.
//
// The input is a list of arguments separated by NUL bytes, one wide
// character per byte (high bytes stand for characters outside ASCII).
// Quoting each and splitting the joined line must give every argument back;
// splitting the input itself as a raw line must hold its own bounds, and
// quoting what that gave must split to the same arguments again.
#include <stdlib.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

const wchar_t kWide[] = {0xE9, 0x4E2D, 0x1D11E, L'"', L'\\', L' ', L'\t'};

std::wstring quoted(const std::wstring& argument) {
    size_t length = platform_quote_argument(argument.c_str(), nullptr);
    std::wstring out(length, L'?');
    if (platform_quote_argument(argument.c_str(), &out[0]) != length) {
        abort();
    }
    return out;
}

// Splits "prog " + the quoted arguments and compares what comes back.
void check_round_trip(const std::vector<std::wstring>& arguments) {
    std::wstring line = L"prog";
    for (const std::wstring& argument : arguments) {
        line += L" " + quoted(argument);
    }
    int argc = 0;
    wchar_t** argv = platform_split_command_line(line.c_str(), &argc);
    if (argv == nullptr) {
        abort();
    }
    if (argc != static_cast<int>(arguments.size()) + 1 || wcscmp(argv[0], L"prog") != 0 ||
        argv[argc] != nullptr) {
        abort();
    }
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] != argv[i + 1]) {
            abort();
        }
    }
    free(argv);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) {
        return 0;
    }
    std::vector<std::wstring> arguments(1);
    std::wstring raw;
    for (size_t i = 0; i < size; ++i) {
        unsigned char c = data[i];
        wchar_t w =
            c < 0x80 ? static_cast<wchar_t>(c) : kWide[c % (sizeof kWide / sizeof kWide[0])];
        if (c == 0) {
            arguments.emplace_back();
        } else {
            arguments.back() += w;
            raw += w;
        }
    }
    check_round_trip(arguments);

    int argc = 0;
    wchar_t** argv = platform_split_command_line(raw.c_str(), &argc);
    if (argv == nullptr) {
        abort();
    }
    if (argc < 1 || static_cast<size_t>(argc) > raw.size() / 2 + 1 || argv[argc] != nullptr) {
        abort();
    }
    std::vector<std::wstring> again;
    for (int i = 1; i < argc; ++i) {
        again.emplace_back(argv[i]);
    }
    free(argv);
    check_round_trip(again);
    return 0;
}
