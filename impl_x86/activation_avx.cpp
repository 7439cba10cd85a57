// Activation members on 8-wide registers. The AVX member (x86 kinds 5 and 7)
// uses the floor-form exponential; the AVX2+FMA member (every kind) uses the
// rounding form with one fused multiply-add for the range reduction. Both use
// the approximate reciprocal in the vector loop and leave the tail to the
// exact scalar formulas.
#include <immintrin.h>

#include <cstring>

#include "impl_x86/activation.h"

namespace TAVROMATTING {

#pragma GCC push_options
#pragma GCC target("avx")

namespace {

inline __m256 Poly(__m256 r) {
  __m256 p = _mm256_set1_ps(1.9875691e-4f);
  p = _mm256_add_ps(_mm256_mul_ps(p, r), _mm256_set1_ps(1.3981999e-3f));
  p = _mm256_add_ps(_mm256_mul_ps(p, r), _mm256_set1_ps(8.3334519e-3f));
  p = _mm256_add_ps(_mm256_mul_ps(p, r), _mm256_set1_ps(4.1665796e-2f));
  p = _mm256_add_ps(_mm256_mul_ps(p, r), _mm256_set1_ps(1.6666666e-1f));
  p = _mm256_add_ps(_mm256_mul_ps(p, r), _mm256_set1_ps(0.5f));
  return _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(p, _mm256_mul_ps(r, r)), r),
                       _mm256_set1_ps(1.f));
}

// 2^n for integral n in [-127, 128], built in the exponent field (128-bit
// integer halves: AVX has no 256-bit integer arithmetic).
inline __m256 Pow2Avx(__m256 n) {
  const __m256i ni = _mm256_cvttps_epi32(n);
  const __m128i bias = _mm_set1_epi32(127);
  __m128i lo = _mm_slli_epi32(_mm_add_epi32(_mm256_castsi256_si128(ni), bias), 23);
  __m128i hi = _mm_slli_epi32(_mm_add_epi32(_mm256_extractf128_si256(ni, 1), bias), 23);
  return _mm256_castsi256_ps(_mm256_insertf128_si256(_mm256_castsi128_si256(lo), hi, 1));
}

// exp(x), floor form.
inline __m256 ExpFloorAvx(__m256 x) {
  x = _mm256_min_ps(_mm256_max_ps(x, _mm256_set1_ps(-88.37626f)), _mm256_set1_ps(88.37626f));
  const __m256 t = _mm256_add_ps(_mm256_mul_ps(x, _mm256_set1_ps(1.442695f)), _mm256_set1_ps(0.5f));
  const __m256 tr = _mm256_cvtepi32_ps(_mm256_cvttps_epi32(t));
  const __m256 n =
      _mm256_sub_ps(tr, _mm256_and_ps(_mm256_cmp_ps(tr, t, _CMP_GT_OS), _mm256_set1_ps(1.f)));
  const __m256 r = _mm256_sub_ps(_mm256_sub_ps(x, _mm256_mul_ps(n, _mm256_set1_ps(0.693359375f))),
                                 _mm256_mul_ps(n, _mm256_set1_ps(-2.1219444e-4f)));
  return _mm256_mul_ps(Poly(r), Pow2Avx(n));
}

}  // namespace

void ActivationAvx(const ActivationArgs& a, const float* in, float* out, uint64_t count) {
  if (a.kind != kActSigmoid && a.kind != kActSwish) {
    ActivationSse(a, in, out, count);
    return;
  }
  const uint64_t vec = count / 8 * 8;
  const __m256 zero = _mm256_setzero_ps(), one = _mm256_set1_ps(1.f);
  uint64_t i = 0;
  for (; i < vec; i += 8) {
    const __m256 v = _mm256_loadu_ps(in + i);
    const __m256 r = _mm256_rcp_ps(_mm256_add_ps(one, ExpFloorAvx(_mm256_sub_ps(zero, v))));
    _mm256_storeu_ps(out + i, a.kind == kActSwish ? _mm256_mul_ps(v, r) : r);
  }
  ActivationScalar(a, in, out, i, count);
}

#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx2,fma")

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
  const uint64_t vec = count / 8 * 8;
  const __m256 zero = _mm256_setzero_ps(), one = _mm256_set1_ps(1.f);
  uint64_t i = 0;
  switch (a.kind) {
    case kActRelu:
      for (; i < vec; i += 8) _mm256_storeu_ps(out + i, _mm256_max_ps(_mm256_loadu_ps(in + i), zero));
      break;
    case kActClippedRelu: {
      const __m256 up = _mm256_set1_ps(a.upper);
      for (; i < vec; i += 8)
        _mm256_storeu_ps(out + i, _mm256_min_ps(_mm256_max_ps(_mm256_loadu_ps(in + i), zero), up));
      break;
    }
    case kActChannelLeakyRelu:
    case kActTanh:
      ActivationSse(a, in, out, count);  // per-channel slopes / library tanh
      return;
    case kActSigmoid:
      for (; i < vec; i += 8) {
        const __m256 e = ExpRoundFma(_mm256_sub_ps(zero, _mm256_loadu_ps(in + i)));
        _mm256_storeu_ps(out + i, _mm256_rcp_ps(_mm256_add_ps(one, e)));
      }
      break;
    case kActLeakyRelu: {
      const __m256 s = _mm256_set1_ps(a.slope);
      for (; i < vec; i += 8) {
        const __m256 v = _mm256_loadu_ps(in + i);
        _mm256_storeu_ps(out + i,
                         _mm256_fmadd_ps(_mm256_min_ps(v, zero), s, _mm256_max_ps(v, zero)));
      }
      break;
    }
    case kActSwish:
      for (; i < vec; i += 8) {
        const __m256 v = _mm256_loadu_ps(in + i);
        const __m256 e = ExpRoundFma(_mm256_sub_ps(zero, v));
        _mm256_storeu_ps(out + i, _mm256_mul_ps(v, _mm256_rcp_ps(_mm256_add_ps(one, e))));
      }
      break;
    case kActHardSigmoid:
    case kActHardSwish: {
      const __m256 k6 = _mm256_set1_ps(0.16666667f), half = _mm256_set1_ps(0.5f);
      for (; i < vec; i += 8) {
        const __m256 v = _mm256_loadu_ps(in + i);
        const __m256 r = _mm256_min_ps(_mm256_max_ps(_mm256_fmadd_ps(v, k6, half), zero), one);
        _mm256_storeu_ps(out + i, a.kind == kActHardSwish ? _mm256_mul_ps(v, r) : r);
      }
      break;
    }
    default:
      if (in != out) std::memmove(out, in, count * 4);
      return;
  }
  ActivationScalar(a, in, out, i, count);
}

#pragma GCC pop_options

}  // namespace TAVROMATTING
