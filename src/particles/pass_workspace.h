// Scratch space of the fast particle pass: the predicted visit order, one
// batch of particles, and the density counts. It lives as long as the pool
// and is taken from the process heap with it.
#pragma once

#include <cstdint>

#include "particles/flow_batch.h"
#include "particles/footprint.h"

namespace nebla::particles {

// One batch of the walk: the records visited, in visit order, and their
// fields laid out for the vector step.
struct BatchSlot {
  std::int32_t visit[kBatchSize] = {};
  FlowBatch batch;
};

// The active ring is visited newest first: the particles spawned since the
// last pass (latest spawn first), then the last pass's survivors in their
// order. Keeping that order in arrays lets the pass load particles ahead of
// the ring walk; every predicted link is still checked against the ring.
struct PassWorkspace {
  void* block = nullptr;            // the heap block this lives in
  std::int32_t* spawned = nullptr;  // since the last pass, oldest first
  std::uint32_t spawnedCount = 0;
  std::int32_t* survivors = nullptr;  // the last pass's, in visit order
  std::uint32_t survivorCount = 0;
  std::int32_t* nextSurvivors = nullptr;  // filled by the pass under way
  // False once the rings changed other than by spawn and the pass; the next
  // pass then walks the ring link by link.
  bool orderKnown = true;
  // What the helper thread's stretch of the walk leaves for this thread to
  // finish in visit order: its survivors, its dead to release, and the text
  // cells its dying stamped particles burn in.
  std::int32_t* helperSurvivors = nullptr;
  std::int32_t* helperDead = nullptr;
  std::int32_t* helperStamps = nullptr;
  // A batch for each thread.
  BatchSlot slots[2];
  DensityCounts counts;
  DensityCounts helperCounts;
};

}  // namespace nebla::particles
