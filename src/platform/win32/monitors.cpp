// The screensaver's pictures, one a monitor, in its window's coordinates.
#include "platform/win32/monitors.h"

namespace nebla::platform::win32 {

// The window covers the virtual screen, so a monitor sits in it at its
// offset from the virtual screen's corner; the placing is the root
// window's own.
std::vector<Rect> picturesOnMonitors(const Rect& virtualScreen, const std::vector<Rect>& monitors,
                                     int imageWidth, int imageHeight) {
  std::vector<Rect> inWindow;
  for (const Rect& m : monitors)
    inWindow.push_back({m.x - virtualScreen.x, m.y - virtualScreen.y, m.w, m.h});
  return platform::picturesOnMonitors(inWindow, virtualScreen.w, virtualScreen.h, imageWidth,
                                      imageHeight);
}

}  // namespace nebla::platform::win32
