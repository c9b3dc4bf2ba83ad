// The outro picture's slide: which picture row stands at the top of the
// screen in each of the 90 steps.
#pragma once

#include <array>

namespace nebla::display {

// Rows of both eased phases in order, with the slide parameter built by
// repeated addition of 0.2 (a multiplied step count would differ).
std::array<int, 90> outroRows();

}  // namespace nebla::display
