// Uninstall: the program's files, its empty folders, the shortcut question.
// Plain success, answering No and a file that stays are rows of the
// operation table (operation_cases.h).
#include "tests/ui/ui_fixture.h"

namespace {

const char UNINSTALL_QUESTION[] =
    "[question] Corvane Chat: The Corvane Chat program will be removed.";
const char SHORTCUT_QUESTION[] =
    "[question] Corvane Chat: Do you want to remove Corvane Chat from the Start Menu and Desktop?";
const char UNINSTALL_SUCCESS[] =
    "[information] Corvane Chat: Corvane Chat was successfully uninstalled.";

class UninstallTest : public UiTest {
  protected:
    void make_installation(const std::vector<std::pair<std::string, std::string>>& extra = {}) {
        std::vector<std::pair<std::string, std::string>> files = {
            {"Bin/CorvaneChat.exe", "program"},    {"Bin/CorvaneChatClient.exe", "companion"},
            {"Qorbs/CorvaneChat.qorb", "archive"}, {"Config/CorvaneChat.cfg", "own configuration"},
            {"Config/emote.cfg", "user data"},     {"Screenshots/one.png", "user data"}};
        files.insert(files.end(), extra.begin(), extra.end());
        folder = make_folder("A", files);
    }
    std::string start_menu_shortcut() const {
        return home.file("data/applications/Corvane Chat.lnk");
    }
    std::string desktop_shortcut() const { return home.file("Desktop/Corvane Chat.lnk"); }
    void make_shortcut(const std::string& path) {
        fs::create_directories(fs::path(path).parent_path());
        ASSERT_TRUE(test_write_file(path, "shortcut"));
    }
    void start_and_uninstall() {
        start_tool_in(folder);
        EXPECT_EQ(tool.expect("state:"), state_line("Launch!", true, true, true, false, folder));
        tool.send("uninstall");
        EXPECT_NE(tool.expect(UNINSTALL_QUESTION), "") << tool.transcript();
        tool.send("yes");
    }
    void expect_program_files_gone() {
        for (const char* f : {"Bin/CorvaneChat.exe", "Bin/CorvaneChatClient.exe",
                              "Qorbs/CorvaneChat.qorb", "Config/CorvaneChat.cfg"}) {
            EXPECT_FALSE(fs::exists(folder + "/" + f)) << f;
        }
        EXPECT_FALSE(fs::exists(folder + "/Qorbs"));
        EXPECT_EQ(read_text(folder + "/Config/emote.cfg"), "user data");
        EXPECT_EQ(read_text(folder + "/Screenshots/one.png"), "user data");
    }
    std::string folder;
};

TEST_F(UninstallTest, BinWithOtherFilesStays) {
    make_installation({{"Bin/plugin.dll", "other"}});
    start_and_uninstall();
    EXPECT_NE(tool.expect(UNINSTALL_SUCCESS), "") << tool.transcript();
    EXPECT_EQ(tool.expect("state:"), state_line("Install", true, false, false, false, folder));
    close_and_expect_exit();
    expect_program_files_gone();
    EXPECT_EQ(read_text(folder + "/Bin/plugin.dll"), "other");
}

struct ShortcutCase {
    const char* name;
    bool start_menu, desktop;
    const char* answer;
    bool removed;
};

// Both shortcuts, and answering No to the first question, are rows of the
// operation table.
const ShortcutCase shortcut_cases[] = {
    {"desktop only, yes", false, true, "yes", true},
    {"start menu only, no", true, false, "no", false},
};

TEST_F(UninstallTest, ShortcutQuestionDecidesAboutTheShortcuts) {
    for (const ShortcutCase& c : shortcut_cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(home.file("A"));
        fs::remove(start_menu_shortcut());
        fs::remove(desktop_shortcut());
        make_installation();
        if (c.start_menu) {
            make_shortcut(start_menu_shortcut());
        }
        if (c.desktop) {
            make_shortcut(desktop_shortcut());
        }
        ToolProcess run;
        std::string error;
        ASSERT_TRUE(run.start({"-cvdir", folder}, environment(), &error)) << error;
        run.expect("state:");
        run.send("uninstall");
        EXPECT_NE(run.expect(UNINSTALL_QUESTION), "") << run.transcript();
        run.send("yes");
        EXPECT_NE(run.expect(SHORTCUT_QUESTION), "") << run.transcript();
        run.send(c.answer);
        EXPECT_NE(run.expect(UNINSTALL_SUCCESS), "") << run.transcript();
        run.send("close");
        EXPECT_EQ(run.wait_exit(), 0) << run.transcript();
        EXPECT_EQ(fs::exists(start_menu_shortcut()), c.start_menu && !c.removed);
        EXPECT_EQ(fs::exists(desktop_shortcut()), c.desktop && !c.removed);
    }
}

}  // namespace
