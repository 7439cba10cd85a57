// MMA: a per-channel vector plus a per-pixel map, times the input.
#include "impl_x86/elementwise_body.h"
#include "impl_x86/elementwise_kernels.h"
#include "impl_x86/vec_sse.h"

namespace TAVROMATTING {

void MmaReference(const float* x, const float* v, const float* s, float* out, uint64_t pixels,
                  int C, const FusedAct& act) {
  for (uint64_t p = 0; p < pixels; ++p)
    for (int c = 0; c < C; ++c)
      out[p * C + c] = ApplyFusedScalar(act, (v[c] + s[p]) * x[p * C + c]);
}

void MmaSse(const float* x, const float* v, const float* s, float* out, uint64_t pixels, int C,
            const FusedAct& act) {
  Mma<Sse4>(x, v, s, out, pixels, C, act);
}

}  // namespace TAVROMATTING
