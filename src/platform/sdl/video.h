// What the two SDL backends (a window of their own, another program's
// window) share: starting SDL's video and reporting SDL's failures.
#pragma once

#include <string>

#include "platform/sdl/presenter.h"
#include "platform/types.h"

namespace nebla::platform::sdl {

// Starts SDL's video for a display that can be seen. False after telling
// on stderr why not: SDL's reason, or the display it could not connect to
// (the one DISPLAY or WAYLAND_DISPLAY names, or that neither is set). Some
// SDL builds fall back to a driver that draws nowhere when no display is
// reachable; only a user who asks for such a driver by name gets it.
bool startVideo();

// Prints the failure with SDL's reason (SDL leaves its text empty for some
// failures, and the line then says so) beside the program's own line in
// the log, which cannot know it.
void reportSdlFailure(const std::string& what);

// SetDisplayMode: the presenter prepares a picture of this size; only
// 8-bit modes are there. False after reporting SDL's reason.
bool prepareMode(Presenter& presenter, DWORD width, DWORD height, DWORD bitsPerPixel);

}  // namespace nebla::platform::sdl
