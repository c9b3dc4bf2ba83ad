// The particle pool: a fixed array of records threaded into an active ring
// and a free ring by array index, and the per-frame pass that moves and
// splats every live particle.
#pragma once

#include <cstdint>

#include "particles/image_view.h"

namespace nebla::particles {

struct PassWorkspace;

struct Particle {
  float x;
  float y;
  float z;
  float vx;
  float vy;
  float vz;
  std::int32_t next;
  std::int32_t prev;
  float targetX;
  float targetY;
  std::uint16_t travelTime;
  std::uint16_t life;
  bool stamp;
};

class ParticleSystem {
 public:
  Particle* records;  // poolSize records, taken from the process heap once
  std::int32_t activeHead;
  std::int32_t freeHead;
  std::uint32_t poolSize;
  std::int32_t liveCount;
  std::uint32_t frameCounter;
  double windX;
  double windY;
  // Passes so far that split their walk in two halves, the second offered
  // to the helper thread. A split that kept falling back to one thread
  // would leave every frame the same and cost only speed; this shows it.
  std::uint32_t splitPasses;

  // Built once by the Application with 100,000 records (at least 3). If the
  // heap refuses the records, `records` stays null and nothing else may be
  // called; the entry function checks for that.
  explicit ParticleSystem(std::uint32_t size);
  ~ParticleSystem();
  ParticleSystem(const ParticleSystem&) = delete;
  ParticleSystem& operator=(const ParticleSystem&) = delete;

  // Emitters, the glyph emitter and the page dissolve create particles
  // here; a full pool drops the request silently.
  void spawn(std::uint16_t life, std::int16_t x, std::int16_t y, std::uint16_t z, double vx,
             double vy, double vz, std::int16_t targetX, std::int16_t targetY, bool stamp);
  // The pass gives a dead particle's record back; sentinels are ignored.
  // The pass uses releaseRecord; a release from elsewhere makes the next
  // fast pass walk the ring link by link.
  void release(std::int32_t index);
  // The overlay shows this as the particle count.
  std::int32_t activeCount() const { return liveCount; }

  // One pass per frame, with both surfaces locked by the frame step: ages,
  // moves, splats and stamps every live particle and releases the dead,
  // then counts the frame. Batched and vectorised; it leaves exactly the
  // state advanceReference leaves, bit for bit.
  // Both images are width x height.
  void advance(ImageView density, ImageView textLayer, std::uint32_t width, std::uint32_t height);
  // The same pass written plainly, one particle at a time in ring order.
  // Tests and benchmarks hold the fast pass against it.
  void advanceReference(ImageView density, ImageView textLayer, std::uint32_t width,
                        std::uint32_t height);
  // The window procedure sets the wind on every tick and cursor key.
  void setWind(float wx, float wy);

 private:
  friend class FastPass;

  void initRings();
  void allocateWorkspace();
  // Moves a live record to the free ring; the pass's own release.
  void releaseRecord(std::int32_t index);
  void moveParticle(Particle& p);

  // Scratch space of the fast pass, taken from the process heap with the
  // records. Null if the heap refused it; the pass is then the plain one.
  PassWorkspace* work_ = nullptr;
};

}  // namespace nebla::particles
