// Repair: backup, reset files, the cycle, keep or restore; and the mends
// for clicks during its wait. Answering No, success, a failed download, a
// leftover backup and closing during the wait are rows of the operation
// table (operation_cases.h).
#include "tests/ui/ui_fixture.h"

namespace {

const char OLD_PROGRAM[] = "the previous program file";
const char SLOW_SERVER[] = "limit_rate 64k;";
const char REPAIR_QUESTION[] = "[question] Corvane Chat: The Corvane Chat program will be checked";
const char REPAIR_SUCCESS[] =
    "[information] Corvane Chat: The repair process completed successfully.";
const char REPAIR_FAILURE[] = "[error] Corvane Chat: There was a problem repairing Corvane Chat.";

// Files Repair resets, and files it leaves alone.
const char* const reset_files[] = {"Bin/CorvaneChatClient.exe", "Qorbs/CorvaneChat.qorb",
                                   "Config/emote.cfg",          "Config/string.cfg",
                                   "Config/travel.cfg",         "Config/zone.cfg"};
const char* const kept_files[] = {"Config/CorvaneChat.cfg", "Config/user.cfg", "Bin/notes.txt"};

class RepairTest : public UiTest {
  protected:
    std::string make_installation() {
        std::vector<std::pair<std::string, std::string>> files = {
            {"Bin/CorvaneChat.exe", OLD_PROGRAM}};
        for (const char* f : reset_files) {
            files.push_back({f, f});
        }
        for (const char* f : kept_files) {
            files.push_back({f, f});
        }
        folder = make_folder("A", files);
        program = folder + "/Bin/CorvaneChat.exe";
        return folder;
    }
    void start_and_repair() {
        start_tool_in(folder);
        EXPECT_EQ(tool.expect("state:"), state_line("Launch!", true, true, true, false, folder));
        tool.send("repair");
        EXPECT_NE(tool.expect(REPAIR_QUESTION), "") << tool.transcript();
        tool.send("yes");
    }
    void expect_kept_files() {
        for (const char* f : kept_files) {
            EXPECT_EQ(read_text(folder + "/" + f), f) << f;
        }
    }
    std::string folder, program;
};

// The files after a successful Repair are a row of the operation table;
// here the buttons through the cycle, and that nothing is started.
TEST_F(RepairTest, SuccessShowsCancelOnlyDuringTheCycleAndStartsNothing) {
    start_server();
    publish(test_program_bytes(30000, 3));
    make_installation();
    start_and_repair();
    EXPECT_EQ(tool.expect("state:"), state_line("Launch!", false, true, true, true, folder));
    EXPECT_NE(tool.expect(REPAIR_SUCCESS), "") << tool.transcript();
    EXPECT_EQ(tool.expect("state:"), state_line("Launch!", true, true, true, false, folder));
    close_and_expect_exit();
    EXPECT_FALSE(chat_started());
}

TEST_F(RepairTest, BadSignatureIsAFailedCycleToo) {
    start_server();
    publish(test_program_bytes(20000, 4));
    // The file served is not the one signed.
    ASSERT_TRUE(test_write_file(www.file("CorvaneChat.exe"), test_program_bytes(20000, 5)));
    make_installation();
    start_and_repair();
    EXPECT_NE(tool.expect(REPAIR_FAILURE), "") << tool.transcript();
    close_and_expect_exit();
    EXPECT_EQ(read_text(program), OLD_PROGRAM);
    EXPECT_FALSE(fs::exists(program + ".repair"));
    EXPECT_FALSE(fs::exists(program + ".stage"));
}

// A Repair the process did not finish, before or after its swap: the first
// window already shows the recovered program file (Launch!), and Repair
// works again.
class UnfinishedRepairTest : public RepairTest, public ::testing::WithParamInterface<bool> {};

TEST_P(UnfinishedRepairTest, StartUpSettlesTheBackup) {
    bool swapped = GetParam();
    start_server();
    std::string fresh = test_program_bytes(20000, 11);
    publish(fresh);
    make_installation();
    fs::rename(program, program + ".repair");
    if (swapped) {
        ASSERT_TRUE(test_write_file(program, "the new program file"));
    }
    start_and_repair();
    EXPECT_NE(tool.expect(REPAIR_SUCCESS), "") << tool.transcript();
    close_and_expect_exit();
    EXPECT_TRUE(read_text(program) == fresh);
    EXPECT_FALSE(fs::exists(program + ".repair"));
}

INSTANTIATE_TEST_SUITE_P(BeforeAndAfterTheSwap, UnfinishedRepairTest, ::testing::Bool());

// A folder in the program file's place is the user's: Repair fails at
// once and leaves it where it is.
TEST_F(RepairTest, FolderInTheProgramFilesPlaceIsNeverMoved) {
    start_server();
    publish(test_program_bytes(20000, 12));
    folder = make_folder(
        "A", {{"Bin/CorvaneChat.exe/inside.txt", "kept"}, {"Config/zone.cfg", "Config/zone.cfg"}});
    program = folder + "/Bin/CorvaneChat.exe";
    start_and_repair();
    EXPECT_NE(tool.expect(REPAIR_FAILURE), "") << tool.transcript();
    close_and_expect_exit();
    EXPECT_TRUE(tool.lines_with("progress:").empty()) << tool.transcript();
    EXPECT_EQ(read_text(program + "/inside.txt"), "kept");
    EXPECT_FALSE(fs::exists(program + ".repair"));
    EXPECT_EQ(read_text(folder + "/Config/zone.cfg"), "Config/zone.cfg");
}

TEST_F(RepairTest, EndOfInputAnswersNoAndCloses) {
    make_installation();
    start_tool_in(folder);
    tool.expect("state:");
    tool.send("repair");
    EXPECT_NE(tool.expect(REPAIR_QUESTION), "");
    tool.close_input();
    EXPECT_EQ(tool.wait_exit(), 0) << tool.transcript();
    EXPECT_EQ(read_text(program), OLD_PROGRAM);
    for (const char* f : reset_files) {
        EXPECT_EQ(read_text(folder + "/" + f), f) << f;
    }
}

TEST_F(RepairTest, RepairAndUninstallClicksDuringTheWaitDoNothing) {
    start_server(SLOW_SERVER);
    std::string fresh = test_program_bytes(400 * 1024, 9);
    publish(fresh);
    make_installation();
    start_and_repair();
    ASSERT_TRUE(download_under_way(tool)) << tool.transcript();
    size_t mark = tool.lines().size();
    tool.send("uninstall");
    tool.send("yes");
    tool.send("repair");
    tool.send("yes");
    tool.send("folder " + home.file("elsewhere"));  // the box is off as well
    EXPECT_NE(tool.expect(REPAIR_SUCCESS, UI_EXIT_TIMEOUT_MS), "") << tool.transcript();
    EXPECT_EQ(tool.expect("state:"), state_line("Launch!", true, true, true, false, folder));
    close_and_expect_exit();
    EXPECT_TRUE(tool.lines_with("[question]", mark).empty()) << tool.transcript();
    // Nothing recomputed the buttons in the middle of the wait.
    EXPECT_EQ(tool.lines_with("state:", mark).size(), 1u) << tool.transcript();
    EXPECT_EQ(read_text(program), fresh);
    EXPECT_FALSE(fs::exists(program + ".repair"));
    expect_kept_files();
}

}  // namespace
