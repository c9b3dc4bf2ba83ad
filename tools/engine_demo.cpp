// A display-free look at the particle engine: one burst of smoke, 100
// passes, the live count and a checksum of the density image every 10.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "particles/particle_system.h"
#include "particles/random.h"

int main() {
  using nebla::particles::ParticleSystem;
  constexpr std::uint32_t w = 640, h = 480;
  ParticleSystem ps(100000);
  if (ps.records == nullptr) {
    std::fprintf(stderr, "no memory for the particle pool\n");
    return 1;
  }
  std::vector<std::uint8_t> density(w * h), text(w * h, 1);
  for (int i = 0; i < 5000; ++i) {
    double vx = (nebla::particles::rand() % 1000 * 0.001 - 0.5) * 2.5;
    ps.spawn(static_cast<std::uint16_t>(nebla::particles::rand() % 70 + 31), 320, 400, 500, vx, 0, 0, -1, -1, false);
  }
  for (int pass = 1; pass <= 100; ++pass) {
    std::fill(density.begin(), density.end(), 1);
    ps.advance(density.data(), w, h, w, text.data(), w);
    if (pass % 10 != 0) continue;
    std::uint64_t sum = 0;
    for (std::uint8_t b : density) sum = sum * 31 + b;
    std::printf("pass %3d  live %5d  checksum %016llx\n", pass, ps.activeCount(),
                static_cast<unsigned long long>(sum));
  }
  return 0;
}
