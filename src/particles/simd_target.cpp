// Chooses the instruction set for the vector passes: the widest one that
// this build holds copies for and the processor runs.
#include "particles/simd_target.h"

namespace nebla::particles::simd {
namespace {

Target bestTarget() {
#if defined(__x86_64__) && defined(NEBLA_SIMD_X86)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq"))
    return Target::Avx512;
  if (__builtin_cpu_supports("avx2")) return Target::Avx2;
#endif
  return Target::Portable;
}

Target& chosen() {
  static Target target = bestTarget();
  return target;
}

}  // namespace

Target currentTarget() { return chosen(); }

bool targetAvailable(Target target) {
#if defined(__x86_64__) && defined(NEBLA_SIMD_X86)
  if (target == Target::Avx512) return bestTarget() == Target::Avx512;
  if (target == Target::Avx2) return bestTarget() != Target::Portable;
#endif
  return target == Target::Portable;
}

bool selectTarget(Target target) {
  if (!targetAvailable(target)) return false;
  chosen() = target;
  return true;
}

const char* targetName(Target target) {
  switch (target) {
    case Target::Avx512: return "avx512";
    case Target::Avx2: return "avx2";
    case Target::Portable: break;
  }
  return "portable";
}

}  // namespace nebla::particles::simd
