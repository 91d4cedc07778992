// libFuzzer harness: path conversion and normalisation.
//
// Byte 0 picks the current directory (a folder without drive, a drive
// folder or a folder on a share) and whether the rest is an internal path (UTF-8) or
// a system path (one wide character per byte, high bytes standing for
// characters outside ASCII). Checked: the normalised form's rules, that
// normalising twice changes nothing, the long form's shape, and that the
// text shown to the user reads back as the same folder.
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <string>

#include "core/path.h"
#include "platform/platform.h"

namespace {

const wchar_t* const kDirectories[] = {L"/home/ann/dir", L"C:\\Users\\Ann",
                                       L"\\\\server\\share\\dir"};
const wchar_t kWide[] = {0xE9, 0x4E2D, 0x1D11E, 0xFFFD, L'\\', L'/', L':', L'?', L'.', L'U'};

bool is_drive_path(const std::string& p) {
    return p.size() >= 3 && p[0] == '/' && p[2] == ':' && (p.size() == 3 || p[3] == '/');
}

bool is_unc_path(const std::string& p) {
    return p.compare(0, 5, "/UNC/") == 0;
}

// "\\?\" is the long-path prefix: no server has the name "?".
bool names_no_server(const std::string& p) {
    return p.compare(0, 7, "/UNC/?/") == 0 || p == "/UNC/?";
}

bool is_utf8(const std::string& text) {
    int units = platform_utf8_to_wide(text.c_str(), nullptr, 0);
    std::wstring wide(units > 0 ? static_cast<size_t>(units) : 1, L'\0');
    if (units <= 0 || platform_utf8_to_wide(text.c_str(), &wide[0], units) == 0) {
        return false;
    }
    std::string back(text.size() * 2 + 8, '\0');
    int bytes = platform_wide_to_utf8(wide.c_str(), &back[0], static_cast<int>(back.size()));
    return bytes > 0 && back.compare(0, static_cast<size_t>(bytes - 1), text) == 0 &&
           static_cast<size_t>(bytes - 1) == text.size();
}

void check_normal_form(const char* path) {
    std::string p = path;
    if (p.empty() || p == "/") {
        return;
    }
    if (p.find('\\') != std::string::npos || p.find("//") != std::string::npos || p.back() == '/') {
        abort();
    }
    std::string framed = "/" + p + "/";
    if (framed.find("/./") != std::string::npos || framed.find("/../") != std::string::npos) {
        abort();
    }
    if (p != path_normalise(path)) {
        abort();
    }
}

void check_path(const char* path, const char* cwd) {
    check_normal_form(path);
    std::string p = path;
    wchar_t* long_form = path_to_long_wide(path);
    if (long_form != nullptr &&
        (wcsncmp(long_form, L"\\\\?\\", 4) != 0 || wcschr(long_form, L'/') != nullptr)) {
        abort();
    }

    // The folder box shows the display text and reads it back.
    wchar_t* shown = path_to_display_wide(path);
    if (shown == nullptr || p.empty() || names_no_server(p)) {
        return;
    }
    char* back = path_from_wide(shown);
    if (back == nullptr) {
        abort();
    }
    std::string expected;
    if (p[0] != '/') {
        expected = path_normalise(path_join(cwd, path));
    } else if (is_drive_path(p) || is_unc_path(p)) {
        expected = p;
    } else if (cwd[0] == '/' && cwd[2] != ':' && strncmp(cwd, "/UNC/", 5) != 0) {
        // Without drives a rooted path is itself.
        expected = p;
    } else {
        return;
    }
    if (expected.empty()) {
        expected = "/";
    }
    std::string got = back;
    if (got.empty()) {
        got = "/";
    }
    if (got != expected) {
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 4096) {
        return 0;
    }
    const wchar_t* directory = kDirectories[(data[0] >> 1) % 3];
    path_reset_current_directory();
    path_use_current_directory(directory);
    std::string cwd = path_from_wide(directory);

    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    text = text.substr(0, text.find('\0'));
    if (data[0] & 0x01) {
        // Internal paths are UTF-8; the system side would replace bad bytes.
        if (!is_utf8(text)) {
            return 0;
        }
        char* normal = path_normalise(text.c_str());
        if (normal == nullptr) {
            abort();
        }
        check_path(normal, cwd.c_str());
    } else {
        std::wstring wide;
        for (unsigned char c : text) {
            wide +=
                c < 0x80 ? static_cast<wchar_t>(c) : kWide[c % (sizeof kWide / sizeof kWide[0])];
        }
        char* path = path_from_wide(wide.c_str());
        if (path != nullptr) {
            if (strcmp(path, "/") != 0 && strcmp(path, path_normalise(path)) != 0) {
                abort();
            }
            check_path(path, cwd.c_str());
        }
    }
    return 0;
}
