// Cost of one particle pass over a full pool, with the active ring in
// memory order and after releases and respawns have scrambled it.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "particles/flow_batch.h"
#include "particles/helper_thread.h"
#include "particles/particle_system.h"
#include "particles/simd_target.h"

namespace {

using nebla::particles::ParticleSystem;

constexpr std::uint32_t kW = 640, kH = 480;
constexpr std::int32_t kPitch = 704;

// Particles that live long enough to stay in the pool for the whole run.
void fill(ParticleSystem& ps, std::mt19937& gen) {
  while (ps.activeCount() < 99998) {
    ps.spawn(60000, static_cast<std::int16_t>(gen() % 640), static_cast<std::int16_t>(gen() % 480),
             500, 0.0, 0.0, 0.0, -1, -1, false);
  }
}

void scramble(ParticleSystem& ps, std::mt19937& gen) {
  std::vector<std::int32_t> live;
  for (std::int32_t i = ps.records[0].next; i != 0; i = ps.records[i].next) live.push_back(i);
  std::shuffle(live.begin(), live.end(), gen);
  for (std::size_t k = 0; k < live.size() / 2; ++k) ps.release(live[k]);
  fill(ps, gen);
}

void runPasses(benchmark::State& state, bool scrambled, bool reference = false,
               bool helper = false) {
  nebla::particles::HelperThread::setEnabled(helper);
  if (helper && nebla::particles::HelperThread::get() == nullptr) {
    state.SkipWithError("no helper thread on this machine");
    return;
  }
  ParticleSystem ps(100000);
  std::mt19937 gen(7);
  fill(ps, gen);
  if (scrambled) scramble(ps, gen);
  std::vector<std::uint8_t> density(kPitch * kH), text(kPitch * kH, 1);
  for (auto _ : state) {
    std::fill(density.begin(), density.end(), 1);
    if (reference) {
      ps.advanceReference({density.data(), kPitch}, {text.data(), kPitch}, kW, kH);
    } else {
      ps.advance({density.data(), kPitch}, {text.data(), kPitch}, kW, kH);
    }
    benchmark::DoNotOptimize(density.data());
  }
  state.counters["particles"] = ps.activeCount();
  nebla::particles::HelperThread::setEnabled(false);
}

void BM_AdvanceMemoryOrder(benchmark::State& state) { runPasses(state, false); }
void BM_AdvanceScrambledRing(benchmark::State& state) { runPasses(state, true); }
void BM_AdvanceScrambledTwoThreads(benchmark::State& state) { runPasses(state, true, false, true); }

void BM_AdvanceReferenceScrambled(benchmark::State& state) { runPasses(state, true, true); }
BENCHMARK(BM_AdvanceReferenceScrambled)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AdvanceMemoryOrder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AdvanceScrambledRing)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AdvanceScrambledTwoThreads)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

namespace {

// The flow-field step alone, per instruction set, on one batch of lively
// particles: the vector arithmetic without the ring walk or the splat.
void BM_MoveBatch(benchmark::State& state) {
  using namespace nebla::particles;
  const auto target = static_cast<simd::Target>(state.range(0));
  if (!simd::selectTarget(target)) {
    state.SkipWithError("instruction set not available");
    return;
  }
  static FlowBatch batch;
  std::mt19937 gen(3);
  const FlowConstants constants{23.0, 45.1, 31.2, 80.0, 27.3, 0.1, -0.2, 637.0, 477.0, 644};
  for (int k = 0; k < kBatchSize; ++k) {
    batch.x[k] = static_cast<float>(gen() % 640);
    batch.y[k] = static_cast<float>(gen() % 480);
    batch.z[k] = static_cast<float>(400 + gen() % 200);
    batch.vx[k] = batch.vy[k] = batch.vz[k] = 0.5f;
    batch.targetX[k] = batch.targetY[k] = 100.0f;
    batch.travelTime[k] = k % 3 == 0 ? 50 : 0;
    batch.life[k] = 20;
    batch.sweep[k] = 1.0e6 + k * 0.01;
    batch.random[k] = static_cast<std::int32_t>(gen() % 6666);
  }
  batch.count = kBatchSize;
  for (auto _ : state) {
    moveBatch(batch, constants);
    benchmark::DoNotOptimize(batch.x);
  }
  simd::selectTarget(simd::Target::Avx512) || simd::selectTarget(simd::Target::Avx2);
  state.SetItemsProcessed(state.iterations() * kBatchSize);
  state.SetLabel(simd::targetName(target));
}
BENCHMARK(BM_MoveBatch)->Arg(0)->Arg(1)->Arg(2);

}  // namespace
