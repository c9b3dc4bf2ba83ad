// The program's entry function, shared by the windowed executable and the
// headless capture tool.
#pragma once

#include "platform/user.h"

namespace nebla::app {

// Runs the whole program on the installed platform backend: log, set-up,
// message loop, outro, teardown. Returns 0 after a normal quit and 1 when
// the program could not start (its reason is in the log and on stderr).
// When the session ends (GetSystemMetrics(SM_SHUTTINGDOWN): a screensaver
// dismissed, the window drawn into gone) it ends at once with 0: the
// set-up's pause is cut short and no outro plays.
int WinMain(platform::HINSTANCE instance, platform::HINSTANCE previous, char* commandLine,
            int show);

}  // namespace nebla::app
