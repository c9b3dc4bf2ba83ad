// The program's entry function, shared by the windowed executable and the
// headless capture tool.
#pragma once

#include "platform/user.h"

namespace nebla::app {

// Runs the whole program on the installed platform backend: log, set-up,
// message loop, outro, teardown. Returns 0 after a normal quit and 1 when
// the program could not start (its reason is in the log and on stderr).
int WinMain(platform::HINSTANCE instance, platform::HINSTANCE previous, char* commandLine,
            int show);

// Whether WinMain plays the outro when its loop ends (it does unless told
// otherwise). A screensaver or a wallpaper in another program's window
// ends at once when asked to, with nothing to say goodbye to.
void playOutro(bool play);

}  // namespace nebla::app
