// The wide Windows entry point: the instance, the command tail exactly as
// the system passed it, and the runtime's wide argument vector.
#include <windows.h>

#include <stdlib.h>

#include "platform/platform.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR tail, int show) {
    (void)previous;
    (void)show;  // the window is always shown plainly
    return bootstrap_main(instance, tail, __argc, __wargv);
}
