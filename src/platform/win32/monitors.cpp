// The screensaver's pictures, one a monitor, in its window's coordinates.
#include "platform/win32/monitors.h"

namespace nebla::platform::win32 {

std::vector<Rect> picturesOnMonitors(const Rect& virtualScreen, const std::vector<Rect>& monitors,
                                     int imageWidth, int imageHeight) {
  std::vector<Rect> pictures;
  for (const Rect& monitor : monitors) {
    if (monitor.w <= 0 || monitor.h <= 0) continue;
    Rect picture = fitWholeMultiple(monitor.w, monitor.h, imageWidth, imageHeight);
    picture.x += monitor.x - virtualScreen.x;
    picture.y += monitor.y - virtualScreen.y;
    pictures.push_back(picture);
  }
  if (pictures.empty() && virtualScreen.w > 0 && virtualScreen.h > 0)
    pictures.push_back(fitWholeMultiple(virtualScreen.w, virtualScreen.h, imageWidth, imageHeight));
  return pictures;
}

}  // namespace nebla::platform::win32
