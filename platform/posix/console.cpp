// What the console window needs to know about its terminal.
#include <unistd.h>

#include "platform/platform.h"

bool platform_stdout_is_terminal(void) {
    return isatty(STDOUT_FILENO) == 1;
}
