// The console driver of the operation table: the boxes are the "[kind]
// caption: text" lines, the answers are input lines.
#include "tests/ui/operation_cases.h"
#include "tests/ui/ui_fixture.h"

namespace {

class OperationCaseTest : public UiTest, public ::testing::WithParamInterface<int> {};

TEST_P(OperationCaseTest, BoxesAnswersAndFiles) {
    const OperationCase& c = OPERATION_CASES[GetParam()];
    std::vector<std::pair<std::string, std::string>> files;
    for (const OperationFile& f : OPERATION_INSTALLATION) {
        if (c.held != nullptr && (std::string)f.path == c.held)
            files.push_back({std::string(f.path) + "/held.txt", "x"});
        else
            files.push_back({f.path, f.contents});
    }
    std::string folder = make_folder("A", files);
    std::string release = test_program_bytes(OPERATION_RELEASE_LENGTH, OPERATION_RELEASE_SEED);
    if (c.server != OPERATION_NO_SERVER)
        start_server();
    if (c.server == OPERATION_RELEASE)
        publish(release);
    start_tool_in(folder);
    EXPECT_EQ(tool.expect("state:"), state_line("Launch!", true, true, true, false, folder));
    tool.send(c.action == OPERATION_REPAIR ? "repair" : "uninstall");
    size_t mark = tool.lines().size();
    int shown = 0;
    for (const OperationBox& box : c.boxes) {
        if (box.kind == nullptr)
            break;
        std::string line = tool.expect("[");
        std::string wanted = std::string("[") + box.kind + "] " + box.caption + ": " + box.text;
        if (box.text_is_start) {
            EXPECT_EQ(line.rfind(wanted, 0), 0u) << tool.transcript();
        } else {
            EXPECT_EQ(line, wanted) << tool.transcript();
        }
        if ((std::string)box.answer != "ok")
            tool.send(box.answer);
        shown++;
    }
    // A changed label comes in a state line after the last box; wait for it
    // before closing. An unchanged one gives no line to wait for.
    std::string label_state = std::string("state: ") + c.label_after + " ";
    if ((std::string)c.label_after != "Launch!") {
        EXPECT_NE(tool.expect(label_state), "") << tool.transcript();
    }
    close_and_expect_exit();
    EXPECT_EQ(tool.lines_with("[", mark).size(), (size_t)shown) << tool.transcript();
    std::vector<std::string> states = tool.lines_with("state:");
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states.back().rfind(label_state, 0), 0u) << tool.transcript();

    for (const char* kept : c.kept) {
        if (kept == nullptr)
            break;
        for (const OperationFile& f : OPERATION_INSTALLATION) {
            if ((std::string)f.path == kept) {
                EXPECT_EQ(read_text(folder + "/" + kept), f.contents) << kept;
            }
        }
    }
    if (c.program_is_release) {
        EXPECT_TRUE(read_text(folder + "/Bin/CorvaneChat.exe") == release)
            << "the program is not the release";
    }
    for (const char* gone : c.gone) {
        if (gone == nullptr)
            break;
        EXPECT_FALSE(fs::exists(folder + "/" + gone)) << gone;
    }
}

std::string case_name(const ::testing::TestParamInfo<int>& param) {
    return OPERATION_CASES[param.param].name;
}

INSTANTIATE_TEST_SUITE_P(Table, OperationCaseTest, ::testing::Range(0, OPERATION_CASE_COUNT),
                         case_name);

}  // namespace
