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

void drawRandom(std::int32_t* values, int count) { drawRandom(state, values, count); }

// Four interleaved streams, each stepping four states at once (the
// recurrence applied four times is again a multiply and an add), give the
// same sequence without one long chain of dependent multiplications.
void drawRandom(std::uint32_t& from, std::int32_t* values, int count) {
  constexpr std::uint32_t kA = 214013u, kC = 2531011u;
  constexpr std::uint32_t kA2 = kA * kA, kC2 = kC * kA + kC;
  constexpr std::uint32_t kA4 = kA2 * kA2, kC4 = kC2 * kA2 + kC2;
  auto result = [](std::uint32_t s) { return static_cast<std::int32_t>((s >> 16) & 0x7FFF); };
  std::uint32_t now = from;  // the state after the values drawn so far
  int i = 0;
  if (count >= 4) {
    std::uint32_t s[4];
    s[0] = now * kA + kC;
    for (int j = 1; j < 4; ++j) s[j] = s[j - 1] * kA + kC;
    for (; i + 4 <= count; i += 4) {
      for (int j = 0; j < 4; ++j) values[i + j] = result(s[j]);
      now = s[3];
      for (int j = 0; j < 4; ++j) s[j] = s[j] * kA4 + kC4;
    }
  }
  for (; i < count; ++i) {
    now = now * kA + kC;
    values[i] = result(now);
  }
  from = now;
}

// The step is s -> a * s + c; doubling composes it with itself, so the
// steps for the set bits of `draws` give any distance.
std::uint32_t randomStateAfter(std::uint32_t s, std::uint64_t draws) {
  std::uint32_t a = 214013u, c = 2531011u;
  for (; draws != 0; draws >>= 1) {
    if ((draws & 1) != 0) s = s * a + c;
    c = c * a + c;
    a = a * a;
  }
  return s;
}

std::uint32_t randomState() { return state; }

void setRandomState(std::uint32_t value) { state = value; }

void resetRandomForTest() { state = 1; }

}  // namespace nebla::particles
