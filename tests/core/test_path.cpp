// Internal paths: conversion from and to system paths, the small path
// operations and folder creation.
#include <gtest/gtest.h>

#include <string>

#include "core/path.h"
#include "core_test_support.h"

namespace {

struct FromWideCase {
    const wchar_t* input;
    const char* expected;  // null: none
};

// Only inputs whose result does not depend on the current directory.
const FromWideCase from_wide_cases[] = {
    {LR"(C:\Users\Ann\AppData\Roaming)", "/C:/Users/Ann/AppData/Roaming"},
    {LR"(\\?\C:\Games\Chat)", "/C:/Games/Chat"},
    {LR"(\\server\share\dir)", "/UNC/server/share/dir"},
    {LR"(C:\a\.\b\..\c\\d\)", "/C:/a/c/d"},
    {LR"(relative\dir)", "relative/dir"},
    {LR"(C:\..)", ""},
    // A long network path is the same network path.
    {LR"(\\?\UNC\server\share\dir)", "/UNC/server/share/dir"},
    {LR"(\\?\UNC\server\share)", "/UNC/server/share"},
    // Windows takes the marker in any letter case.
    {LR"(\\?\unc\server\share\dir)", "/UNC/server/share/dir"},
    {LR"(\\?\Unc\server\share)", "/UNC/server/share"},
    // The device form names a drive or a share as the long form does.
    {.input = LR"(\\.\C:\Games)", .expected = "/C:/Games"},
    {.input = LR"(\\.\UNC\server\share)", .expected = "/UNC/server/share"},
    // Without server or share a network path stays one, which no call takes.
    {.input = LR"(\\)", .expected = "/UNC"},
    {.input = LR"(\\?\UNC\)", .expected = "/UNC"},
    // "\\?\" goes only from a path longer than four characters.
    {LR"(\\?\)", "/UNC/?"},
    {LR"(\\?\a)", "a"},
    {LR"(\\?\C:\)", "/C:"},
    // Only a backslash after the drive colon makes a drive path.
    {LR"(C:/Chat)", "C:/Chat"},
    {LR"(C:x\y)", "C:x/y"},
    {LR"(C:)", "C:"},
    {LR"(C:\)", "/C:"},
    {LR"(D:\Chat)", "/D:/Chat"},
    // A relative path's ".." takes its segment away.
    {LR"(a\..\b)", "b"},
    {LR"(..\x)", "x"},
    {L"", ""},
    {L"J\u00fcrgen\\\u65e5\u672c", "J\xc3\xbcrgen/\xe6\x97\xa5\xe6\x9c\xac"},
    {nullptr, nullptr},
};

TEST(PathFromWide, WorkedExamples) {
    for (const FromWideCase& c : from_wide_cases) {
        char* got = path_from_wide(c.input);
        EXPECT_EQ(or_none(got), or_none(c.expected)) << "input " << narrow(c.input);
    }
}

TEST(PathFromWide, SingleLeadingBackslashStartsAtTheRootOfTheCurrentDrive) {
    // Where the current directory has no drive (POSIX), the root is "/";
    // on Windows it is the drive of the temporary folder ("/C:").
    TempDir dir;
    ScopedCwd cwd(dir.path());
    const std::string drive = has_drive(dir.path()) ? dir.path().substr(0, 3) : "";
#ifdef _WIN32
    ASSERT_FALSE(drive.empty()) << "no drive in " << dir.path();
#endif
    const struct {
        const wchar_t* input;
        std::string expected;
    } cases[] = {
        {LR"(\tmp\demo)", drive + "/tmp/demo"},
        {LR"(\a\..\b)", drive + "/b"},
        {LR"(\a)", drive + "/a"},
        {LR"(\x\y\)", drive + "/x/y"},
        // Without drives the root is a folder of its own, "/", not the
        // empty path that means no folder.
        {LR"(\)", drive.empty() ? "/" : drive},
        {L"/", drive.empty() ? "/" : ""},
        {L"/tmp/..", drive.empty() ? "/" : ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(or_none(path_from_wide(c.input)), or_none(c.expected.c_str()))
            << "input " << narrow(c.input);
    }
    // The root shows as "\" and reads back as itself.
    if (drive.empty()) {
        EXPECT_EQ(or_none(path_from_wide(path_to_display_wide("/"))), or_none("/"));
    }
}

TEST(PathFromWide, SingleLeadingBackslashOnANetworkShareStartsAtTheShare) {
    // The process cannot move onto a share here, so the cache is given one.
    const struct {
        const wchar_t* cwd;
        const wchar_t* input;
        const char* expected;
    } cases[] = {
        {LR"(\\server\share\dir\sub)", LR"(\Chat)", "/UNC/server/share/Chat"},
        {LR"(\\server\share)", LR"(\Chat\x)", "/UNC/server/share/Chat/x"},
        {LR"(\\?\UNC\server\share\dir)", LR"(\a\..\b)", "/UNC/server/share/b"},
        {LR"(\\?\unc\server\share\dir)", LR"(\Chat)", "/UNC/server/share/Chat"},
        {LR"(D:\Games\Chat)", LR"(\Chat)", "/D:/Chat"},
    };
    for (const auto& c : cases) {
        path_use_current_directory(c.cwd);
        EXPECT_EQ(or_none(path_from_wide(c.input)), or_none(c.expected))
            << "input " << narrow(c.input) << " in " << narrow(c.cwd);
    }
    path_reset_current_directory();
}

struct NormaliseCase {
    const char* input;
    const char* expected;
};

TEST(PathNormalise, Examples) {
    const NormaliseCase cases[] = {
        {"/C:/a/b/../c", "/C:/a/c"},
        {"//x//y/", "/x/y"},
        {"/", ""},
        {"a/../b", "b"},
        {"a/b/../c", "a/c"},
        {"a/b/../../c", "c"},
        {"../x", "x"},
        {"../../x/y", "x/y"},
        {"a/..", ""},
        {"./a/./b/.", "a/b"},
        {".", ""},
        {"a\\b\\..\\c", "a/c"},
        {"/a/..", ""},
        {"/..", ""},
        {"/../a", "/a"},
        {"/a/../../b", "/b"},
        {"/C:/..", ""},
        {"/C:/a/..", "/C:"},
        {"/UNC/server/share/dir/..", "/UNC/server/share"},
        {"a//b", "a/b"},
        {"..a/b..", "..a/b.."},  // only whole segments are special
        {".../x", ".../x"},
    };
    for (const NormaliseCase& c : cases) {
        EXPECT_EQ(or_none(path_normalise(c.input)), or_none(c.expected)) << "input " << c.input;
    }
}

TEST(PathNormalise, EmptyInputIsReturnedItself) {
    const char* empty = "";
    EXPECT_EQ(path_normalise(empty), empty);
    EXPECT_EQ(path_normalise(nullptr), nullptr);
}

TEST(PathNormalise, InputIsNotChanged) {
    char input[] = "/a/./b/../c";
    char* out = path_normalise(input);
    EXPECT_STREQ(out, "/a/c");
    EXPECT_STREQ(input, "/a/./b/../c");
}

struct LongWideCase {
    const char* input;
    const wchar_t* expected;
};

TEST(PathToLongWide, AbsolutePaths) {
    const LongWideCase cases[] = {
        {"/C:/Games/Chat", LR"(\\?\C:\Games\Chat)"},
        {"/UNC/server/share/dir", LR"(\\?\UNC\server\share\dir)"},
        {.input = "/UNC/server/share", .expected = LR"(\\?\UNC\server\share)"},
        {.input = "/UNC", .expected = nullptr},         // no server: \\ or \\\ (none)
        {.input = "/UNC/server", .expected = nullptr},  // no share: \\server or \\server\ (none)
        {"/C:", LR"(\\?\C:)"},
        {"/tmp/x", LR"(\\?\tmp\x)"},
        {"/C:/J\xc3\xbcrgen", L"\\\\?\\C:\\J\u00fcrgen"},
    };
    for (const LongWideCase& c : cases) {
        EXPECT_EQ(narrow(path_to_long_wide(c.input)), narrow(c.expected)) << "input " << c.input;
    }
    EXPECT_EQ(path_to_long_wide(nullptr), nullptr);
}

// The current directory in the long form, as path_to_long_wide gives it.
std::wstring long_form(const std::string& posix) {
    std::wstring out = LR"(\\?\)" + widen(posix.c_str() + 1);
    for (wchar_t& c : out) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return out;
}

TEST(PathToLongWide, RelativePathsStartAtTheCurrentDirectory) {
    TempDir dir;
    ScopedCwd cwd(dir.path());
    std::wstring base = long_form(dir.path());
    const struct {
        const char* input;
        std::wstring expected;
    } cases[] = {
        {"relative/dir", base + LR"(\relative\dir)"},
        {"Chat", base + LR"(\Chat)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(narrow(path_to_long_wide(c.input)), narrow(c.expected.c_str()))
            << "input " << c.input;
    }
}

TEST(PathToLongWide, CurrentDirectoryIsTakenOnceUntilReset) {
    TempDir first, second;
    ScopedCwd cwd(first.path());
    std::string in_first = narrow(path_to_long_wide("x"));
    EXPECT_EQ(in_first, narrow((long_form(first.path()) + LR"(\x)").c_str()));
    ASSERT_TRUE(change_directory(second.path()));
    EXPECT_EQ(narrow(path_to_long_wide("x")), in_first) << "the cached directory is kept";
    path_reset_current_directory();
    EXPECT_EQ(narrow(path_to_long_wide("x")),
              narrow((long_form(second.path()) + LR"(\x)").c_str()));
}

TEST(PathToDisplay, Examples) {
    const NormaliseCase cases[] = {
        {"/C:/Games/Chat", R"(C:\Games\Chat)"},
        {"/UNC/server/share/dir", R"(\\server\share\dir)"},
        {"/UNC/server/share", R"(\\server\share)"},
        // A drive root keeps its backslash: "C:" alone would be relative.
        {"/C:", R"(C:\)"},
        // Without drive or server the root stays, so the text reads back.
        {"/tmp/x", R"(\tmp\x)"},
        // A colon in a longer first segment is no drive.
        {"/a:b/x", R"(\a:b\x)"},
        {"/", R"(\)"},
        {.input = "/UNC", .expected = R"(\\)"},
    };
    for (const NormaliseCase& c : cases) {
        EXPECT_EQ(or_none(path_to_display(c.input)), or_none(c.expected)) << "input " << c.input;
        EXPECT_EQ(narrow(path_to_display_wide(c.input)), c.expected) << "input " << c.input;
    }
    EXPECT_EQ(path_to_display(nullptr), nullptr);
    EXPECT_EQ(path_to_display_wide(nullptr), nullptr);
    // What the folder box shows reads back as the same folder.
    for (const char* folder : {"/E:", "/E:/Chat", "/UNC/server/share", "/UNC", "/UNC/server"}) {
        EXPECT_EQ(or_none(path_from_wide(path_to_display_wide(folder))), or_none(folder));
    }
}

TEST(PathToDisplay, RelativePathStartsAtTheCurrentDirectory) {
    TempDir dir;
    ScopedCwd cwd(dir.path());
    // A drive path loses its leading "/"; a POSIX folder keeps it as "\".
    std::string root = has_drive(dir.path()) ? dir.path().substr(1) : dir.path();
    std::string expected = root + "/relative/dir";
    for (char& c : expected) {
        if (c == '/') {
            c = '\\';
        }
    }
    EXPECT_EQ(or_none(path_to_display("relative/dir")), or_none(expected.c_str()));
}

TEST(PathParent, Examples) {
    const NormaliseCase cases[] = {
        {"/C:/Games/Chat", "/C:/Games"},
        {"/C:", ""},  // the only "/" is the first character
        {"Chat", nullptr},
        {"a/b", "a"},
        {"/UNC/server/share", "/UNC/server"},
        {"", nullptr},
        {nullptr, nullptr},
    };
    for (const NormaliseCase& c : cases) {
        EXPECT_EQ(or_none(path_parent(c.input)), or_none(c.expected))
            << "input " << or_none(c.input);
    }
}

TEST(PathJoin, Examples) {
    const char* empty = "";
    const char* bin = "Bin";
    const char* games = "/C:/Games";
    const struct {
        const char* a;
        const char* b;
        const char* expected;
        const char* same_as;  // when the result must be this very string
    } cases[] = {
        {games, bin, "/C:/Games/Bin", nullptr},
        {"/", bin, "/Bin", nullptr},  // the root has its separator already
        {empty, bin, "Bin", bin},
        {nullptr, bin, "Bin", bin},
        {games, empty, "/C:/Games", games},
        {games, nullptr, "/C:/Games", games},
        {empty, empty, "", empty},  // both empty: the second part itself
        {nullptr, empty, "", empty},
        {empty, nullptr, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        const char* got = path_join(c.a, c.b);
        EXPECT_EQ(or_none(got), or_none(c.expected)) << or_none(c.a) << " + " << or_none(c.b);
        if (c.same_as != nullptr) {
            EXPECT_EQ(got, c.same_as) << or_none(c.a) << " + " << or_none(c.b);
        }
    }
}

TEST(PathJoin3, Examples) {
    const struct {
        const char* a;
        const char* b;
        const char* c;
        const char* expected;
    } cases[] = {
        {"/C:/Games", "Bin", "CorvaneChat.exe", "/C:/Games/Bin/CorvaneChat.exe"},
        {"/C:/Games", "Bin", "", "/C:/Games/Bin"},
        {"/", "Bin", "CorvaneChat.exe", "/Bin/CorvaneChat.exe"},
        {"/C:/Games", "", "CorvaneChat.exe", "/C:/Games/CorvaneChat.exe"},
        {"", "Bin", "CorvaneChat.exe", "Bin/CorvaneChat.exe"},
        {nullptr, "Bin", nullptr, "Bin"},
        {"a", nullptr, nullptr, "a"},
        {nullptr, nullptr, "c", "c"},
        {"", "", "", ""},
        {nullptr, nullptr, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(or_none(path_join3(c.a, c.b, c.c)), or_none(c.expected))
            << or_none(c.a) << " + " << or_none(c.b) << " + " << or_none(c.c);
    }
}

TEST(PathSuffixes, RepairOldAndStageNames) {
    const char* exe = "/C:/Games/Bin/CorvaneChat.exe";
    EXPECT_EQ(or_none(repair_name(exe)), or_none("/C:/Games/Bin/CorvaneChat.exe.repair"));
    EXPECT_EQ(or_none(old_name(exe)), or_none("/C:/Games/Bin/CorvaneChat.exe.old"));
    EXPECT_EQ(or_none(stage_name(exe)), or_none("/C:/Games/Bin/CorvaneChat.exe.stage"));
    EXPECT_EQ(repair_name(nullptr), nullptr);
    EXPECT_EQ(repair_name(""), nullptr);
    EXPECT_EQ(or_none(old_name("")), or_none(".old"));
}

TEST(MakeDirectories, CreatesEveryMissingLevel) {
    TempDir dir;
    ASSERT_TRUE(make_folder(dir / "a"));
    std::string deep = dir / "a/b/c";
    EXPECT_TRUE(make_directories(deep.c_str()));
    EXPECT_TRUE(is_directory(dir / "a/b"));
    EXPECT_TRUE(is_directory(deep));
    // Again: it exists now, which is success.
    EXPECT_TRUE(make_directories(deep.c_str()));
}

TEST(MakeDirectories, CreatesAFullChainUnderAnExistingRoot) {
    TempDir dir;
    std::string deep = dir / "x/y/z/w";
    EXPECT_TRUE(make_directories(deep.c_str()));
    EXPECT_TRUE(is_directory(deep));
}

TEST(MakeDirectories, AFileOfThatNameCountsAsSuccess) {
    TempDir dir;
    write_file(dir / "f", "data");
    EXPECT_TRUE(make_directories((dir / "f").c_str()));
    EXPECT_TRUE(is_file(dir / "f"));
}

TEST(MakeDirectories, FailsUnderAFile) {
    TempDir dir;
    write_file(dir / "f", "data");
    EXPECT_FALSE(make_directories((dir / "f/sub").c_str()));
    EXPECT_FALSE(make_directories((dir / "f/sub/deeper").c_str()));
    EXPECT_TRUE(is_file(dir / "f"));
}

// As -cvdir //// gives it, too: refused, not made as the folder /UNC.
TEST(MakeDirectories, NoneAndNetworkPathsWithoutShareFail) {
    for (const char* path : {(const char*)nullptr, "/UNC", "/UNC/server", "/UNC/Bin"}) {
        EXPECT_FALSE(make_directories(path)) << or_none(path);
    }
}

TEST(MakeDirectories, RelativePathIsMadeInTheCurrentDirectory) {
    TempDir dir;
    ScopedCwd cwd(dir.path());
    EXPECT_TRUE(make_directories("rel/sub"));
    EXPECT_TRUE(is_directory(dir / "rel/sub"));
}

TEST(PathExists, FilesAndFolders) {
    TempDir dir;
    write_file(dir / "f", "");
    EXPECT_TRUE(path_exists(dir.path().c_str()));
    EXPECT_TRUE(path_exists((dir / "f").c_str()));
    EXPECT_FALSE(path_exists((dir / "missing").c_str()));
    EXPECT_FALSE(path_exists(nullptr));
}

}  // namespace
