// Batch normalisation folded into y = x * a[c] + b[c].
#include <cmath>

#include "impl_x86/elementwise_kernels.h"
#include "impl_x86/sse_util.h"

namespace TAVROMATTING {

void BatchnormCoefficients(const float* scale, const float* bias, const float* mean,
                           const float* var, float eps, int C, float* a, float* b) {
  for (int c = 0; c < C; ++c) {
    const float s = std::sqrt(var[c] + eps);
    a[c] = scale[c] / s;
    b[c] = bias[c] - mean[c] * scale[c] / s;
  }
}

void BatchnormReference(const float* in, float* out, uint64_t pixels, int C, const float* a,
                        const float* b) {
  for (uint64_t p = 0; p < pixels; ++p)
    for (int c = 0; c < C; ++c) out[p * C + c] = in[p * C + c] * a[c] + b[c];
}

void BatchnormSse(const float* in, float* out, uint64_t pixels, int C, const float* a,
                  const float* b) {
  if (C % 4 == 0 && C <= 16) {  // unrolled: all coefficients of a pixel in registers
    __m128 va[4], vb[4];
    const int R = C / 4;
    for (int j = 0; j < R; ++j) {
      va[j] = _mm_loadu_ps(a + 4 * j);
      vb[j] = _mm_loadu_ps(b + 4 * j);
    }
    for (uint64_t p = 0; p < pixels; ++p) {
      const float* x = in + p * C;
      float* y = out + p * C;
      for (int j = 0; j < R; ++j)
        _mm_storeu_ps(y + 4 * j, _mm_add_ps(_mm_mul_ps(_mm_loadu_ps(x + 4 * j), va[j]), vb[j]));
    }
    return;
  }
  for (uint64_t p = 0; p < pixels; ++p) {
    const float* x = in + p * C;
    float* y = out + p * C;
    int c = 0;
    for (; c + 4 <= C; c += 4)
      _mm_storeu_ps(y + c, _mm_add_ps(_mm_mul_ps(_mm_loadu_ps(x + c), _mm_loadu_ps(a + c)),
                                      _mm_loadu_ps(b + c)));
    for (; c < C; ++c) y[c] = x[c] * a[c] + b[c];
  }
}

}  // namespace TAVROMATTING
