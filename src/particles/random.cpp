// Linear congruential generator: state * 214013 + 2531011 (mod 2^32),
// result bits 16..30.
#include "particles/random.h"

namespace nebla::particles {
namespace {
std::uint32_t state = 1;
}  // namespace

std::int32_t rand() {
  state = state * 214013u + 2531011u;
  return static_cast<std::int32_t>((state >> 16) & 0x7FFF);
}

void drawRandom(std::int32_t* values, int count) {
  std::uint32_t s = state;
  for (int i = 0; i < count; ++i) {
    s = s * 214013u + 2531011u;
    values[i] = static_cast<std::int32_t>((s >> 16) & 0x7FFF);
  }
  state = s;
}

std::uint32_t randomState() { return state; }

void setRandomState(std::uint32_t value) { state = value; }

void resetRandomForTest() { state = 1; }

}  // namespace nebla::particles
