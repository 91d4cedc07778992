// The Install/Launch! rule, the folder box, the state guard and Browse,
// seen through the console window's state lines.
#include "tests/ui/ui_fixture.h"
#include "tests/ui/window_cases.h"

namespace {

TEST_F(UiTest, StateRulesFollowTheFolder) {
    for (const StateCase& c : state_cases) {
        SCOPED_TRACE(c.name);
        TestTempDir case_home;
        std::string root = case_home.path();
        for (const CaseFile& f : c.files) {
            if (f.path == nullptr) {
                break;
            }
            fs::create_directories(fs::path(root + "/" + f.path).parent_path());
            ASSERT_TRUE(test_write_file(root + "/" + f.path, f.bytes));
        }
        ToolProcess run;
        std::string error;
        std::string folder = root + "/" + c.folder;
        ASSERT_TRUE(run.start({"-cvdir", folder}, environment(), &error)) << error;
        EXPECT_EQ(run.expect("state:"), state_line(c.label, c.install, c.repair_uninstall,
                                                   c.repair_uninstall, false, folder));
        run.close_input();  // the end of input closes the window
        EXPECT_EQ(run.wait_exit(), 0) << run.transcript();
    }
}

TEST_F(UiTest, NoInstallFolderLeavesInstallDisabled) {
    ToolProcess run;
    std::string error;
    // Without a home folder the system names no application-data folder.
    ASSERT_TRUE(run.start({}, {"HOME=", "XDG_DATA_HOME="}, &error)) << error;
    EXPECT_EQ(run.expect("state:"),
              "state: Install install=off repair=off uninstall=off cancel=off folder=");
    // A typed folder makes Install possible.
    std::string folder = home.file("typed");
    run.send("folder " + folder);
    EXPECT_EQ(run.expect("state:"), state_line("Install", true, false, false, false, folder));
    run.send("close");
    EXPECT_EQ(run.wait_exit(), 0) << run.transcript();
}

TEST_F(UiTest, DefaultFolderIsInTheApplicationData) {
    start_tool({});
    EXPECT_EQ(tool.expect("state:"),
              state_line("Install", true, false, false, false, home.file("data/CorvaneChat")));
    close_and_expect_exit();
}

TEST_F(UiTest, LeavingTheFolderBoxTakesTheFolder) {
    std::string installed = make_folder("A", {{"Bin/CorvaneChat.exe", "x"}});
    std::string plain = make_folder("B", {{"notes.txt", "x"}});
    start_tool_in(plain);
    EXPECT_EQ(tool.expect("state:"), state_line("Install", true, false, false, false, plain));
    tool.send("folder " + installed);
    EXPECT_EQ(tool.expect("state:"), state_line("Launch!", true, true, true, false, installed));
    tool.send("folder " + plain);
    EXPECT_EQ(tool.expect("state:"), state_line("Install", true, false, false, false, plain));
    close_and_expect_exit();
}

TEST_F(UiTest, EmptiedFolderBoxKeepsTheFolder) {
    std::string installed = make_folder("A", {{"Bin/CorvaneChat.exe", "x"}});
    start_tool_in(installed);
    EXPECT_EQ(tool.expect("state:"), state_line("Launch!", true, true, true, false, installed));
    tool.send("folder");
    // The state guard of Repair reads the empty box again: the folder stays,
    // so the click goes on to its question.
    tool.send("repair");
    EXPECT_NE(tool.expect("[question] Corvane Chat: The Corvane Chat program will be checked"), "")
        << tool.transcript();
    tool.send("no");
    close_and_expect_exit();
    EXPECT_EQ(tool.lines_with("state:").size(), 1u) << tool.transcript();
}

TEST_F(UiTest, ClickThatFlipsTheStateOnlyRelabels) {
    std::string folder = make_folder("A", {{"notes.txt", "x"}});
    start_tool_in(folder);
    EXPECT_EQ(tool.expect("state:"), state_line("Install", true, false, false, false, folder));
    // The program appears behind the window's back: Install now relabels.
    fs::create_directories(folder + "/Bin");
    ASSERT_TRUE(test_write_file(folder + "/Bin/CorvaneChat.exe", demo_chat_bytes()));
    fs::permissions(folder + "/Bin/CorvaneChat.exe", fs::perms::owner_all);
    tool.send("install");
    EXPECT_EQ(tool.expect("state:"), state_line("Launch!", true, true, true, false, folder));
    // And back: with the program gone, Uninstall only relabels, no question.
    fs::remove(folder + "/Bin/CorvaneChat.exe");
    tool.send("uninstall");
    EXPECT_EQ(tool.expect("state:"), state_line("Install", true, false, false, false, folder));
    close_and_expect_exit();
    EXPECT_TRUE(tool.lines_with("[question]").empty()) << tool.transcript();
    EXPECT_FALSE(chat_started());
}

TEST_F(UiTest, DisabledButtonsIgnoreTheirLines) {
    std::string folder = make_folder("A", {{"notes.txt", "x"}});
    start_tool_in(folder);
    EXPECT_EQ(tool.expect("state:"), state_line("Install", true, false, false, false, folder));
    tool.send("repair");
    tool.send("uninstall");
    tool.send("cancel");  // disabled too: the window stays
    tool.send("folder " + home.file("B"));
    EXPECT_EQ(tool.expect("state:"),
              state_line("Install", true, false, false, false, home.file("B")));
    close_and_expect_exit();
    EXPECT_TRUE(tool.lines_with("[question]").empty()) << tool.transcript();
}

TEST_F(UiTest, BrowseDecidesTheFinalFolder) {
    std::string start = make_folder("start", {});
    start_tool_in(start);
    EXPECT_EQ(tool.expect("state:"), state_line("Install", true, false, false, false, start));
    auto where = [&](const char* path) {
        return path[0] == '/' ? std::string(path) : home.file(path);
    };
    for (const BrowseCase& c : browse_cases) {
        SCOPED_TRACE(c.name);
        for (const CaseFile& f : c.files) {
            if (f.path == nullptr) {
                break;
            }
            fs::create_directories(fs::path(home.file(f.path)).parent_path());
            ASSERT_TRUE(test_write_file(home.file(f.path), f.bytes));
        }
        tool.send(std::string("browse ") + where(c.chosen));
        bool launch = std::string(c.label) == "Launch!";
        EXPECT_EQ(tool.expect("state:"),
                  state_line(c.label, c.install, launch, launch, false, where(c.final_folder)));
    }
    // The root typed into the box reads back as the root.
    tool.send("folder /");
    EXPECT_EQ(tool.expect("state:"), state_line("Install", true, false, false, false, "/"));
    // A cancelled picker changes nothing: the next change is the folder box's.
    tool.send("browse");
    tool.send("folder " + start);
    EXPECT_EQ(tool.expect("state:"), state_line("Install", true, false, false, false, start));
    close_and_expect_exit();
}

}  // namespace
