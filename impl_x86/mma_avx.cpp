// MMA, AVX member (C % 8 == 0): y[p, c] = (v[c] + s[p]) * x[p, c], then the
// fused activation.
#include "impl_x86/avx_util.h"
#include "impl_x86/elementwise_kernels.h"

#pragma GCC push_options
#pragma GCC target("avx")

namespace TAVROMATTING {

void MmaAvx(const float* x, const float* v, const float* s, float* out, uint64_t pixels, int C,
            const FusedAct& act) {
  const __m256 zero = _mm256_setzero_ps();
  for (uint64_t p = 0; p < pixels; ++p) {
    const __m256 sp = _mm256_set1_ps(s[p]);
    for (int c = 0; c < C; c += 8) {
      __m256 y = _mm256_mul_ps(_mm256_add_ps(_mm256_loadu_ps(v + c), sp),
                               _mm256_loadu_ps(x + p * C + c));
      switch (act.kind) {
        case kActRelu: y = _mm256_max_ps(y, zero); break;
        case kActClippedRelu:
          y = _mm256_min_ps(_mm256_max_ps(y, zero), _mm256_set1_ps(act.upper));
          break;
        case kActLeakyRelu:
          y = _mm256_add_ps(_mm256_max_ps(y, zero),
                            _mm256_mul_ps(_mm256_set1_ps(act.slope), _mm256_min_ps(y, zero)));
          break;
        default: break;
      }
      _mm256_storeu_ps(out + p * C + c, y);
    }
  }
}

}  // namespace TAVROMATTING

#pragma GCC pop_options
