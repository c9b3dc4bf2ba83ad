// The flow-field step over vectors of lanes. This file is compiled once per
// instruction set, with NEBLA_SIMD_FUNCTION naming that set's entry point
// and NEBLA_SIMD_LANES its vector width; everything else here is internal,
// so the copies never mix.
#include "particles/flow_batch.h"
#include "particles/lanes.h"
#include "particles/trig_lanes.h"

#if !defined(NEBLA_SIMD_FUNCTION) || !defined(NEBLA_SIMD_LANES)
#error "NEBLA_SIMD_FUNCTION and NEBLA_SIMD_LANES name the copy being built"
#endif

namespace nebla::particles::simd {
namespace {

using namespace lanes;

#if NEBLA_SIMD_LANES == 8
using V = D8;
typedef float Floats __attribute__((vector_size(32)));
typedef std::int32_t Ints __attribute__((vector_size(32)));
#elif NEBLA_SIMD_LANES == 4
using V = D4;
typedef float Floats __attribute__((vector_size(16)));
typedef std::int32_t Ints __attribute__((vector_size(16)));
#elif NEBLA_SIMD_LANES == 2
using V = D2;
typedef float Floats __attribute__((vector_size(8)));
typedef std::int32_t Ints __attribute__((vector_size(8)));
#else
#error "NEBLA_SIMD_LANES must be 2, 4 or 8"
#endif

constexpr int kLanes = NEBLA_SIMD_LANES;
static_assert(kBatchSize % 8 == 0 && kLanes <= 8, "batches are padded to 8 lanes");

inline V load(const double* from) {
  V v;
  __builtin_memcpy(&v, from, sizeof v);
  return v;
}

template <class T>
inline V load(const T* from) {
  typedef T Narrow __attribute__((vector_size(sizeof(T) * kLanes)));
  Narrow v;
  __builtin_memcpy(&v, from, sizeof v);
  return __builtin_convertvector(v, V);
}

inline Floats toFloat(V v) { return __builtin_convertvector(v, Floats); }

inline void store(float* to, V v) {
  const Floats narrow = toFloat(v);
  __builtin_memcpy(to, &narrow, sizeof narrow);
}

// The value a float variable would hold.
inline V roundToFloat(V v) { return __builtin_convertvector(toFloat(v), V); }

// The cell a particle draws at, noted before the move: the float position
// compared with the bounds is the same as its truncation compared.
inline void noteCells(FlowBatch& b, const FlowConstants& c, int at, V px, V py) {
  const BitsOf<V> inside = ~lessThan(px, splat<V>(3.0)) & lessThan(px, splat<V>(c.right)) &
                           ~lessThan(py, splat<V>(3.0)) & lessThan(py, splat<V>(c.bottom));
  const Ints ix = __builtin_convertvector(select<V>(inside, px, V{}), Ints);
  const Ints iy = __builtin_convertvector(select<V>(inside, py, V{}), Ints);
  const Ints cell = (iy + 2) * c.cellStride + ix + 2;
  const Ints drawn = __builtin_convertvector(inside, Ints);
  const Ints noted = cell | ~drawn;
  __builtin_memcpy(b.cell + at, &noted, sizeof noted);
}

#ifndef NEBLA_TRIG_GROUP
#define NEBLA_TRIG_GROUP 2
#endif
inline void evaluateInGroups(const V (&args)[6], V (&waves)[6]) {
  constexpr int g = NEBLA_TRIG_GROUP;
  for (int i = 0; i < 6; i += g) {
    V a[g], w[g];
    int shift[g];
    for (int j = 0; j < g; ++j) {
      a[j] = args[i + j];
      shift[j] = (i + j) % 2;
    }
    trig::evaluate<V, g>(a, shift, w);
    for (int j = 0; j < g; ++j) waves[i + j] = w[j];
  }
}

// The plain pass's arithmetic, in its order, for the lanes from `at` on.
inline void moveLanes(FlowBatch& b, const FlowConstants& c, int at) {
  const V px = load(b.x + at), py = load(b.y + at), pz = load(b.z + at);
  noteCells(b, c, at, px, py);
  const V args[6] = {py / 9.0 + load(b.sweep + at), pz / 11.0 + c.phase1, px / 14.0 + c.phase2,
                     pz / 16.0 + c.phase3,          px / 17.0 + c.phase4, py / 21.0 + c.phase5};
  V waves[6];
  evaluateInGroups(args, waves);
  const V fx = roundToFloat(waves[0] + waves[1] + c.windX);
  const V ax = fx + load(b.random + at) * 0.0001 - 0.33;
  const V fy = roundToFloat(waves[2] + waves[3] + c.windY - 0.5);
  const V fz = roundToFloat(waves[4] + waves[5]);
  V vx = load(b.vx + at), vy = load(b.vy + at), vz = load(b.vz + at);
  vx = roundToFloat(vx + (ax - 0.25 * vx));
  vy = roundToFloat(vy + (fy - 0.25 * vy));
  vz = roundToFloat(vz + (fz - 0.25 * vz));
  V nx = px + vx, ny = py + vy;
  const V nz = pz + vz;
  const V travel = load(b.travelTime + at);
  const BitsOf<V> pulled = notEqual(travel, V{});
  if (any<V>(pulled)) {
    V k = (travel - load(b.life + at)) / select<V>(pulled, travel, splat<V>(1.0));
    k = k * k;
    nx = select<V>(pulled, nx + k * (load(b.targetX + at) - nx), nx);
    ny = select<V>(pulled, ny + k * (load(b.targetY + at) - ny), ny);
  }
  store(b.vx + at, vx);
  store(b.vy + at, vy);
  store(b.vz + at, vz);
  store(b.x + at, nx);
  store(b.y + at, ny);
  store(b.z + at, nz);
}

}  // namespace

void NEBLA_SIMD_FUNCTION(FlowBatch& batch, const FlowConstants& constants) {
  for (int at = 0; at < batch.count; at += kLanes) moveLanes(batch, constants, at);
}

}  // namespace nebla::particles::simd
