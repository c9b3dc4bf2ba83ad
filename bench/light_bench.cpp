// Cost of one light pass over a busy 640 x 480 density image, with the light
// in the middle of the screen and near a corner (longer rays).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "effects/light.h"
#include "particles/helper_thread.h"
#include "state/light_source.h"

namespace {

constexpr std::int32_t kWidth = 640;
constexpr std::int32_t kHeight = 480;
constexpr std::int32_t kPitch = 704;

// Smoke-like densities: a fixed linear congruential sequence, thinned so
// that most brightened values stay below the cap as in a real frame.
std::vector<std::uint8_t> busyImage() {
  std::vector<std::uint8_t> image(static_cast<std::size_t>(kPitch) * kHeight, 0);
  std::uint32_t state = 12345;
  for (std::int32_t y = 0; y < kHeight; ++y) {
    for (std::int32_t x = 0; x < kWidth; ++x) {
      state = state * 1664525u + 1013904223u;
      image[static_cast<std::size_t>(y * kPitch + x)] =
          static_cast<std::uint8_t>((state >> 24) % 96);
    }
  }
  return image;
}

void castLightPass(benchmark::State& state, std::int32_t lightX, std::int32_t lightY,
                   bool reference = false, bool helper = false) {
  nebla::particles::HelperThread::setEnabled(helper);
  if (helper && nebla::particles::HelperThread::get() == nullptr) {
    state.SkipWithError("no helper thread on this machine");
    return;
  }
  const std::vector<std::uint8_t> source = busyImage();
  std::vector<std::uint8_t> destination(source.size(), 0);
  nebla::state::LightSource light;
  light.setPosition(lightX, lightY);
  light.setIntensity(0.8);
  light.setReach(0.9);
  for (auto _ : state) {
    if (reference) {
      nebla::effects::castLightReference(light, {source.data(), kPitch},
                                         {destination.data(), kPitch}, kWidth, kHeight);
    } else {
      nebla::effects::castLight(light, {source.data(), kPitch}, {destination.data(), kPitch},
                                kWidth, kHeight);
    }
    benchmark::DoNotOptimize(destination.data());
    benchmark::ClobberMemory();
  }
  nebla::particles::HelperThread::setEnabled(false);
}

BENCHMARK_CAPTURE(castLightPass, referenceCentre, 320, 240, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(castLightPass, referenceNearCorner, 24, 18, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(castLightPass, centre, 320, 240)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(castLightPass, nearCorner, 24, 18)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(castLightPass, centreTwoThreads, 320, 240, false, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(castLightPass, nearCornerTwoThreads, 24, 18, false, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
