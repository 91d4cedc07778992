// The console driver of the operation table: the boxes are the "[kind]
// caption: text" lines, the answers are input lines.
#include "tests/ui/operation_cases.h"
#include "tests/ui/ui_fixture.h"

namespace {

const char SLOW_SERVER[] = "limit_rate 64k;";

class OperationCaseTest : public UiTest, public ::testing::WithParamInterface<int> {
  protected:
    std::vector<std::string> shortcuts() const {
        return {home.file("data/applications/Corvane Chat.lnk"),
                home.file("Desktop/Corvane Chat.lnk")};
    }
};

// What a file of the installation holds before the case.
std::string contents_before(const OperationCase& c, const OperationFile& f) {
    if ((c.action == OPERATION_LAUNCH || c.chat_running) &&
        (std::string)f.path == "Bin/CorvaneChat.exe") {
        return demo_chat_bytes();
    }
    return f.contents;
}

TEST_P(OperationCaseTest, BoxesAnswersAndFiles) {
    const OperationCase& c = OPERATION_CASES[GetParam()];
    std::string folder;
    if (c.folder == OPERATION_FOLDER_INSTALLED) {
        std::vector<std::pair<std::string, std::string>> files;
        for (const OperationFile& f : OPERATION_INSTALLATION) {
            if (c.held != nullptr && (std::string)f.path == c.held) {
                files.push_back({std::string(f.path) + "/held.txt", "x"});
            } else {
                files.push_back({f.path, contents_before(c, f)});
            }
        }
        folder = make_folder("A", files);
        fs::permissions(folder + "/Bin/CorvaneChat.exe", fs::perms::owner_all);
    } else if (c.folder == OPERATION_FOLDER_NEW) {
        folder = home.file("New/deep/Corvane Chat");
    } else {
        ASSERT_EQ(c.folder, OPERATION_FOLDER_UNDER_FILE);
        folder = make_folder("x", {{"file", "not a folder"}}) + "/file/CorvaneChat";
    }
    for (const std::string& shortcut : shortcuts()) {
        if (c.shortcuts != OPERATION_NO_SHORTCUTS) {
            fs::create_directories(fs::path(shortcut).parent_path());
            ASSERT_TRUE(test_write_file(shortcut, "shortcut"));
        }
    }
    std::string release = test_program_bytes(OPERATION_RELEASE_LENGTH, OPERATION_RELEASE_SEED);
    if (c.server == OPERATION_CHAT_RELEASE) {
        release = demo_chat_bytes();
    }
    if (c.server == OPERATION_SLOW_RELEASE) {
        release = test_program_bytes(OPERATION_SLOW_RELEASE_LENGTH, OPERATION_RELEASE_SEED);
    }
    if (c.server != OPERATION_NO_SERVER) {
        start_server(c.server == OPERATION_SLOW_RELEASE ? SLOW_SERVER : "");
    }
    if (c.server == OPERATION_RELEASE || c.server == OPERATION_CHAT_RELEASE ||
        c.server == OPERATION_SLOW_RELEASE) {
        publish(release);
    }

    std::vector<std::string> arguments = {"-cvdir", folder};
    for (const char* argument : c.arguments) {
        if (argument != nullptr) {
            arguments.push_back(argument);
        }
    }
    start_tool(arguments);
    bool installed = c.folder == OPERATION_FOLDER_INSTALLED;
    EXPECT_EQ(tool.expect("state:"), state_line(installed ? "Launch!" : "Install", true, installed,
                                                installed, false, folder));
    // Start-up has settled the folder before the first state.
    if (c.leftover.path != nullptr) {
        ASSERT_TRUE(test_write_file(folder + "/" + c.leftover.path, c.leftover.contents));
    }
    if (c.action == OPERATION_REPAIR) {
        tool.send("repair");
    } else if (c.action == OPERATION_UNINSTALL) {
        tool.send("uninstall");
    } else {
        tool.send("install");
    }
    size_t mark = tool.lines().size();
    size_t at = mark;
    int shown = 0;
    for (const OperationBox& box : c.boxes) {
        if (box.kind == nullptr) {
            break;
        }
        std::string line = tool.expect("[");
        std::string wanted = std::string("[") + box.kind + "] " + box.caption + ": " + box.text;
        if (box.text_is_start) {
            EXPECT_EQ(line.rfind(wanted, 0), 0u) << tool.transcript();
        } else {
            EXPECT_EQ(line, wanted) << tool.transcript();
        }
        // The window behind the box is the last state line before it.
        const std::vector<std::string>& lines = tool.lines();
        while (lines[at].rfind("[", 0) != 0) {
            at++;
        }
        std::string behind;
        for (size_t i = 0; i < at; i++) {
            behind = lines[i].rfind("state:", 0) == 0 ? lines[i] : behind;
        }
        at++;
        EXPECT_EQ(behind.find(" install=off") != std::string::npos &&
                      behind.find(" cancel=on ") != std::string::npos,
                  box.busy)
            << line << "\n"
            << behind;
        if ((std::string)box.answer != "ok") {
            tool.send(box.answer);
        }
        shown++;
    }
    if (c.server == OPERATION_SLOW_RELEASE) {
        ASSERT_TRUE(download_under_way(tool)) << tool.transcript();
        ASSERT_TRUE(fs::exists(folder + "/Bin/CorvaneChat.exe.stage"));
        tool.send(c.cancel_download ? "cancel" : "close");
        EXPECT_EQ(tool.wait_exit(10000), 0) << tool.transcript();
    } else if (c.label_after == nullptr) {
        EXPECT_EQ(tool.wait_exit(UI_EXIT_TIMEOUT_MS), 0) << tool.transcript();
    } else {
        // The idle state after the operation comes in a state line after the
        // last box, when the operation changed the buttons (the console
        // shows a state when it changes); wait for the whole line before
        // closing, as one during the wait has the same label.
        bool launch = (std::string)c.label_after == "Launch!";
        std::string idle = state_line(c.label_after, true, launch, launch, false, folder);
        bool left_idle = launch != installed;
        for (const std::string& line : tool.lines_with("state:", mark)) {
            left_idle = left_idle || line.find(" cancel=on ") != std::string::npos;
        }
        if (left_idle) {
            EXPECT_NE(tool.expect(idle), "") << tool.transcript();
        }
        close_and_expect_exit();
        std::vector<std::string> states = tool.lines_with("state:");
        ASSERT_FALSE(states.empty());
        EXPECT_EQ(states.back(), idle) << tool.transcript();
    }
    EXPECT_EQ(tool.lines_with("[", mark).size(), (size_t)shown) << tool.transcript();
    if (c.progress == OPERATION_PROGRESS_NONE) {
        EXPECT_TRUE(tool.lines_with("progress:").empty()) << tool.transcript();
    } else if (c.progress == OPERATION_PROGRESS_ERROR) {
        EXPECT_EQ(tool.lines_with("progress: error").size(), 1u) << tool.transcript();
    }

    for (const char* kept : c.kept) {
        if (kept == nullptr) {
            break;
        }
        EXPECT_TRUE(fs::exists(folder + "/" + kept)) << kept;
        for (const OperationFile& f : OPERATION_INSTALLATION) {
            if ((std::string)f.path == kept) {
                EXPECT_TRUE(read_text(folder + "/" + kept) == contents_before(c, f)) << kept;
            }
        }
    }
    if (c.leftover.path != nullptr) {
        EXPECT_EQ(read_text(folder + "/" + c.leftover.path), c.leftover.contents);
    }
    if (c.program_is_release) {
        EXPECT_TRUE(read_text(folder + "/Bin/CorvaneChat.exe") == release)
            << "the program is not the release";
    }
    for (const char* gone : c.gone) {
        if (gone == nullptr) {
            break;
        }
        EXPECT_FALSE(fs::exists(folder + "/" + gone)) << gone;
    }
    for (const std::string& shortcut : shortcuts()) {
        EXPECT_EQ(fs::exists(shortcut), c.shortcuts == OPERATION_SHORTCUTS_KEPT) << shortcut;
    }
    if (c.chat_started) {
        std::vector<std::string> expected = arguments;
        expected.insert(expected.begin(), "CorvaneChat.exe");
        expected.push_back("-bootstrap");
        expected.push_back(c.own_path != nullptr ? c.own_path : CORVANE_UI_TOOL);
        EXPECT_EQ(recorded_arguments(), expected);
    } else {
        EXPECT_FALSE(chat_started());
    }
}

std::vector<int> console_cases() {
    std::vector<int> cases;
    for (int i = 0; i < OPERATION_CASE_COUNT; i++) {
        if (OPERATION_CASES[i].drivers == OPERATION_BOTH_DRIVERS) {
            cases.push_back(i);
        }
    }
    return cases;
}

std::string case_name(const ::testing::TestParamInfo<int>& param) {
    return OPERATION_CASES[param.param].name;
}

INSTANTIATE_TEST_SUITE_P(Table, OperationCaseTest, ::testing::ValuesIn(console_cases()), case_name);

}  // namespace
