// MMA: a per-channel vector plus a per-pixel map, times the input.
#include "impl_x86/elementwise_kernels.h"

namespace TAVROMATTING {

void MmaReference(const float* x, const float* v, const float* s, float* out, uint64_t pixels,
                  int C, const FusedAct& act) {
  for (uint64_t p = 0; p < pixels; ++p)
    for (int c = 0; c < C; ++c)
      out[p * C + c] = ApplyFusedScalar(act, (v[c] + s[p]) * x[p * C + c]);
}

void MmaSse(const float* x, const float* v, const float* s, float* out, uint64_t pixels, int C,
            const FusedAct& act) {
  for (uint64_t p = 0; p < pixels; ++p) {
    const __m128 sp = _mm_set1_ps(s[p]);
    for (int c = 0; c + 4 <= C; c += 4) {
      __m128 y = _mm_mul_ps(_mm_add_ps(_mm_loadu_ps(v + c), sp), _mm_loadu_ps(x + p * C + c));
      _mm_storeu_ps(out + p * C + c, ApplyFusedSse(act, y));
    }
  }
}

}  // namespace TAVROMATTING
