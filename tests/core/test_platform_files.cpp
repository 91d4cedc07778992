// The file operations of the platform layer keep the Windows meanings the
// update and maintenance steps rely on: a move never replaces, deleting a
// file never removes a folder, only empty folders are removed.
#include <gtest/gtest.h>

#include <string>

#include "core/path.h"
#include "platform/platform.h"
#include "tests/core/core_test_support.h"

namespace {

// The long system path of an internal path, as the tool hands it over.
std::wstring long_path(const std::string& internal) {
    return path_to_long_wide(internal.c_str());
}

TEST(PlatformFiles, MoveNeverReplacesAnExistingTarget) {
    TempDir dir;
    write_file(dir / "a", "new");
    write_file(dir / "b", "old");
    EXPECT_FALSE(platform_move(long_path(dir / "a").c_str(), long_path(dir / "b").c_str()));
    EXPECT_EQ(read_file(dir / "b"), "old");
    EXPECT_EQ(read_file(dir / "a"), "new");

    EXPECT_TRUE(platform_move(long_path(dir / "a").c_str(), long_path(dir / "c").c_str()));
    EXPECT_FALSE(exists(dir / "a"));
    EXPECT_EQ(read_file(dir / "c"), "new");
    // Folders move too (a folder named like the program file counts).
    ASSERT_TRUE(make_folder(dir / "f"));
    EXPECT_TRUE(platform_move(long_path(dir / "f").c_str(), long_path(dir / "g").c_str()));
    EXPECT_TRUE(is_directory(dir / "g"));
}

TEST(PlatformFiles, DeleteAndRemoveKeepTheirKinds) {
    TempDir dir;
    write_file(dir / "file", "x");
    ASSERT_TRUE(make_folder(dir / "full"));
    write_file(dir / "full/inside", "y");
    ASSERT_TRUE(make_folder(dir / "empty"));

    EXPECT_FALSE(platform_delete_file(long_path(dir / "empty").c_str()));
    EXPECT_TRUE(is_directory(dir / "empty"));
    EXPECT_FALSE(platform_remove_directory(long_path(dir / "full").c_str()));
    EXPECT_TRUE(is_file(dir / "full/inside"));
    EXPECT_FALSE(platform_remove_directory(long_path(dir / "file").c_str()));
    EXPECT_FALSE(platform_delete_file(long_path(dir / "missing").c_str()));

    EXPECT_TRUE(platform_delete_file(long_path(dir / "file").c_str()));
    EXPECT_FALSE(exists(dir / "file"));
    EXPECT_TRUE(platform_remove_directory(long_path(dir / "empty").c_str()));
    EXPECT_FALSE(exists(dir / "empty"));
}

TEST(PlatformFiles, KindsAndFolderCreation) {
    TempDir dir;
    write_file(dir / "file", "x");
    EXPECT_EQ(platform_path_kind(long_path(dir / "file").c_str()), PLATFORM_PATH_FILE);
    EXPECT_EQ(platform_path_kind(long_path(dir.path()).c_str()), PLATFORM_PATH_DIRECTORY);
    EXPECT_EQ(platform_path_kind(long_path(dir / "missing").c_str()), PLATFORM_PATH_NONE);

    EXPECT_EQ(platform_create_directory(long_path(dir / "new").c_str()), PLATFORM_CREATED);
    EXPECT_EQ(platform_create_directory(long_path(dir / "new").c_str()), PLATFORM_ALREADY_EXISTS);
    EXPECT_EQ(platform_create_directory(long_path(dir / "file").c_str()), PLATFORM_ALREADY_EXISTS);
    EXPECT_EQ(platform_create_directory(long_path(dir / "missing/deeper").c_str()),
              PLATFORM_CREATE_FAILED);
}

TEST(PlatformFiles, CreateTruncatesAndWritesWhole) {
    TempDir dir;
    write_file(dir / "out", "a much longer earlier content");
    PlatformFile* file = platform_file_create(long_path(dir / "out").c_str());
    ASSERT_NE(file, nullptr);
    std::string big(70000, 'z');
    EXPECT_TRUE(platform_file_write(file, "head", 4));
    EXPECT_TRUE(platform_file_write(file, big.data(), (uint32_t)big.size()));
    // What the swap of an update waits for before it renames.
    EXPECT_TRUE(platform_file_persist(file));
    platform_file_close(file);
    EXPECT_EQ(read_file(dir / "out"), "head" + big);
    EXPECT_TRUE(platform_folder_persist(long_path(dir.path()).c_str()));
    EXPECT_FALSE(platform_folder_persist(long_path(dir / "missing").c_str()));
    EXPECT_EQ(platform_file_create(long_path(dir / "missing/out").c_str()), nullptr);
}

}  // namespace
