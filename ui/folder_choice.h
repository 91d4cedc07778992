// The Browse button: the folder picker and the rule that turns the chosen
// folder into the install folder.
#pragma once

#include "platform/platform.h"

extern const wchar_t UI_PICKER_TITLE[];

// The picker's preset folder for install_folder, in display form (a scratch
// string): the folder itself when something exists there, else its parent,
// else "C:\".
const wchar_t* picker_initial_folder(const char* folder);

// The install folder for a chosen folder (internal form, scratch): the folder
// itself when its Bin holds the chat program or its last part is
// "CorvaneChat" (any case), else the folder with "CorvaneChat" appended.
const char* final_install_folder(const char* chosen);

void choose_install_folder(PlatformWindow owner);
