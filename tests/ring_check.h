// The particle pool's ring invariants, for the pool tests and the soak.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "particles/particle_system.h"

namespace nebla::testing {

// Empty when both rings are circular, prev is the inverse of next, every
// record but the two sentinels is in exactly one ring and the live count is
// the active ring's length; otherwise the first fault found.
inline std::string ringFault(const particles::ParticleSystem& ps) {
  std::vector<char> ring(ps.poolSize, 0);
  std::int64_t lengths[2] = {0, 0};
  const std::int32_t heads[2] = {ps.activeHead, ps.freeHead};
  for (int r = 0; r < 2; ++r) {
    std::int32_t i = heads[r];
    do {
      std::int32_t n = ps.records[i].next;
      if (n < 0 || static_cast<std::uint32_t>(n) >= ps.poolSize)
        return "record " + std::to_string(i) + " points outside";
      if (ps.records[n].prev != i)
        return "record " + std::to_string(n) + ": prev is not the inverse of next";
      if (n != heads[r] && ring[n]++ != 0)
        return "record " + std::to_string(n) + " is reached twice";
      if (n != heads[r]) ++lengths[r];
      i = n;
    } while (i != heads[r]);
  }
  if (lengths[0] + lengths[1] != std::int64_t{ps.poolSize} - 2)
    return "some records are in no ring";
  if (lengths[0] != ps.liveCount)
    return "live count " + std::to_string(ps.liveCount) + " but the active ring holds " +
           std::to_string(lengths[0]);
  return "";
}

}  // namespace nebla::testing
