// The one random generator every effect draws from. It is never reseeded,
// so every run replays the same sequence.
#pragma once

#include <cstdint>

namespace nebla::particles {

// Next value, 0 to 32767. Emitters and the particle pass draw in a fixed
// order; that order is part of what makes runs repeatable.
std::int32_t rand();

// Puts the generator back to its start state. Only tests call this.
void resetRandomForTest();

}  // namespace nebla::particles
