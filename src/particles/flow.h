// The slowly changing flow field's process-wide phases, shared by every
// particle pass.
#pragma once

#include <cstdint>

namespace nebla::particles {

struct FlowPhases {
  double phase1 = 0.0;
  double phase2 = 0.0;
  double phase3 = 0.0;
  double phase4 = 0.0;
  double phase5 = 0.0;
};

// Grows by 0.01 with every particle a pass visits; never reset.
extern double sweepPhase;
// Recomputed from the frame counter at the end of every pass.
extern FlowPhases phases;

// Called by the particle pass once it has counted the frame.
void updatePhases(std::uint32_t frameCounter);

}  // namespace nebla::particles
