// A virtual hand for when nobody is at the mouse: from a seed it plans
// spray strokes along smooth curves, the picture now and then, colour
// ramp changes and gusts of wind, as the input events a user would make.
// The same seed gives the same events at the same times, on every machine.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "platform/backend.h"

namespace nebla::platform::pilot {

class Autopilot {
 public:
  explicit Autopilot(std::uint32_t seed);

  // Appends the events due at or before `now`, oldest first, with their
  // times in InputEvent::time. Times are milliseconds on the caller's
  // clock, which may wrap past 2^32; the plan starts at the first call.
  // When more than a second has gone by since the previous call (a
  // suspended process, a machine asleep), the hand sits the stall out: its
  // plan moves up by the whole gap, and nothing it missed is played.
  // Never runs dry: the hand plans its next gesture as it goes.
  void take(DWORD now, std::vector<InputEvent>& out);

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
  void moveUp(DWORD by);

  std::uint64_t state_;
  std::optional<DWORD> lastTake_;
  DWORD planned_ = 0;     // the time the last planned gesture ends
  int sincePicture_ = 0;  // gestures planned since the last picture
  std::deque<InputEvent> events_;
};

}  // namespace nebla::platform::pilot
