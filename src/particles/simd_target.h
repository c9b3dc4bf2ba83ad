// The instruction sets the flow field's vector step is built for, and which
// one runs. Every set gives the same bits; the choice is only about speed.
#pragma once

namespace nebla::particles::simd {

enum class Target { Portable, Avx2, Avx512 };

// The set in use: at first the widest one this build holds and the
// processor runs.
Target currentTarget();
// Whether this build and this machine can run the set.
bool targetAvailable(Target target);
// Tests run every available set against the plain pass; false (and no
// change) for a set that is not available.
bool selectTarget(Target target);
const char* targetName(Target target);

}  // namespace nebla::particles::simd
