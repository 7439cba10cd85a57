// Batch normalisation folded into y = x * a[c] + b[c].
#include <cmath>

#include "impl_x86/elementwise_body.h"
#include "impl_x86/elementwise_kernels.h"
#include "impl_x86/vec_sse.h"

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
  Batchnorm<Sse4>(in, out, pixels, C, a, b);
}

}  // namespace TAVROMATTING
