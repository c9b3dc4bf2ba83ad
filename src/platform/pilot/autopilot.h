// A virtual hand for when nobody is at the mouse: from a seed it plans
// spray strokes along smooth curves, the picture now and then, colour
// ramp changes and gusts of wind, as the input events a user would make.
// The same seed gives the same events at the same times, on every machine.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "platform/backend.h"

namespace nebla::platform::pilot {

class Autopilot {
 public:
  explicit Autopilot(std::uint32_t seed);

  // Appends the events planned at or before `elapsed` milliseconds after
  // the hand started, oldest first, with those times in InputEvent::time.
  // Never runs dry: the hand plans its next gesture as it goes.
  void take(DWORD elapsed, std::vector<InputEvent>& out);

 private:
  struct Point {
    double x;
    double y;
  };

  std::uint32_t draw(std::uint32_t below);
  Point somewhere();
  void plan();
  void planStroke();
  void planPicture();
  void planRamp();
  void planGust();
  void add(InputEvent::Kind kind, int key, Point at);

  std::uint64_t state_;
  DWORD planned_ = 0;     // the time the last planned gesture ends
  int sincePicture_ = 0;  // gestures planned since the last picture
  std::deque<InputEvent> events_;
};

}  // namespace nebla::platform::pilot
