// Batch normalisation y = x * a[c] + b[c], AVX2+FMA member (C % 8 == 0):
// unrolled paths for C = 32, 24, 16 and 8 keep every coefficient of a pixel
// in registers; other multiples of 8 loop over the channels.
#include "impl_x86/avx_util.h"
#include "impl_x86/elementwise_kernels.h"

#pragma GCC push_options
#pragma GCC target("avx2,fma")

namespace TAVROMATTING {
namespace {

template <int C>
void Unrolled(const float* in, float* out, uint64_t pixels, const float* a, const float* b) {
  constexpr int R = C / 8;
  __m256 va[R], vb[R];
  for (int j = 0; j < R; ++j) {
    va[j] = _mm256_loadu_ps(a + 8 * j);
    vb[j] = _mm256_loadu_ps(b + 8 * j);
  }
  for (uint64_t p = 0; p < pixels; ++p) {
    const float* x = in + p * C;
    float* y = out + p * C;
    for (int j = 0; j < R; ++j)
      _mm256_storeu_ps(y + 8 * j, _mm256_fmadd_ps(_mm256_loadu_ps(x + 8 * j), va[j], vb[j]));
  }
}

}  // namespace

void BatchnormAvx2(const float* in, float* out, uint64_t pixels, int C, const float* a,
                   const float* b) {
  switch (C) {
    case 32: Unrolled<32>(in, out, pixels, a, b); return;
    case 24: Unrolled<24>(in, out, pixels, a, b); return;
    case 16: Unrolled<16>(in, out, pixels, a, b); return;
    case 8: Unrolled<8>(in, out, pixels, a, b); return;
    default: break;
  }
  for (uint64_t p = 0; p < pixels; ++p) {
    const float* x = in + p * C;
    float* y = out + p * C;
    for (int c = 0; c < C; c += 8)
      _mm256_storeu_ps(y + c, _mm256_fmadd_ps(_mm256_loadu_ps(x + c), _mm256_loadu_ps(a + c),
                                              _mm256_loadu_ps(b + c)));
  }
}

}  // namespace TAVROMATTING

#pragma GCC pop_options
