// Install end to end as a script drives it, its file steps, Launch! with an
// empty tail or a program that cannot start, and a close right behind the
// command. Failed Installs, closing or Cancel during the download and the
// base folder's pass-on line are rows of the operation table
// (operation_cases.h).
#include "tests/ui/ui_fixture.h"

namespace {

// Slow enough that a test can act while the download runs.
const char SLOW_SERVER[] = "limit_rate 64k;";

// A script either waits for the tool or ends its input right after the
// command; the end of input lets the running Install finish and launch.
class InstallScriptTest : public UiTest, public testing::WithParamInterface<bool> {};

TEST_P(InstallScriptTest, InstallCreatesTheFoldersRunsTheCycleAndStartsTheChatProgram) {
    start_server();
    publish(demo_chat_bytes());
    std::string folder = home.file("deep/new/CorvaneChat");
    start_tool_in(folder);
    EXPECT_EQ(tool.expect("state:"), state_line("Install", true, false, false, false, folder));
    tool.send("install");
    if (GetParam()) {
        tool.close_input();
    }
    EXPECT_EQ(tool.expect("state:"), state_line("Install", false, false, false, true, folder));
    EXPECT_EQ(tool.wait_exit(UI_EXIT_TIMEOUT_MS), 0) << tool.transcript();
    EXPECT_EQ(tool.lines_with("progress: 100%").size(), 1u) << tool.transcript();
    EXPECT_TRUE(tool.lines_with("[error]").empty()) << tool.transcript();

    std::string program = folder + "/Bin/CorvaneChat.exe";
    EXPECT_EQ(read_text(program), demo_chat_bytes());
    EXPECT_TRUE(executable(program));
    EXPECT_FALSE(fs::exists(program + ".stage"));
    std::vector<std::string> expected = {"CorvaneChat.exe", "-cvdir", folder, "-bootstrap",
                                         CORVANE_UI_TOOL};
    EXPECT_EQ(recorded_arguments(), expected);
}

INSTANTIATE_TEST_SUITE_P(Script, InstallScriptTest, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& row) {
                             return std::string(row.param ? "InputEndsAfterTheCommand"
                                                          : "ScriptWaits");
                         });

// A close right behind the command still shows the busy state it led to,
// and leaves no staging file, though the updater reaches the download only
// after the close: the test build holds the file's creation until the
// process ends, and the end for that creation.
TEST_F(UiTest, CloseRightAfterInstallKeepsTheLastStateLine) {
    start_server(SLOW_SERVER);
    publish(test_program_bytes(4 * 1024 * 1024, 7));
    std::string folder = home.file("A");
    std::vector<std::string> env = environment();
    env.push_back("CORVANE_TEST_LATE_STAGE=3000");
    std::string error;
    ASSERT_TRUE(tool.start({"-cvdir", folder}, env, &error)) << error;
    tool.expect("state:");
    tool.send("install");
    tool.send("close");
    EXPECT_EQ(tool.wait_exit(UI_EXIT_TIMEOUT_MS), 0) << tool.transcript();
    EXPECT_EQ(tool.lines_with(state_line("Install", false, false, false, true, folder)).size(), 1u)
        << tool.transcript();
    EXPECT_FALSE(fs::exists(folder + "/Bin/CorvaneChat.exe.stage"));
}

// Before the staged file takes the program file's name it is runnable and
// on the disk, and so is its entry in the folder; the swap is on the disk
// before success is told. The test build traces the tool's file steps.
TEST_F(UiTest, InstallSealsTheStagedFileBeforeTheSwap) {
    start_server();
    publish(demo_chat_bytes());
    std::string folder = home.file("A");
    std::string trace = home.file("file-steps.txt");
    std::vector<std::string> env = environment();
    env.push_back("CORVANE_TEST_FILE_TRACE=" + trace);
    std::string error;
    ASSERT_TRUE(tool.start({"-cvdir", folder}, env, &error)) << error;
    tool.expect("state:");
    tool.send("install");
    EXPECT_EQ(tool.wait_exit(UI_EXIT_TIMEOUT_MS), 0) << tool.transcript();
    std::string bin = fs::canonical(folder + "/Bin").string();
    std::string program = bin + "/CorvaneChat.exe";
    std::string steps = read_text(trace);
    size_t swap = steps.find("rename " + program + ".stage " + program + "\n");
    ASSERT_NE(swap, std::string::npos) << steps;
    std::string before = steps.substr(0, swap);
    for (const std::string& step : {"chmod " + program + ".stage\n",
                                    "fsync " + program + ".stage\n", "fsync " + bin + "\n"}) {
        EXPECT_NE(before.find(step), std::string::npos) << step << steps;
    }
    EXPECT_NE(steps.find("fsync " + bin + "\n", swap), std::string::npos) << steps;
    EXPECT_EQ(steps.find("chmod " + program + "\n"), std::string::npos) << steps;
}

// Puts the demo chat program in place as an installed program file.
std::string install_demo_chat(const std::string& folder) {
    std::string program = folder + "/Bin/CorvaneChat.exe";
    fs::create_directories(folder + "/Bin");
    EXPECT_TRUE(test_write_file(program, demo_chat_bytes()));
    fs::permissions(program, fs::perms::owner_all);
    return program;
}

TEST_F(UiTest, LaunchWithAnEmptyTailPassesOnlyTheOwnPath) {
    install_demo_chat(home.file("data/CorvaneChat"));
    start_tool({});
    EXPECT_EQ(tool.expect("state:"),
              state_line("Launch!", true, true, true, false, home.file("data/CorvaneChat")));
    tool.send("install");
    EXPECT_EQ(tool.wait_exit(UI_EXIT_TIMEOUT_MS), 0) << tool.transcript();
    std::vector<std::string> expected = {"CorvaneChat.exe", "-bootstrap", CORVANE_UI_TOOL};
    EXPECT_EQ(recorded_arguments(), expected);
}

TEST_F(UiTest, ChatProgramThatCannotStartKeepsTheToolOpen) {
    std::string folder = home.file("A");
    std::string program = install_demo_chat(folder);
    start_tool_in(folder);
    EXPECT_EQ(tool.expect("state:"), state_line("Launch!", true, true, true, false, folder));
    // Not runnable: the start fails, nothing is reported, the tool stays.
    fs::permissions(program, fs::perms::owner_read);
    tool.send("install");
    tool.send("folder " + folder);  // a marker: answered only after the click
    close_and_expect_exit();
    EXPECT_FALSE(chat_started());
    EXPECT_TRUE(tool.lines_with("[").empty()) << tool.transcript();
    EXPECT_EQ(tool.lines_with("state:").back(),
              state_line("Launch!", true, true, true, false, folder));
}

// A folder that takes the program file's name during the download is the
// user's: the cycle fails and leaves it where it is.
TEST_F(UiTest, InstallNeverMovesAFolderInTheProgramFilesPlace) {
    start_server(SLOW_SERVER);
    publish(test_program_bytes(256 * 1024, 13));
    std::string folder = home.file("A");
    std::string program = folder + "/Bin/CorvaneChat.exe";
    start_tool_in(folder);
    tool.expect("state:");
    tool.send("install");
    ASSERT_TRUE(download_under_way(tool)) << tool.transcript();
    fs::create_directories(program);
    ASSERT_TRUE(test_write_file(program + "/inside.txt", "kept"));
    EXPECT_NE(tool.expect("[error] Corvane Chat Bootstrap: An error occured", UI_EXIT_TIMEOUT_MS),
              "")
        << tool.transcript();
    close_and_expect_exit();
    EXPECT_EQ(read_text(program + "/inside.txt"), "kept");
    EXPECT_FALSE(fs::exists(program + ".old"));
    EXPECT_FALSE(chat_started());
}

}  // namespace
