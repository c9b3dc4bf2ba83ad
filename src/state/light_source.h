// The light that follows the mouse: where it stands and how strong and far
// it shines. The light pass reads it every frame the light is on.
#pragma once

#include <cstdint>

namespace nebla::state {

struct LightSource {
  std::int32_t x = 320;
  std::int32_t y = 240;
  double reach = 1.0;
  double intensity = 1.0;

  // The window procedure moves the light on every mouse move.
  void setPosition(std::int32_t newX, std::int32_t newY) {
    x = newX;
    y = newY;
  }
  // The frame step sets both at the start of every frame.
  void setReach(double newReach) { reach = newReach; }
  void setIntensity(double newIntensity) { intensity = newIntensity; }
};

}  // namespace nebla::state
