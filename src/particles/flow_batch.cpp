// The flow-field step in the chosen instruction set's copy.
#include "particles/flow_batch.h"

#include "particles/simd_target.h"

namespace nebla::particles {

void moveBatch(FlowBatch& batch, const FlowConstants& constants) {
  switch (simd::currentTarget()) {
#if defined(__x86_64__) && defined(NEBLA_SIMD_X86)
    case simd::Target::Avx512: simd::moveBatchAvx512(batch, constants); return;
    case simd::Target::Avx2: simd::moveBatchAvx2(batch, constants); return;
#endif
    default: simd::moveBatchPortable(batch, constants);
  }
}

}  // namespace nebla::particles
