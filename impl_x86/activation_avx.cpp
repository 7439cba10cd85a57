// Activation members on 8-wide registers. The AVX member (x86 kinds 5 and 7)
// uses the floor-form exponential; the AVX2+FMA member (every kind) uses the
// rounding form with one fused multiply-add for the range reduction. Both use
// the approximate reciprocal in the vector loop and leave the tail to the
// exact scalar formulas.
#include <immintrin.h>

#include <cstring>

#include "impl_x86/activation.h"
#include "impl_x86/vec_avx.h"

#pragma GCC push_options
#pragma GCC target("avx")

#include "impl_x86/activation_body.h"

namespace TAVROMATTING {

void ActivationAvx(const ActivationArgs& a, const float* in, float* out, uint64_t count) {
  if (a.kind != kActSigmoid && a.kind != kActSwish) {
    ActivationSse(a, in, out, count);
    return;
  }
  ActivationScalar(a, in, out, ActivationVector<Avx8, ExpFloor<Avx8>>(a, in, out, count), count);
}

}  // namespace TAVROMATTING

#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx2,fma")

namespace TAVROMATTING {
namespace {

// exp(x), rounding form.
inline __m256 ExpRoundFma(__m256 x) {
  x = _mm256_min_ps(_mm256_max_ps(x, _mm256_set1_ps(-88.37626f)), _mm256_set1_ps(88.37626f));
  const __m256 n = _mm256_round_ps(_mm256_mul_ps(x, _mm256_set1_ps(1.442695f)),
                                   _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
  const __m256 r = _mm256_fnmadd_ps(n, _mm256_set1_ps(0.6931472f), x);
  __m256 p = _mm256_set1_ps(1.9875691e-4f);
  p = _mm256_fmadd_ps(p, r, _mm256_set1_ps(1.3981999e-3f));
  p = _mm256_fmadd_ps(p, r, _mm256_set1_ps(8.3334519e-3f));
  p = _mm256_fmadd_ps(p, r, _mm256_set1_ps(4.1665796e-2f));
  p = _mm256_fmadd_ps(p, r, _mm256_set1_ps(1.6666666e-1f));
  p = _mm256_fmadd_ps(p, r, _mm256_set1_ps(0.5f));
  const __m256 y = _mm256_add_ps(_mm256_fmadd_ps(p, _mm256_mul_ps(r, r), r), _mm256_set1_ps(1.f));
  const __m256i e = _mm256_slli_epi32(
      _mm256_add_epi32(_mm256_cvtps_epi32(n), _mm256_set1_epi32(127)), 23);
  return _mm256_mul_ps(y, _mm256_castsi256_ps(e));
}

}  // namespace

void ActivationAvx2Fma(const ActivationArgs& a, const float* in, float* out, uint64_t count) {
  if (a.kind == kActChannelLeakyRelu || a.kind == kActTanh) {
    ActivationSse(a, in, out, count);  // per-channel slopes / library tanh
    return;
  }
  if (a.kind < kActRelu || a.kind > kActHardSwish) {
    if (in != out) std::memmove(out, in, count * 4);
    return;
  }
  ActivationScalar(a, in, out, ActivationVector<Fma8, ExpRoundFma>(a, in, out, count), count);
}

}  // namespace TAVROMATTING

#pragma GCC pop_options
