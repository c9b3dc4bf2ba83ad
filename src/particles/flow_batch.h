// A batch of particles laid out field by field, and the flow-field step
// that moves them: the same arithmetic as the plain pass, lane by lane, in
// the widest vectors the machine offers.
#pragma once

#include <cstdint>

namespace nebla::particles {

inline constexpr int kBatchSize = 256;

// Fields as the records hold them. The step reads every array and rewrites
// position and velocity in place, and notes each particle's cell.
struct FlowBatch {
  int count = 0;
  alignas(64) float x[kBatchSize];
  alignas(64) float y[kBatchSize];
  alignas(64) float z[kBatchSize];
  alignas(64) float vx[kBatchSize];
  alignas(64) float vy[kBatchSize];
  alignas(64) float vz[kBatchSize];
  alignas(64) float targetX[kBatchSize];
  alignas(64) float targetY[kBatchSize];
  alignas(64) std::int32_t travelTime[kBatchSize];
  alignas(64) std::int32_t life[kBatchSize];    // after this pass's aging
  alignas(64) std::int32_t random[kBatchSize];  // the particle's draw, modulo 6666
  alignas(64) double sweep[kBatchSize];         // sweepPhase as the particle saw it
  // Out: the cell before the move as (iy + 2) * cellStride + ix + 2, or -1
  // where the particle draws nothing.
  alignas(64) std::int32_t cell[kBatchSize];
};

// What every particle of one pass shares.
struct FlowConstants {
  double phase1;
  double phase2;
  double phase3;
  double phase4;
  double phase5;
  double windX;
  double windY;
  double right;   // width - 3: cells from 3 to below this draw
  double bottom;  // height - 3
  std::int32_t cellStride;
};

// Flow field, damped velocity, move and target pull for the batch's first
// `count` particles, rounded to float where the plain pass rounds. Unused
// lanes past `count` are computed from whatever they hold and ignored.
void moveBatch(FlowBatch& batch, const FlowConstants& constants);

namespace simd {

// One copy per instruction set, each compiled with its own flags.
void moveBatchPortable(FlowBatch& batch, const FlowConstants& constants);
void moveBatchAvx2(FlowBatch& batch, const FlowConstants& constants);
void moveBatchAvx512(FlowBatch& batch, const FlowConstants& constants);

}  // namespace simd
}  // namespace nebla::particles
