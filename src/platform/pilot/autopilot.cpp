// The virtual hand's gestures, planned one at a time from its own
// generator (the program's random numbers are left alone).
#include "platform/pilot/autopilot.h"

#include <cmath>
#include <cstdint>

#include "platform/user.h"

namespace nebla::platform::pilot {
namespace {

// The picture the program shows is 640 x 480; the hand keeps a margin so
// that its strokes stay visible.
constexpr double kLeft = 40;
constexpr double kTop = 40;
constexpr double kWidth = 560;
constexpr double kHeight = 400;
constexpr DWORD kMoveEvery = 25;  // milliseconds between mouse moves
// A running program looks at its input at least every timer tick (50 ms),
// and a slow frame step delays that by a fraction of a second; a longer gap
// means the process was not running.
constexpr DWORD kLongestGap = 1000;

double bezier(double a, double b, double c, double d, double t) {
  double u = 1.0 - t;
  return u * u * u * a + 3.0 * u * u * t * b + 3.0 * u * t * t * c + t * t * t * d;
}

// Whether `time` has come at `now` on a clock that wraps past 2^32. Planned
// times lie seconds from now, never half the clock's round away.
bool due(DWORD time, DWORD now) { return static_cast<std::int32_t>(now - time) >= 0; }

}  // namespace

Autopilot::Autopilot(std::uint32_t seed) : state_(0x9E3779B97F4A7C15ull ^ seed) {}

// A 64-bit linear congruential generator; the high bits are the good ones.
std::uint32_t Autopilot::draw(std::uint32_t below) {
  state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
  return static_cast<std::uint32_t>(state_ >> 33) % below;
}

Autopilot::Point Autopilot::somewhere() {
  return {kLeft + draw(static_cast<std::uint32_t>(kWidth)),
          kTop + draw(static_cast<std::uint32_t>(kHeight))};
}

void Autopilot::add(InputEvent::Kind kind, int key, Point at) {
  events_.push_back({kind, key, static_cast<int>(std::lround(at.x)),
                     static_cast<int>(std::lround(at.y)), planned_});
}

void Autopilot::take(DWORD now, std::vector<InputEvent>& out) {
  if (!lastTake_)
    planned_ = now;
  else if (now - *lastTake_ > kLongestGap)
    moveUp(now - *lastTake_);
  lastTake_ = now;
  for (;;) {
    if (events_.empty()) plan();
    if (!due(events_.front().time, now)) return;
    out.push_back(events_.front());
    events_.pop_front();
  }
}

// The gestures not yet played resume where the stall found them.
void Autopilot::moveUp(DWORD by) {
  planned_ += by;
  for (InputEvent& e : events_) e.time += by;
}

// A pause, then one gesture; strokes are the most common, as they are for
// a person at the mouse, and the picture comes at least every eighth time.
void Autopilot::plan() {
  planned_ += 200 + draw(700);
  std::uint32_t pick = draw(100);
  ++sincePicture_;
  if (sincePicture_ >= 8 || (pick >= 55 && pick < 70)) {
    sincePicture_ = 0;
    planPicture();
  } else if (pick < 55) {
    planStroke();
  } else if (pick < 82) {
    planRamp();
  } else {
    planGust();
  }
}

// The left button held along a cubic curve through the picture.
void Autopilot::planStroke() {
  Point a = somewhere(), b = somewhere(), c = somewhere(), d = somewhere();
  DWORD length = 1200 + draw(2400);
  add(InputEvent::Kind::MouseMove, 0, a);
  planned_ += 1;
  add(InputEvent::Kind::LeftDown, 0, a);
  for (DWORD t = kMoveEvery; t <= length; t += kMoveEvery) {
    double s = static_cast<double>(t) / length;
    planned_ += kMoveEvery;
    add(InputEvent::Kind::MouseMove, 0,
        {bezier(a.x, b.x, c.x, d.x, s), bezier(a.y, b.y, c.y, d.y, s)});
  }
  planned_ += 1;
  add(InputEvent::Kind::LeftUp, 0, d);
}

// The right button held while the hand drifts a little.
void Autopilot::planPicture() {
  Point from = somewhere();
  Point drift{static_cast<double>(draw(81)) - 40.0, static_cast<double>(draw(61)) - 30.0};
  DWORD length = 600 + draw(1000);
  add(InputEvent::Kind::MouseMove, 0, from);
  planned_ += 1;
  add(InputEvent::Kind::RightDown, 0, from);
  Point at = from;
  for (DWORD t = kMoveEvery; t <= length; t += kMoveEvery) {
    double s = static_cast<double>(t) / length;
    at = {from.x + drift.x * s, from.y + drift.y * s};
    planned_ += kMoveEvery;
    add(InputEvent::Kind::MouseMove, 0, at);
  }
  planned_ += 1;
  add(InputEvent::Kind::RightUp, 0, at);
}

// One of the ten ramps, by its digit key.
void Autopilot::planRamp() {
  int key = '0' + static_cast<int>(draw(10));
  add(InputEvent::Kind::KeyDown, key, {0, 0});
  planned_ += 60;
  add(InputEvent::Kind::KeyUp, key, {0, 0});
}

// A few presses of one cursor key.
void Autopilot::planGust() {
  static constexpr int kKeys[] = {VK_LEFT, VK_UP, VK_RIGHT, VK_DOWN};
  int key = kKeys[draw(4)];
  std::uint32_t presses = 3 + draw(6);
  for (std::uint32_t i = 0; i < presses; ++i) {
    add(InputEvent::Kind::KeyDown, key, {0, 0});
    planned_ += 40;
    add(InputEvent::Kind::KeyUp, key, {0, 0});
    planned_ += 40;
  }
}

}  // namespace nebla::platform::pilot
