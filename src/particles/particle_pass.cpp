// The fast particle pass. A first sweep in visit order does what is serial
// or cheap (aging, the cell and its splat, the stamp, the sweepPhase chain
// and the random draws) and lays a batch of particles out field by field;
// the flow field then moves the whole batch in vectors; the results go
// back and the dead are released, in visit order. Splats are saturating
// +1s, which give the same image in any order, so they are counted per cell
// and added in one sweep at the end.
#include <cstddef>

#include "particles/flow.h"
#include "particles/footprint.h"
#include "particles/particle_system.h"
#include "particles/pass_workspace.h"
#include "particles/random.h"

namespace nebla::particles {

// Below this many live particles single footprints cost less than a sweep
// over the counts.
constexpr std::int32_t kCountedSplatMin = 2048;
// How many particles ahead the sweep asks for records.
constexpr int kSweepAhead = 16;

class FastPass {
 public:
  FastPass(ParticleSystem& pool, std::uint8_t* density, std::uint32_t width, std::uint32_t height,
           std::int32_t densityPitch, std::uint8_t* textLayer, std::int32_t textPitch);
  void run();

 private:
  std::int32_t predictedAt(std::uint32_t position) const;
  void prefetchRecord(std::int32_t index) const;
  void prefetchPredicted(std::uint32_t from, std::uint32_t total) const;
  void drawChains(int count);
  void take(int k, Particle& p);
  int sweepPredicted();
  int sweepLinked();
  int sweep();
  void splatCells(int count);
  std::ptrdiff_t cellOffset(std::int32_t cell, std::int32_t pitch) const;
  void store(int count);

  ParticleSystem& pool_;
  Particle* records_;
  PassWorkspace& work_;
  FlowBatch& batch_;
  std::uint8_t* density_;
  std::uint8_t* textLayer_;
  std::int32_t densityPitch_;
  std::int32_t textPitch_;
  double right_;
  double bottom_;
  std::int32_t cellStride_;
  bool counted_ = false;
  std::ptrdiff_t densityOffsets_[kFootprintCells];
  std::ptrdiff_t textOffsets_[kFootprintCells];
  // The ring walk: the record to visit next, and while the predicted order
  // holds, the position in it.
  std::int32_t next_;
  bool predicting_;
  std::uint32_t position_ = 0;
  std::uint32_t survivorCount_ = 0;
};

FastPass::FastPass(ParticleSystem& pool, std::uint8_t* density, std::uint32_t width,
                   std::uint32_t height, std::int32_t densityPitch, std::uint8_t* textLayer,
                   std::int32_t textPitch)
    : pool_(pool),
      records_(pool.records),
      work_(*pool.work_),
      batch_(pool.work_->batch),
      density_(density),
      textLayer_(textLayer),
      densityPitch_(densityPitch),
      textPitch_(textPitch),
      right_(static_cast<double>(width) - 3.0),
      bottom_(static_cast<double>(height) - 3.0),
      cellStride_(static_cast<std::int32_t>(width) + 4),
      next_(pool.records[pool.activeHead].next),
      predicting_(pool.work_->orderKnown) {
  buildFootprint(densityPitch, densityOffsets_);
  buildFootprint(textPitch, textOffsets_);
  counted_ = pool.liveCount >= kCountedSplatMin && work_.counts.begin(width, height);
}

std::int32_t FastPass::predictedAt(std::uint32_t position) const {
  const std::uint32_t spawned = work_.spawnedCount;
  return position < spawned ? work_.spawned[spawned - 1 - position] : work_.survivors[position - spawned];
}

void FastPass::prefetchRecord(std::int32_t index) const {
  const Particle* p = records_ + index;
  __builtin_prefetch(p, 1);
  __builtin_prefetch(reinterpret_cast<const char*>(p + 1) - 1, 1);
}

// Asks the memory for the records of the batch after this one, so that they
// arrive while this batch is being moved.
void FastPass::prefetchPredicted(std::uint32_t from, std::uint32_t total) const {
  const std::uint32_t end = total - from < kBatchSize ? total : from + kBatchSize;
  for (std::uint32_t at = from; at < end; ++at) prefetchRecord(predictedAt(at));
}

// The batch's share of the serial chains, which depend on the position in
// the walk and not on the record there: sweepPhase as each particle sees
// it, and its draw.
void FastPass::drawChains(int count) {
  std::int32_t draws[kBatchSize];
  drawRandom(draws, count);
  double phase = sweepPhase;
  for (int k = 0; k < count; ++k) {
    batch_.sweep[k] = phase;
    phase = phase + 0.01;
    batch_.random[k] = draws[k] % 6666;
  }
  sweepPhase = phase;
  // Lanes past the end get harmless values.
  for (int k = count; k < ((count + 7) & ~7); ++k) {
    batch_.x[k] = batch_.y[k] = batch_.z[k] = 0.0f;
    batch_.vx[k] = batch_.vy[k] = batch_.vz[k] = 0.0f;
    batch_.targetX[k] = batch_.targetY[k] = 0.0f;
    batch_.travelTime[k] = batch_.life[k] = batch_.random[k] = 0;
    batch_.sweep[k] = 0.0;
  }
  batch_.count = count;
}

// One visited particle: aged, and its fields laid out in the batch.
inline void FastPass::take(int k, Particle& p) {
  --p.life;
  batch_.x[k] = p.x;
  batch_.y[k] = p.y;
  batch_.z[k] = p.z;
  batch_.vx[k] = p.vx;
  batch_.vy[k] = p.vy;
  batch_.vz[k] = p.vz;
  batch_.targetX[k] = p.targetX;
  batch_.targetY[k] = p.targetY;
  batch_.travelTime[k] = p.travelTime;
  batch_.life[k] = p.life;
}

// Up to one batch of the predicted order. Each record is found from the
// order arrays rather than from its predecessor's link, so the records load
// side by side; the links are checked afterwards, and the batch ends before
// the first record the ring disagrees with (whose aging is undone).
int FastPass::sweepPredicted() {
  const std::uint32_t total = work_.spawnedCount + work_.survivorCount;
  const int n = total - position_ < kBatchSize ? static_cast<int>(total - position_) : kBatchSize;
  std::int32_t* visit = work_.visit;
  for (int k = 0; k < n; ++k) visit[k] = predictedAt(position_ + static_cast<std::uint32_t>(k));
  prefetchPredicted(position_ + static_cast<std::uint32_t>(n), total);
  std::int32_t links[kBatchSize];
  for (int k = 0; k < n; ++k) {
    if (k + kSweepAhead < n) prefetchRecord(visit[k + kSweepAhead]);
    Particle& p = records_[visit[k]];
    links[k] = p.next;
    take(k, p);
  }
  int taken = 0;
  for (std::int32_t expected = next_; taken < n && visit[taken] == expected; ++taken) expected = links[taken];
  for (int k = taken; k < n; ++k) ++records_[visit[k]].life;
  if (taken < n || n == 0) predicting_ = false;
  if (taken == 0) return sweepLinked();
  position_ += static_cast<std::uint32_t>(taken);
  next_ = links[taken - 1];
  drawChains(taken);
  return taken;
}

// Up to one batch by following the links: where no prediction holds.
int FastPass::sweepLinked() {
  const std::int32_t head = pool_.activeHead;
  std::int32_t next = next_;
  int n = 0;
  for (; n < kBatchSize && next != head; ++n) {
    work_.visit[n] = next;
    Particle& p = records_[next];
    next = p.next;
    take(n, p);
  }
  next_ = next;
  drawChains(n);
  return n;
}

// The next batch of the ring walk, swept; 0 at the end.
int FastPass::sweep() {
  if (next_ == pool_.activeHead) return 0;
  return predicting_ ? sweepPredicted() : sweepLinked();
}

// Footprints at the cells the vector step noted: counted, or splatted one
// by one; and the stamps of dying stamped particles.
void FastPass::splatCells(int count) {
  const std::int32_t* cells = batch_.cell;
  if (counted_) {
    work_.counts.add(cells, count);
  } else {
    for (int k = 0; k < count; ++k) {
      if (cells[k] >= 0) splat(density_ + cellOffset(cells[k], densityPitch_), densityOffsets_);
    }
  }
  for (int k = 0; k < count; ++k) {
    if (batch_.life[k] == 0 && cells[k] >= 0 && records_[work_.visit[k]].stamp) {
      splat(textLayer_ + cellOffset(cells[k], textPitch_), textOffsets_);
    }
  }
}

// The byte offset in an image of a cell noted as (iy + 2) * stride + ix + 2.
std::ptrdiff_t FastPass::cellOffset(std::int32_t cell, std::int32_t pitch) const {
  const std::int32_t iy = cell / cellStride_ - 2, ix = cell % cellStride_ - 2;
  return static_cast<std::ptrdiff_t>(iy) * pitch + ix;
}

// Results back into the records; the dead are released in visit order and
// the living become the next pass's predicted order.
void FastPass::store(int count) {
  for (int k = 0; k < count; ++k) {
    const std::int32_t index = work_.visit[k];
    Particle& p = records_[index];
    p.x = batch_.x[k];
    p.y = batch_.y[k];
    p.z = batch_.z[k];
    p.vx = batch_.vx[k];
    p.vy = batch_.vy[k];
    p.vz = batch_.vz[k];
    if (batch_.life[k] == 0) {
      pool_.releaseRecord(index);
    } else {
      work_.nextSurvivors[survivorCount_++] = index;
    }
  }
}

void FastPass::run() {
  const FlowConstants constants{phases.phase1, phases.phase2, phases.phase3, phases.phase4,
                                phases.phase5, pool_.windX,   pool_.windY,   right_,
                                bottom_,       cellStride_};
  for (int n = sweep(); n > 0; n = sweep()) {
    moveBatch(batch_, constants);
    splatCells(n);
    store(n);
  }
  if (counted_) work_.counts.apply(density_, densityPitch_);
  std::int32_t* previous = work_.survivors;
  work_.survivors = work_.nextSurvivors;
  work_.nextSurvivors = previous;
  work_.survivorCount = survivorCount_;
  work_.spawnedCount = 0;
  work_.orderKnown = true;
}

void ParticleSystem::advance(std::uint8_t* density, std::uint32_t width, std::uint32_t height,
                             std::int32_t densityPitch, std::uint8_t* textLayer,
                             std::int32_t textPitch) {
  if (work_ == nullptr) {
    advanceReference(density, width, height, densityPitch, textLayer, textPitch);
    return;
  }
  FastPass(*this, density, width, height, densityPitch, textLayer, textPitch).run();
  ++frameCounter;
  updatePhases(frameCounter);
}

}  // namespace nebla::particles
