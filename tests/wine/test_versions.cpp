// The tool's version resource says what it is; the libraries it ships are
// checked against the lock in tests/support/deps_versions.cpp.
#include <stdio.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

#include <string>
#include <vector>

#include "tests/wine/wine_tool.h"

#include <gtest/gtest.h>

#if !defined(CORVANE_WINE_TOOL) || !defined(CORVANE_PROJECT_VERSION)
#error "tests/wine/CMakeLists.txt passes the tool's path and version"
#endif

namespace {

std::wstring widen(const char* text) {
    return std::wstring(text, text + strlen(text));
}

TEST(VersionResource, ToolSaysWhatItIs) {
    std::wstring path = wine_path(CORVANE_WINE_TOOL);
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u) << "no version resource in " << CORVANE_WINE_TOOL;
    std::vector<unsigned char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    wchar_t numbers[64];
    swprintf(numbers, 64, L"%u.%u.%u", HIWORD(fixed->dwFileVersionMS),
             LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS));
    EXPECT_EQ(std::wstring(numbers), widen(CORVANE_PROJECT_VERSION));
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);

    struct Expected {
        const wchar_t* name;
        std::wstring value;
    };
    const Expected strings[] = {
        {L"FileDescription", L"Corvane Chat Bootstrap"},
        {L"OriginalFilename", L"CorvaneChatBootstrap.exe"},
        {L"ProductName", L"Corvane Chat"},
        {L"FileVersion", widen(CORVANE_PROJECT_VERSION)},
        {L"ProductVersion", widen(CORVANE_PROJECT_VERSION)},
    };
    for (const Expected& row : strings) {
        std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + row.name;
        wchar_t* value = nullptr;
        UINT chars = 0;
        ASSERT_TRUE(
            VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &chars))
            << "no " << std::string(row.name, row.name + wcslen(row.name));
        EXPECT_EQ(std::wstring(value), row.value);
    }
}

}  // namespace
