// Cost of one particle pass over a full pool, with the active ring in
// memory order and after releases and respawns have scrambled it.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "particles/particle_system.h"

namespace {

using nebla::particles::ParticleSystem;

constexpr std::uint32_t kW = 640, kH = 480;
constexpr std::int32_t kPitch = 704;

// Particles that live long enough to stay in the pool for the whole run.
void fill(ParticleSystem& ps, std::mt19937& gen) {
  while (ps.activeCount() < 99998) {
    ps.spawn(60000, static_cast<std::int16_t>(gen() % 640), static_cast<std::int16_t>(gen() % 480), 500,
             0.0, 0.0, 0.0, -1, -1, false);
  }
}

void scramble(ParticleSystem& ps, std::mt19937& gen) {
  std::vector<std::int32_t> live;
  for (std::int32_t i = ps.records[0].next; i != 0; i = ps.records[i].next) live.push_back(i);
  std::shuffle(live.begin(), live.end(), gen);
  for (std::size_t k = 0; k < live.size() / 2; ++k) ps.release(live[k]);
  fill(ps, gen);
}

void runPasses(benchmark::State& state, bool scrambled) {
  ParticleSystem ps(100000);
  std::mt19937 gen(7);
  fill(ps, gen);
  if (scrambled) scramble(ps, gen);
  std::vector<std::uint8_t> density(kPitch * kH), text(kPitch * kH, 1);
  for (auto _ : state) {
    std::fill(density.begin(), density.end(), 1);
    ps.advance(density.data(), kW, kH, kPitch, text.data(), kPitch);
    benchmark::DoNotOptimize(density.data());
  }
  state.counters["particles"] = ps.activeCount();
}

void BM_AdvanceMemoryOrder(benchmark::State& state) { runPasses(state, false); }
void BM_AdvanceScrambledRing(benchmark::State& state) { runPasses(state, true); }

BENCHMARK(BM_AdvanceMemoryOrder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AdvanceScrambledRing)->Unit(benchmark::kMillisecond);

}  // namespace
