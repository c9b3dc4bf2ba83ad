// Flow phases of the particle field.
#include "particles/flow.h"

namespace nebla::particles {

double sweepPhase = 1.1;
FlowPhases phases;

void updatePhases(std::uint32_t frameCounter) {
  double t = static_cast<double>(frameCounter);
  phases.phase1 = t * 0.01 + 2.3;
  phases.phase2 = t * 0.021 + 4.1;
  phases.phase3 = t * 0.013 + 5.1;
  phases.phase4 = t * 0.031 + 6.3;
  phases.phase5 = t * 0.009 + 5.4;
}

}  // namespace nebla::particles
