// The capture tool's progress line on a terminal: a bar, the frames so far
// and an estimate of the time left.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace nebla::tools {

class Progress {
 public:
  // Counts towards `frames` frame steps when given, otherwise towards
  // `virtualMs` of virtual time (the script's length, or the run's limit).
  // Draws nothing unless `shown`.
  Progress(std::optional<std::uint32_t> frames, std::uint32_t virtualMs, bool shown);

  // After each frame step; redraws at most ten times a second.
  void update(std::uint32_t frameSteps, std::uint32_t virtualTime);
  // Draws the bar full with the time the run took, and ends the line.
  void finish();

 private:
  double fraction(std::uint32_t frameSteps, std::uint32_t virtualTime) const;

  std::optional<std::uint32_t> frames_;
  std::uint32_t virtualMs_;
  bool shown_;
  bool drawn_ = false;
  std::uint32_t frameSteps_ = 0;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace nebla::tools
