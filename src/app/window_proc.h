// The window procedure: keys, mouse, activation, the decaying wind, the
// frame-rate measurement and the timer tick that runs each frame.
#pragma once

#include <cstdint>

#include "platform/user.h"

namespace nebla::state {
class Application;
}

namespace nebla::app {

// Process-wide values of the window procedure, all zero at start.
extern state::Application* application;
extern bool appActive;
extern bool pointerVisible;
extern std::uint32_t lastTick;
extern double keyWindX;
extern double keyWindY;

// Registered with the window class by the display set-up.
platform::LRESULT windowProc(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                             platform::LPARAM lParam);

// Puts the values above back to their start; only tests call this, since
// the program runs the window procedure once per process.
void resetWindowProcForTest();

}  // namespace nebla::app
