// The fast particle pass. A sweep in visit order does what is serial or
// cheap (the walk, aging, the sweepPhase chain and the random draws) and
// lays a batch of particles out field by field; the flow field then moves
// the whole batch in vectors; the results go back and the dead are
// released, in visit order. Splats are saturating +1s, which give the same
// image in any order, so they are counted per cell and added in one sweep
// at the end. With a helper thread, the helper moves one batch while this
// thread sweeps the next and stores the last: the same steps on the same
// data, so the same bits.
#include <cstddef>
#include <cstdint>

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
// Below this many the helper thread's hand-overs cost more than they save.
constexpr std::int32_t kHelperMin = 4096;
// How many particles ahead the sweep asks for records.
constexpr int kSweepAhead = 16;

class FastPass {
 public:
  FastPass(ParticleSystem& pool, std::uint8_t* density, std::uint32_t width, std::uint32_t height,
           std::int32_t densityPitch, std::uint8_t* textLayer, std::int32_t textPitch);
  void run();

 private:
  struct MoveTask {
    FlowBatch* batch;
    const FlowConstants* constants;
  };
  static void moveOnHelper(void* task);

  void runAlone();
  void runWithHelper(HelperThread& helper);
  std::int32_t predictedAt(std::uint32_t position) const;
  void predictRange(std::uint32_t from, int count, std::int32_t* out) const;
  void prefetchRecord(std::int32_t index) const;
  void prefetchAhead(std::uint32_t from, std::uint32_t total) const;
  static double sweepPhases(double first, int count, double* out);
  void drawChains(FlowBatch& batch, int count);
  static void take(FlowBatch& batch, int k, Particle& p);
  int sweepPredicted(BatchSlot& slot);
  int sweepLinked(BatchSlot& slot);
  int sweep(BatchSlot& slot);
  void splatCells(const BatchSlot& slot, int count);
  std::ptrdiff_t cellOffset(std::int32_t cell, std::int32_t pitch) const;
  void store(const BatchSlot& slot, int count);
  void finish();

  ParticleSystem& pool_;
  Particle* records_;
  PassWorkspace& work_;
  std::uint8_t* density_;
  std::uint8_t* textLayer_;
  std::int32_t densityPitch_;
  std::int32_t textPitch_;
  FlowConstants constants_;
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
      density_(density),
      textLayer_(textLayer),
      densityPitch_(densityPitch),
      textPitch_(textPitch),
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
void FastPass::drawChains(FlowBatch& batch, int count) {
  std::int32_t draws[kBatchSize];
  drawRandom(draws, count);
  for (int k = 0; k < count; ++k) batch.random[k] = draws[k] % 6666;
  sweepPhase = sweepPhases(sweepPhase, count, batch.sweep);
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
  drawChains(slot.batch, taken);
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
  drawChains(slot.batch, n);
  return n;
}

// The next batch of the ring walk, swept; 0 at the end.
int FastPass::sweep(BatchSlot& slot) {
  if (next_ == pool_.activeHead) return 0;
  return predicting_ ? sweepPredicted(slot) : sweepLinked(slot);
}

// Footprints at the cells the vector step noted: counted, or splatted one
// by one; and the stamps of dying stamped particles.
void FastPass::splatCells(const BatchSlot& slot, int count) {
  const std::int32_t* cells = slot.batch.cell;
  if (counted_) {
    work_.counts.add(cells, count);
  } else {
    for (int k = 0; k < count; ++k) {
      if (cells[k] >= 0) splat(density_ + cellOffset(cells[k], densityPitch_), densityOffsets_);
    }
  }
  for (int k = 0; k < count; ++k) {
    if (slot.batch.life[k] == 0 && cells[k] >= 0 && records_[slot.visit[k]].stamp) {
      splat(textLayer_ + cellOffset(cells[k], textPitch_), textOffsets_);
    }
  }
}

// The byte offset in an image of a cell noted as (iy + 2) * stride + ix + 2.
std::ptrdiff_t FastPass::cellOffset(std::int32_t cell, std::int32_t pitch) const {
  const std::int32_t stride = constants_.cellStride;
  const std::int32_t iy = cell / stride - 2, ix = cell % stride - 2;
  return static_cast<std::ptrdiff_t>(iy) * pitch + ix;
}

// Results back into the records; the dead are released in visit order and
// the living become the next pass's predicted order.
void FastPass::store(const BatchSlot& slot, int count) {
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
    if (batch.life[k] == 0) {
      pool_.releaseRecord(index);
    } else {
      work_.nextSurvivors[survivorCount_++] = index;
    }
  }
}

void FastPass::moveOnHelper(void* task) {
  const auto* move = static_cast<const MoveTask*>(task);
  moveBatch(*move->batch, *move->constants);
}

void FastPass::runAlone() {
  BatchSlot& slot = work_.slots[0];
  for (int n = sweep(slot); n > 0; n = sweep(slot)) {
    moveBatch(slot.batch, constants_);
    splatCells(slot, n);
    store(slot, n);
  }
}

// The helper moves one batch while this thread sweeps the next, then stores
// the moved one while the helper moves the next (a batch the helper has not
// begun is moved here). Storing a batch after the next has been swept is
// safe: a release changes only links that the walk has read already, and
// fields of records no later batch holds.
void FastPass::runWithHelper(HelperThread& helper) {
  MoveTask tasks[2] = {{&work_.slots[0].batch, &constants_}, {&work_.slots[1].batch, &constants_}};
  int moving = 0;
  int moved = sweep(work_.slots[moving]);
  if (moved == 0) return;
  helper.offer(moveOnHelper, &tasks[moving]);
  for (;;) {
    const int sweeping = 1 - moving;
    const int swept = sweep(work_.slots[sweeping]);
    helper.finish();
    if (swept > 0) helper.offer(moveOnHelper, &tasks[sweeping]);
    splatCells(work_.slots[moving], moved);
    store(work_.slots[moving], moved);
    if (swept == 0) return;
    moving = sweeping;
    moved = swept;
  }
}

void FastPass::finish() {
  if (counted_) work_.counts.apply(density_, densityPitch_);
  std::int32_t* previous = work_.survivors;
  work_.survivors = work_.nextSurvivors;
  work_.nextSurvivors = previous;
  work_.survivorCount = survivorCount_;
  work_.spawnedCount = 0;
  work_.orderKnown = true;
}

void FastPass::run() {
  HelperThread* helper = pool_.liveCount >= kHelperMin ? HelperThread::get() : nullptr;
  if (helper != nullptr) {
    runWithHelper(*helper);
  } else {
    runAlone();
  }
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
