// The command line, the default install folder, the program file's place
// and the start-up recovery of an interrupted program-file swap.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "core/path.h"
#include "core/settings.h"
#include "core_test_support.h"

namespace {

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        settings_store(&install_folder, nullptr);
        settings_store(&base_folder, nullptr);
#ifndef _WIN32
        save("HOME", &home_);
        save("XDG_DATA_HOME", &xdg_);
#endif
    }
    void TearDown() override {
        settings_store(&install_folder, nullptr);
        settings_store(&base_folder, nullptr);
#ifndef _WIN32
        restore("HOME", home_);
        restore("XDG_DATA_HOME", xdg_);
#endif
    }

#ifndef _WIN32
  private:
    struct Saved {
        bool set = false;
        std::string value;
    };
    static void save(const char* name, Saved* out) {
        const char* v = getenv(name);
        out->set = v != nullptr;
        out->value = v ? v : "";
    }
    static void restore(const char* name, const Saved& s) {
        if (s.set) {
            setenv(name, s.value.c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    Saved home_, xdg_;
#endif
};

// Runs parse_command_line on a vector built from args. The vector has no
// null after its last argument but a value that must never be read.
void parse(const std::vector<std::wstring>& args) {
    std::vector<std::wstring> texts = args;
    texts.insert(texts.begin(), L"CorvaneChatBootstrap.exe");
    texts.push_back(L"X:\\Past\\The\\End");
    std::vector<wchar_t*> argv;
    for (std::wstring& t : texts) {
        argv.push_back(&t[0]);
    }
    parse_command_line((int)texts.size() - 1, argv.data());
}

struct CommandLineCase {
    const char* name;
    std::vector<std::wstring> args;
    const char* install;  // null: none
    const char* base;
};

const CommandLineCase command_line_cases[] = {
    {"option name in any case", {L"-CVDIR", LR"(D:\Chat)"}, "/D:/Chat", nullptr},
    {"mixed case", {L"-CvDir", LR"(D:\Chat)", L"-BaseDir", LR"(E:\B)"}, "/D:/Chat", "/E:/B"},
    {"empty value leaves none", {L"-cvdir", L""}, nullptr, nullptr},
    {"basedir slashes", {L"-basedir", L"D:/Tools/Chat"}, nullptr, "/D:/Tools/Chat"},
    {"cvdir slashes", {L"-cvdir", L"C:/Chat"}, "/C:/Chat", nullptr},
    {"cvdir value taken as basedir", {L"-cvdir", L"-basedir", LR"(E:\B)"}, "-basedir", "/E:/B"},
    {"two cvdir: the last", {L"-cvdir", L"A", L"-cvdir", L"B"}, "B", nullptr},
    {"two basedir: the last", {L"-basedir", L"A", L"-basedir", L"B"}, nullptr, "B"},
    {"cvdir last is ignored", {L"-cvdir"}, nullptr, nullptr},
    {"basedir last is ignored", {L"-basedir"}, nullptr, nullptr},
    {"cvdir last keeps the earlier value", {L"-cvdir", LR"(D:\A)", L"-cvdir"}, "/D:/A", nullptr},
    {"basedir last keeps the earlier value",
     {L"-basedir", LR"(D:\A)", L"-basedir"},
     nullptr,
     "/D:/A"},
    {"value -basedir last", {L"-cvdir", L"-basedir"}, "-basedir", nullptr},
    {"value not read again as cvdir", {L"-cvdir", L"-cvdir", LR"(D:\x)"}, "-cvdir", nullptr},
    {"other arguments ignored",
     {L"foo", L"-cvdir", LR"(D:\a)", L"bar", L"-cvdirx", LR"(D:\b)", L"cvdir", LR"(D:\c)"},
     "/D:/a",
     nullptr},
    // U+0163 would read as 'c' if a unit were cut to its low byte.
    {"a wide character is no letter", {L"-\u0163vdir", LR"(D:\a)"}, nullptr, nullptr},
    {"network folder", {L"-basedir", LR"(\\server\share\dir)"}, nullptr, "/UNC/server/share/dir"},
    {"relative folder normalised", {L"-cvdir", LR"(a\..\b\.\c)"}, "b/c", nullptr},
    {"no arguments", {}, nullptr, nullptr},
};

TEST_F(SettingsTest, CommandLine) {
    for (const CommandLineCase& c : command_line_cases) {
        settings_store(&install_folder, nullptr);
        settings_store(&base_folder, nullptr);
        parse(c.args);
        EXPECT_EQ(or_none(install_folder), or_none(c.install)) << c.name;
        EXPECT_EQ(or_none(base_folder), or_none(c.base)) << c.name;
    }
}

TEST_F(SettingsTest, ProgramNameIsNotAnOption) {
    std::wstring name = L"-cvdir";
    std::wstring value = LR"(D:\Chat)";
    wchar_t* argv[] = {&name[0], &value[0], nullptr};
    parse_command_line(2, argv);
    EXPECT_EQ(install_folder, nullptr);
}

TEST_F(SettingsTest, StoredSettingIsAnOwnedCopy) {
    char value[] = "/C:/Chat";
    settings_store(&install_folder, value);
    ASSERT_NE(install_folder, nullptr);
    EXPECT_NE(install_folder, value);
    value[1] = 'D';
    EXPECT_STREQ(install_folder, "/C:/Chat");
    settings_store(&install_folder, "");
    EXPECT_EQ(install_folder, nullptr);
}

#ifdef _WIN32
// On Windows the default comes from the user's application-data folder,
// which the system also names in APPDATA: CorvaneChat inside it, as a drive
// path in internal form.
void expect_windows_default_folder(const char* got) {
    ASSERT_NE(got, nullptr);
    const std::string folder = got;
    const std::string tail = "/CorvaneChat";
    ASSERT_GT(folder.size(), tail.size()) << folder;
    EXPECT_EQ(folder.substr(folder.size() - tail.size()), tail);
    const std::string parent = folder.substr(0, folder.size() - tail.size());
    EXPECT_TRUE(has_drive(parent)) << folder;
    EXPECT_TRUE(is_directory(parent)) << parent;
    const char* appdata = getenv("APPDATA");
    ASSERT_NE(appdata, nullptr) << "APPDATA is not set";
    EXPECT_EQ(parent, internal_path(std::filesystem::u8path(appdata)));
}

TEST_F(SettingsTest, DefaultInstallFolderIsInTheApplicationDataFolder) {
    choose_default_install_folder();
    expect_windows_default_folder(install_folder);
}

TEST_F(SettingsTest, DefaultDoesNotReplaceAGivenFolder) {
    parse({L"-cvdir", LR"(D:\Mine)"});
    choose_default_install_folder();
    EXPECT_EQ(or_none(install_folder), or_none("/D:/Mine"));
}

TEST_F(SettingsTest, EmptyCvdirGetsTheDefaultFolder) {
    parse({L"-cvdir", L""});
    ASSERT_EQ(install_folder, nullptr);
    choose_default_install_folder();
    expect_windows_default_folder(install_folder);
}
#else
// HOME and XDG_DATA_HOME stand for the application-data folder on POSIX.
TEST_F(SettingsTest, DefaultInstallFolderIsInTheApplicationDataFolder) {
    TempDir home;
    setenv("HOME", home.path().c_str(), 1);
    unsetenv("XDG_DATA_HOME");
    choose_default_install_folder();
    EXPECT_EQ(or_none(install_folder), or_none((home / ".local/share/CorvaneChat").c_str()));

    TempDir data;
    setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    settings_store(&install_folder, nullptr);
    choose_default_install_folder();
    EXPECT_EQ(or_none(install_folder), or_none((data / "CorvaneChat").c_str()));
}

TEST_F(SettingsTest, DefaultDoesNotReplaceAGivenFolder) {
    TempDir home;
    setenv("HOME", home.path().c_str(), 1);
    parse({L"-cvdir", LR"(D:\Mine)"});
    choose_default_install_folder();
    EXPECT_EQ(or_none(install_folder), or_none("/D:/Mine"));
}

TEST_F(SettingsTest, EmptyCvdirGetsTheDefaultFolder) {
    TempDir home;
    setenv("HOME", home.path().c_str(), 1);
    unsetenv("XDG_DATA_HOME");
    parse({L"-cvdir", L""});
    ASSERT_EQ(install_folder, nullptr);
    choose_default_install_folder();
    EXPECT_EQ(or_none(install_folder), or_none((home / ".local/share/CorvaneChat").c_str()));
}

TEST_F(SettingsTest, NoApplicationDataFolderLeavesNone) {
    unsetenv("HOME");
    unsetenv("XDG_DATA_HOME");
    choose_default_install_folder();
    EXPECT_EQ(install_folder, nullptr);
    EXPECT_EQ(program_file_path(), nullptr);
}
#endif

TEST_F(SettingsTest, ProgramFilePathCreatesBin) {
    TempDir dir;
    settings_store(&install_folder, dir.path().c_str());
    char* p = program_file_path();
    EXPECT_EQ(or_none(p), or_none((dir / "Bin/CorvaneChat.exe").c_str()));
    EXPECT_TRUE(is_directory(dir / "Bin"));
    // Again, with Bin there.
    EXPECT_EQ(or_none(program_file_path()), or_none((dir / "Bin/CorvaneChat.exe").c_str()));
}

TEST_F(SettingsTest, ProgramFilePathCreatesOnlyOneLevel) {
    TempDir dir;
    std::string missing = dir / "missing/Chat";
    settings_store(&install_folder, missing.c_str());
    EXPECT_EQ(or_none(program_file_path()), or_none((missing + "/Bin/CorvaneChat.exe").c_str()));
    EXPECT_FALSE(exists(dir / "missing"));
}

TEST_F(SettingsTest, ProgramFilePathWithAFileNamedBin) {
    TempDir dir;
    write_file(dir / "Bin", "not a folder");
    settings_store(&install_folder, dir.path().c_str());
    EXPECT_EQ(or_none(program_file_path()), or_none((dir / "Bin/CorvaneChat.exe").c_str()));
    EXPECT_TRUE(is_file(dir / "Bin"));
}

// The UI thread may replace the folder while the main thread, at the end of
// a cycle, turns it into the program file's path: every path must be made
// from one whole folder, never from a freed one.
TEST_F(SettingsTest, ProgramFilePathWhileAnotherThreadReplacesTheFolder) {
    TempDir a, b;
    const std::string paths[] = {or_none((a / "Bin/CorvaneChat.exe").c_str()),
                                 or_none((b / "Bin/CorvaneChat.exe").c_str())};
    settings_store(&install_folder, a.path().c_str());
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; !done.load(); i++) {
            settings_store(&install_folder, (i % 2 ? a : b).path().c_str());
        }
    });
    int odd = 0;
    for (int i = 0; i < 3000; i++) {
        std::string got = or_none(program_file_path());
        if (got != paths[0] && got != paths[1]) {
            odd++;
        }
    }
    done = true;
    writer.join();
    EXPECT_EQ(odd, 0) << "paths made from neither folder";
}

TEST_F(SettingsTest, RecoverProgramFile) {
    const struct {
        const char* name;
        const char* program;  // content, null: missing
        const char* old;
        const char* repair;
        const char* program_after;
        const char* old_after;
        const char* repair_after;
    } cases[] = {
        {"both: the old file goes", "new", "old", nullptr, "new", nullptr, nullptr},
        {"only old: it is moved back", nullptr, "old", nullptr, "old", nullptr, nullptr},
        {"only the program", "new", nullptr, nullptr, "new", nullptr, nullptr},
        {"neither", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
        // A Repair ended by the process: before or after its swap.
        {"only the backup: it is moved back", nullptr, nullptr, "kept", "kept", nullptr, nullptr},
        {"program and backup: the backup goes", "new", nullptr, "kept", "new", nullptr, nullptr},
        {"swap cut short in a Repair", nullptr, "old", "kept", "old", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        TempDir dir;
        ASSERT_TRUE(make_folder(dir / "Bin"));
        std::string program = dir / "Bin/CorvaneChat.exe";
        std::string old = program + ".old";
        std::string repair = program + ".repair";
        if (c.program) {
            write_file(program, c.program);
        }
        if (c.old) {
            write_file(old, c.old);
        }
        if (c.repair) {
            write_file(repair, c.repair);
        }
        settings_store(&install_folder, dir.path().c_str());
        recover_program_file();
        auto content = [](const std::string& path) {
            return exists(path) ? read_file(path) : std::string("<missing>");
        };
        auto expected = [](const char* text) { return std::string(text ? text : "<missing>"); };
        EXPECT_EQ(content(program), expected(c.program_after)) << c.name;
        EXPECT_EQ(content(old), expected(c.old_after)) << c.name;
        EXPECT_EQ(content(repair), expected(c.repair_after)) << c.name;
    }
}

TEST_F(SettingsTest, RecoverKeepsTheBackupBesideAFolderOfTheProgramsName) {
    TempDir dir;
    settings_store(&install_folder, dir.path().c_str());
    ASSERT_TRUE(make_folder(dir / "Bin"));
    ASSERT_TRUE(make_folder(dir / "Bin/CorvaneChat.exe"));
    write_file(dir / "Bin/CorvaneChat.exe.repair", "kept");
    recover_program_file();
    EXPECT_TRUE(is_directory(dir / "Bin/CorvaneChat.exe"));
    EXPECT_EQ(read_file(dir / "Bin/CorvaneChat.exe.repair"), "kept");
}

TEST_F(SettingsTest, RecoverDeletesALeftOverStagingFile) {
    TempDir dir;
    settings_store(&install_folder, dir.path().c_str());
    ASSERT_TRUE(make_folder(dir / "Bin"));
    write_file(dir / "Bin/CorvaneChat.exe", "program");
    write_file(dir / "Bin/CorvaneChat.exe.stage", "half a download");
    recover_program_file();
    EXPECT_FALSE(exists(dir / "Bin/CorvaneChat.exe.stage"));
    EXPECT_EQ(read_file(dir / "Bin/CorvaneChat.exe"), "program");
}

TEST_F(SettingsTest, RecoverCreatesBinBeforeLookingForOld) {
    TempDir dir;
    settings_store(&install_folder, dir.path().c_str());
    recover_program_file();
    EXPECT_TRUE(is_directory(dir / "Bin"));
}

}  // namespace
