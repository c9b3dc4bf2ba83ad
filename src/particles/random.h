// The one random generator every effect draws from. It is never reseeded,
// so every run replays the same sequence.
#pragma once

#include <cstdint>

namespace nebla::particles {

// Next value, 0 to 32767. Emitters and the particle pass draw in a fixed
// order; that order is part of what makes runs repeatable.
std::int32_t rand();

// The next `count` values, in order: what `count` calls of rand() give.
// The particle pass draws a batch at a time.
void drawRandom(std::int32_t* values, int count);

// The same from a state the caller holds, which it advances: the particle
// pass draws for two stretches of its walk at once.
void drawRandom(std::uint32_t& state, std::int32_t* values, int count);
// The state `draws` values after `state`, found in a few dozen steps.
std::uint32_t randomStateAfter(std::uint32_t state, std::uint64_t draws);

// The generator's state, and setting it: the particle pass draws from a
// copy and puts back where its draws ended, and tests replay a pass from
// the same state.
std::uint32_t randomState();
void setRandomState(std::uint32_t state);

// Puts the generator back to its start state. Only tests call this.
void resetRandomForTest();

}  // namespace nebla::particles
