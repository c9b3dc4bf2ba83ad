// The progress line: a bar, frame steps and the time left.
#include "progress.h"

#include <algorithm>
#include <cstdio>

namespace nebla::tools {

Progress::Progress(std::optional<std::uint32_t> frames, std::uint32_t virtualMs, bool shown)
    : frames_(frames), virtualMs_(std::max<std::uint32_t>(virtualMs, 1)), shown_(shown) {}

double Progress::fraction(std::uint32_t frameSteps, std::uint32_t virtualTime) const {
  double f = frames_ ? static_cast<double>(frameSteps) / *frames_
                     : static_cast<double>(virtualTime) / virtualMs_;
  return std::clamp(f, 0.0, 1.0);
}

void Progress::update(std::uint32_t frameSteps, std::uint32_t virtualTime) {
  frameSteps_ = frameSteps;
  if (!shown_) return;
  auto now = std::chrono::steady_clock::now();
  if (drawn_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = now;
  drawn_ = true;
  double done = fraction(frameSteps, virtualTime);
  double elapsed = std::chrono::duration<double>(now - start_).count();
  constexpr int kWidth = 40;
  int filled = static_cast<int>(done * kWidth);
  std::fprintf(stderr, "\r[%.*s%*s] %u frame steps", filled,
               "########################################", kWidth - filled, "", frameSteps);
  if (done > 0.02)
    std::fprintf(stderr, ", about %.0f s left  ", elapsed * (1.0 - done) / done + 0.5);
  else
    std::fputs("                  ", stderr);
}

void Progress::finish() {
  if (!drawn_) return;
  double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  std::fprintf(stderr,
               "\r[########################################] %u frame steps in %.1f s      \n",
               frameSteps_, elapsed);
}

}  // namespace nebla::tools
