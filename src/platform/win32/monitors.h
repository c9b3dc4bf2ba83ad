// Where the screensaver's one window, spread over the whole virtual screen,
// draws the picture: once on every monitor, each at its own size.
#pragma once

#include <vector>

#include "platform/viewport.h"

namespace nebla::platform::win32 {

// The picture's rectangles in the window's client area, one a monitor in
// the order given, placed as platform::picturesOnMonitors places them: the
// largest whole multiple that fits the monitor (its plain fit when the
// monitor is smaller than the picture), centred on it. virtualScreen and
// the monitors are in screen coordinates, where the virtual screen may
// start left of or above the primary monitor's corner. Monitors without
// area are left out; with none at all, the whole virtual screen counts as
// one.
std::vector<Rect> picturesOnMonitors(const Rect& virtualScreen, const std::vector<Rect>& monitors,
                                     int imageWidth, int imageHeight);

}  // namespace nebla::platform::win32
