// The window's texts as the tool must show them, and the state helpers.
#include "tests/wine/wine_fixture.h"

const wchar_t WELCOME_TEXT[] =
    L"Welcome to the Corvane Chat installation and maintenance tool.\n\n"
    L"Corvane Chat is a portable application that is entirely self-contained within its own "
    L"folder. It does not install or require any system-wide components, and does not need to be "
    L"run as an administrator.\n\n"
    L"The default Corvane Chat folder is shown below. Using this location is recommended as it "
    L"simplifies troubleshooting support issues and allows third-party addons to easily locate "
    L"Corvane Chat. However, advanced users may choose to install in a custom location such as a "
    L"removable drive.";

const wchar_t TIP_TEXT[] =
    L"TIP: Remember that you can always find where Corvane Chat is installed by using the folder "
    L"button in the main Corvane Chat window.";

static std::string on_off(bool on) {
    return on ? "on" : "off";
}

std::string expected_state(const wchar_t* label, bool install, bool repair, bool uninstall,
                           bool cancel, bool folder_controls) {
    return narrow(label) + " install=" + on_off(install) + " repair=" + on_off(repair) +
           " uninstall=" + on_off(uninstall) + " cancel=" + on_off(cancel) +
           " folder=" + on_off(folder_controls) + " browse=" + on_off(folder_controls);
}

std::string button_state(const WinTool& tool) {
    ControlInfo install = tool.control(ID_INSTALL);
    return narrow(install.text) + " install=" + on_off(install.enabled) +
           " repair=" + on_off(tool.control(ID_REPAIR).enabled) +
           " uninstall=" + on_off(tool.control(ID_UNINSTALL).enabled) +
           " cancel=" + on_off(tool.control(ID_CANCEL).enabled) +
           " folder=" + on_off(tool.control(ID_FOLDER_BOX).enabled) +
           " browse=" + on_off(tool.control(ID_BROWSE).enabled);
}

void press(const WinTool& tool, int id) {
    HWND button = GetDlgItem(tool.window(), id);
    ASSERT_NE(button, nullptr) << "no control " << id;
    ASSERT_TRUE(PostMessageW(button, BM_CLICK, 0, 0));
}

void post_command(const WinTool& tool, int id, int code) {
    HWND control = GetDlgItem(tool.window(), id);
    ASSERT_NE(control, nullptr) << "no control " << id;
    ASSERT_TRUE(PostMessageW(tool.window(), WM_COMMAND, MAKEWPARAM(id, code), (LPARAM)control));
}
