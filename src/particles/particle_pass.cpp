// The fast particle pass. A sweep in visit order does what is serial or
// cheap (the walk, aging, the sweepPhase chain and the random draws) and
// lays a batch of particles out field by field; the flow field then moves
// the whole batch in vectors; the results go back and the dead are
// released, in visit order. Splats are saturating +1s, which give the same
// image in any order, so they are counted per cell and added in one sweep
// at the end. With a helper thread, the helper walks the second half of the
// predicted order while this thread walks the first: the serial chains
// jump ahead to where the half begins, and what must happen in visit order
// (releases, the survivors' order) waits for this thread, so the bits are
// the same.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "particles/flow.h"
#include "particles/footprint.h"
#include "particles/helper_thread.h"
#include "particles/particle_system.h"
#include "particles/pass_workspace.h"
#include "particles/random.h"

namespace nebla::particles {

// Below this many live particles single footprints cost less than a sweep
// over the counts.
constexpr std::int32_t kCountedSplatMin = 2048;
// Below this many the helper thread's share costs more than it saves.
constexpr std::int32_t kHelperMin = 4096;
// How many particles ahead the sweep asks for records.
constexpr int kSweepAhead = 16;

// A stretch of the predicted walk, positions from..to-1, walked on one
// thread: the serial chains' state, and where its outcome goes.
struct Stretch {
  std::uint32_t from = 0;
  std::uint32_t to = 0;
  std::uint32_t random = 0;
  double phase = 0.0;
  BatchSlot* slot = nullptr;
  DensityCounts* counts = nullptr;
  std::int32_t* survivors = nullptr;
  std::uint32_t survivorCount = 0;
  // The helper's lists; null on this thread, which releases and burns in
  // at once.
  std::int32_t* dead = nullptr;
  std::uint32_t deadCount = 0;
  std::int32_t* stamps = nullptr;
  std::uint32_t stampCount = 0;
};

class FastPass {
 public:
  FastPass(ParticleSystem& pool, std::uint8_t* density, std::uint32_t width, std::uint32_t height,
           std::int32_t densityPitch, std::uint8_t* textLayer, std::int32_t textPitch);
  void run();

 private:
  struct SplitTask {
    FastPass* pass;
    std::uint32_t half;
    bool holds[2];
    Stretch* theirs;
  };
  static void checkHalf(void* task, int half);
  static void walkTheirs(void* task, int);

  void runAlone();
  bool runSplit(HelperThread& helper);
  bool linksHold(std::uint32_t from, std::uint32_t to) const;
  void walkStretch(Stretch& s);
  void join(const Stretch& theirs);
  std::int32_t predictedAt(std::uint32_t position) const;
  void predictRange(std::uint32_t from, int count, std::int32_t* out) const;
  void prefetchRecord(std::int32_t index) const;
  void prefetchAhead(std::uint32_t from, std::uint32_t total) const;
  static double sweepPhases(double first, int count, double* out);
  static double phaseAfter(double first, std::uint32_t count);
  static void drawChains(FlowBatch& batch, int count, std::uint32_t& random, double& phase);
  static void take(FlowBatch& batch, int k, Particle& p);
  int sweepPredicted(BatchSlot& slot);
  int sweepLinked(BatchSlot& slot);
  int sweep(BatchSlot& slot);
  void splatDensity(const BatchSlot& slot, int count);
  void burn(Stretch& s, std::int32_t cell);
  std::ptrdiff_t cellOffset(std::int32_t cell, std::int32_t pitch) const;
  void keep(Stretch& s, int count);
  void finish();

  ParticleSystem& pool_;
  Particle* records_;
  PassWorkspace& work_;
  std::uint8_t* density_;
  std::uint8_t* textLayer_;
  std::int32_t densityPitch_;
  std::int32_t textPitch_;
  std::uint32_t width_;
  std::uint32_t height_;
  FlowConstants constants_;
  bool counted_ = false;
  std::ptrdiff_t densityOffsets_[kFootprintCells];
  std::ptrdiff_t textOffsets_[kFootprintCells];
  // The ring walk: the record to visit next, and while the predicted order
  // holds, the position in it.
  std::int32_t next_;
  bool predicting_;
  std::uint32_t position_ = 0;
  // This thread's walk: the whole of it, or the first half beside the
  // helper's.
  Stretch mine_;
};

FastPass::FastPass(ParticleSystem& pool, std::uint8_t* density, std::uint32_t width,
                   std::uint32_t height, std::int32_t densityPitch, std::uint8_t* textLayer,
                   std::int32_t textPitch)
    : pool_(pool),
      records_(pool.records),
      work_(*pool.work_),
      density_(density),
      textLayer_(textLayer),
      densityPitch_(densityPitch),
      textPitch_(textPitch),
      width_(width),
      height_(height),
      constants_{phases.phase1,
                 phases.phase2,
                 phases.phase3,
                 phases.phase4,
                 phases.phase5,
                 pool.windX,
                 pool.windY,
                 static_cast<double>(width) - 3.0,
                 static_cast<double>(height) - 3.0,
                 static_cast<std::int32_t>(width) + 4},
      next_(pool.records[pool.activeHead].next),
      predicting_(pool.work_->orderKnown) {
  buildFootprint(densityPitch, densityOffsets_);
  buildFootprint(textPitch, textOffsets_);
  counted_ = pool.liveCount >= kCountedSplatMin && work_.counts.begin(width, height);
  mine_.to = work_.spawnedCount + work_.survivorCount;
  mine_.random = randomState();
  mine_.phase = sweepPhase;
  mine_.slot = &work_.slots[0];
  mine_.counts = &work_.counts;
  mine_.survivors = work_.nextSurvivors;
}

void FastPass::prefetchRecord(std::int32_t index) const {
  const Particle* p = records_ + index;
  __builtin_prefetch(p, 1);
  __builtin_prefetch(reinterpret_cast<const char*>(p + 1) - 1, 1);
}

// The predicted record at a position of the walk: the spawned ones latest
// first, then the survivors.
inline std::int32_t FastPass::predictedAt(std::uint32_t position) const {
  const std::uint32_t spawned = work_.spawnedCount;
  return position < spawned ? work_.spawned[spawned - 1 - position]
                            : work_.survivors[position - spawned];
}

// The predicted records at positions from..from+count-1, a stretch of each
// array at a time.
void FastPass::predictRange(std::uint32_t from, int count, std::int32_t* out) const {
  const std::uint32_t spawned = work_.spawnedCount;
  int k = 0;
  for (; k < count && from + static_cast<std::uint32_t>(k) < spawned; ++k) {
    out[k] = work_.spawned[spawned - 1 - from - static_cast<std::uint32_t>(k)];
  }
  for (; k < count; ++k) out[k] = work_.survivors[from + static_cast<std::uint32_t>(k) - spawned];
}

// sweepPhase for `count` particles in a row, from `first`; returns the
// value after them. Within one binade each step adds the same number of
// last places: 0.01 rounded to the binade's spacing, which for phases of
// 1/16 and more is never a tie (0.01's lowest bit lies below the half
// spacing). So the values follow from the first by integer steps of its
// bits, exactly as the additions give them, as long as the last sum stays
// a full step below the binade's top. Otherwise the steps go one by one.
double FastPass::sweepPhases(double first, int count, double* out) {
  const auto bits = __builtin_bit_cast(std::uint64_t, first);
  const int biased = static_cast<int>((bits >> 52) & 0x7ff);
  if (first >= 0.0625 && biased < 0x7ff) {
    const double spacing =
        __builtin_bit_cast(double, static_cast<std::uint64_t>(biased - 52) << 52);
    const auto step = static_cast<std::uint64_t>(0.01 / spacing + 0.5);
    const std::uint64_t mantissa =
        (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
    if (mantissa + static_cast<std::uint64_t>(count) * step + 1 < (std::uint64_t{1} << 53)) {
      for (int k = 0; k < count; ++k) {
        out[k] = __builtin_bit_cast(double, bits + static_cast<std::uint64_t>(k) * step);
      }
      return __builtin_bit_cast(double, bits + static_cast<std::uint64_t>(count) * step);
    }
  }
  double phase = first;
  for (int k = 0; k < count; ++k) {
    out[k] = phase;
    phase = phase + 0.01;
  }
  return phase;
}

// sweepPhase `count` particles after `first`, as the batches reach it.
double FastPass::phaseAfter(double first, std::uint32_t count) {
  double scratch[kBatchSize];
  double phase = first;
  for (; count > kBatchSize; count -= kBatchSize) phase = sweepPhases(phase, kBatchSize, scratch);
  return sweepPhases(phase, static_cast<int>(count), scratch);
}

// Asks the memory for the records of the batch after this one: between
// frames the pool leaves the caches, and a record then takes longer to
// arrive than the few particles ahead that the sweep asks for.
void FastPass::prefetchAhead(std::uint32_t from, std::uint32_t total) const {
  const std::uint32_t end = total - from < kBatchSize ? total : from + kBatchSize;
  for (std::uint32_t at = from; at < end; ++at) prefetchRecord(predictedAt(at));
}

// The batch's share of the serial chains, which depend on the position in
// the walk and not on the record there: sweepPhase as each particle sees
// it, and its draw.
void FastPass::drawChains(FlowBatch& batch, int count, std::uint32_t& random, double& phase) {
  std::int32_t draws[kBatchSize];
  drawRandom(random, draws, count);
  for (int k = 0; k < count; ++k) batch.random[k] = draws[k] % 6666;
  phase = sweepPhases(phase, count, batch.sweep);
  // Lanes past the end get harmless values.
  for (int k = count; k < ((count + 7) & ~7); ++k) {
    batch.x[k] = batch.y[k] = batch.z[k] = 0.0f;
    batch.vx[k] = batch.vy[k] = batch.vz[k] = 0.0f;
    batch.targetX[k] = batch.targetY[k] = 0.0f;
    batch.travelTime[k] = batch.life[k] = batch.random[k] = 0;
    batch.sweep[k] = 0.0;
  }
  batch.count = count;
}

// One visited particle: aged, and its fields laid out in the batch.
inline void FastPass::take(FlowBatch& batch, int k, Particle& p) {
  --p.life;
  batch.x[k] = p.x;
  batch.y[k] = p.y;
  batch.z[k] = p.z;
  batch.vx[k] = p.vx;
  batch.vy[k] = p.vy;
  batch.vz[k] = p.vz;
  batch.targetX[k] = p.targetX;
  batch.targetY[k] = p.targetY;
  batch.travelTime[k] = p.travelTime;
  batch.life[k] = p.life;
}

// Up to one batch of the predicted order. Each record is found from the
// order arrays rather than from its predecessor's link, so the records load
// side by side; the links are checked afterwards, and the batch ends before
// the first record the ring disagrees with (whose aging is undone).
int FastPass::sweepPredicted(BatchSlot& slot) {
  const std::uint32_t total = work_.spawnedCount + work_.survivorCount;
  const int n = total - position_ < kBatchSize ? static_cast<int>(total - position_) : kBatchSize;
  std::int32_t* visit = slot.visit;
  predictRange(position_, n, visit);
  prefetchAhead(position_ + static_cast<std::uint32_t>(n), total);
  std::int32_t links[kBatchSize];
  for (int k = 0; k < n; ++k) {
    if (k + kSweepAhead < n) prefetchRecord(visit[k + kSweepAhead]);
    Particle& p = records_[visit[k]];
    links[k] = p.next;
    take(slot.batch, k, p);
  }
  int taken = 0;
  for (std::int32_t expected = next_; taken < n && visit[taken] == expected; ++taken)
    expected = links[taken];
  for (int k = taken; k < n; ++k) ++records_[visit[k]].life;
  if (taken < n || n == 0) predicting_ = false;
  if (taken == 0) return sweepLinked(slot);
  position_ += static_cast<std::uint32_t>(taken);
  next_ = links[taken - 1];
  drawChains(slot.batch, taken, mine_.random, mine_.phase);
  return taken;
}

// Up to one batch by following the links: where no prediction holds.
int FastPass::sweepLinked(BatchSlot& slot) {
  const std::int32_t head = pool_.activeHead;
  std::int32_t next = next_;
  int n = 0;
  for (; n < kBatchSize && next != head; ++n) {
    slot.visit[n] = next;
    Particle& p = records_[next];
    next = p.next;
    take(slot.batch, n, p);
  }
  next_ = next;
  drawChains(slot.batch, n, mine_.random, mine_.phase);
  return n;
}

// The next batch of the ring walk, swept; 0 at the end.
int FastPass::sweep(BatchSlot& slot) {
  if (next_ == pool_.activeHead) return 0;
  return predicting_ ? sweepPredicted(slot) : sweepLinked(slot);
}

// Footprints at the cells the vector step noted: counted, or splatted one
// by one.
void FastPass::splatDensity(const BatchSlot& slot, int count) {
  const std::int32_t* cells = slot.batch.cell;
  if (counted_) {
    work_.counts.add(cells, count);
    return;
  }
  for (int k = 0; k < count; ++k) {
    if (cells[k] >= 0) splat(density_ + cellOffset(cells[k], densityPitch_), densityOffsets_);
  }
}

// A dying stamped particle's footprint in the text layer: at once on this
// thread, noted on the helper's.
void FastPass::burn(Stretch& s, std::int32_t cell) {
  if (s.stamps != nullptr) {
    s.stamps[s.stampCount++] = cell;
  } else {
    splat(textLayer_ + cellOffset(cell, textPitch_), textOffsets_);
  }
}

// The byte offset in an image of a cell noted as (iy + 2) * stride + ix + 2.
std::ptrdiff_t FastPass::cellOffset(std::int32_t cell, std::int32_t pitch) const {
  const std::int32_t stride = constants_.cellStride;
  const std::int32_t iy = cell / stride - 2, ix = cell % stride - 2;
  return static_cast<std::ptrdiff_t>(iy) * pitch + ix;
}

// Results back into the records; the dead burn in their stamps and are
// released in visit order, and the living become the next pass's predicted
// order.
void FastPass::keep(Stretch& s, int count) {
  const BatchSlot& slot = *s.slot;
  const FlowBatch& batch = slot.batch;
  for (int k = 0; k < count; ++k) {
    const std::int32_t index = slot.visit[k];
    Particle& p = records_[index];
    p.x = batch.x[k];
    p.y = batch.y[k];
    p.z = batch.z[k];
    p.vx = batch.vx[k];
    p.vy = batch.vy[k];
    p.vz = batch.vz[k];
    if (batch.life[k] != 0) {
      s.survivors[s.survivorCount++] = index;
      continue;
    }
    if (batch.cell[k] >= 0 && p.stamp) burn(s, batch.cell[k]);
    if (s.dead != nullptr) {
      s.dead[s.deadCount++] = index;
    } else {
      pool_.releaseRecord(index);
    }
  }
}

void FastPass::runAlone() {
  BatchSlot& slot = *mine_.slot;
  for (int n = sweep(slot); n > 0; n = sweep(slot)) {
    moveBatch(slot.batch, constants_);
    splatDensity(slot, n);
    keep(mine_, n);
  }
}

// Whether the ring's links follow the predicted order from position `from`
// to `to`, each on to the next position (or back to the head after the
// last).
bool FastPass::linksHold(std::uint32_t from, std::uint32_t to) const {
  const std::uint32_t total = work_.spawnedCount + work_.survivorCount;
  if (from == 0 && to > 0 && next_ != predictedAt(0)) return false;
  for (std::uint32_t at = from; at < to; ++at) {
    if (at + kSweepAhead < to) prefetchRecord(predictedAt(at + kSweepAhead));
    const std::int32_t after = at + 1 < total ? predictedAt(at + 1) : pool_.activeHead;
    if (records_[predictedAt(at)].next != after) return false;
  }
  return true;
}

// One stretch of the predicted walk, batch by batch. Nothing in it reads
// what the other stretch writes.
void FastPass::walkStretch(Stretch& s) {
  BatchSlot& slot = *s.slot;
  for (std::uint32_t at = s.from; at < s.to;) {
    const int n = s.to - at < kBatchSize ? static_cast<int>(s.to - at) : kBatchSize;
    predictRange(at, n, slot.visit);
    prefetchAhead(at + static_cast<std::uint32_t>(n), s.to);
    for (int k = 0; k < n; ++k) {
      if (k + kSweepAhead < n) prefetchRecord(slot.visit[k + kSweepAhead]);
      take(slot.batch, k, records_[slot.visit[k]]);
    }
    drawChains(slot.batch, n, s.random, s.phase);
    moveBatch(slot.batch, constants_);
    s.counts->add(slot.batch.cell, n);
    keep(s, n);
    at += static_cast<std::uint32_t>(n);
  }
}

void FastPass::checkHalf(void* task, int half) {
  auto* split = static_cast<SplitTask*>(task);
  const FastPass& pass = *split->pass;
  const std::uint32_t total = pass.work_.spawnedCount + pass.work_.survivorCount;
  split->holds[half] =
      half == 0 ? pass.linksHold(0, split->half) : pass.linksHold(split->half, total);
}

// The helper's half starts where this thread's ends: its chains jump ahead
// by as many particles as this thread's half holds.
void FastPass::walkTheirs(void* task, int) {
  auto* split = static_cast<SplitTask*>(task);
  Stretch& theirs = *split->theirs;
  theirs.random = randomStateAfter(theirs.random, theirs.from);
  theirs.phase = phaseAfter(theirs.phase, theirs.from);
  split->pass->walkStretch(theirs);
}

// The walk in two halves, the second on the helper, where every link of
// the predicted order holds (both halves are checked first, side by side,
// which also brings each half's records near its thread); false, with
// nothing changed, where one does not.
bool FastPass::runSplit(HelperThread& helper) {
  if (!predicting_ || !counted_ || !work_.helperCounts.begin(width_, height_)) return false;
  SplitTask split{this, mine_.to / 2, {false, false}, nullptr};
  helper.offer(checkHalf, &split, 2);
  helper.finish();
  if (!split.holds[0] || !split.holds[1]) return false;
  Stretch theirs = mine_;
  theirs.from = split.half;
  theirs.slot = &work_.slots[1];
  theirs.counts = &work_.helperCounts;
  theirs.survivors = work_.helperSurvivors;
  theirs.dead = work_.helperDead;
  theirs.stamps = work_.helperStamps;
  split.theirs = &theirs;
  mine_.to = split.half;
  helper.offer(walkTheirs, &split, 1);
  walkStretch(mine_);
  helper.finish();
  join(theirs);
  return true;
}

// What the helper's half left to do in visit order, after this thread's;
// its counted splats add to the image now, as saturating sums in any order.
void FastPass::join(const Stretch& theirs) {
  work_.helperCounts.apply(density_, densityPitch_);
  std::memcpy(work_.nextSurvivors + mine_.survivorCount, theirs.survivors,
              std::size_t{theirs.survivorCount} * sizeof(std::int32_t));
  mine_.survivorCount += theirs.survivorCount;
  for (std::uint32_t k = 0; k < theirs.deadCount; ++k) pool_.releaseRecord(theirs.dead[k]);
  for (std::uint32_t k = 0; k < theirs.stampCount; ++k) {
    splat(textLayer_ + cellOffset(theirs.stamps[k], textPitch_), textOffsets_);
  }
  mine_.random = theirs.random;
  mine_.phase = theirs.phase;
}

void FastPass::finish() {
  if (counted_) work_.counts.apply(density_, densityPitch_);
  setRandomState(mine_.random);
  sweepPhase = mine_.phase;
  std::int32_t* previous = work_.survivors;
  work_.survivors = work_.nextSurvivors;
  work_.nextSurvivors = previous;
  work_.survivorCount = mine_.survivorCount;
  work_.spawnedCount = 0;
  work_.orderKnown = true;
}

void FastPass::run() {
  HelperThread* helper = pool_.liveCount >= kHelperMin ? HelperThread::get() : nullptr;
  if (helper != nullptr && runSplit(*helper))
    ++pool_.splitPasses;
  else
    runAlone();
  finish();
}

void ParticleSystem::advance(ImageView density, ImageView textLayer, std::uint32_t width,
                             std::uint32_t height) {
  if (work_ == nullptr) {
    advanceReference(density, textLayer, width, height);
    return;
  }
  FastPass(*this, density.bytes, width, height, density.pitch, textLayer.bytes, textLayer.pitch)
      .run();
  ++frameCounter;
  updatePhases(frameCounter);
}

}  // namespace nebla::particles
