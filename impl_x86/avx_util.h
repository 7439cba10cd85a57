// 8-wide helpers shared by the AVX, AVX+FMA and AVX2+FMA kernels. This header
// is included only by translation units whose kernels run after a CPUID check;
// everything below is compiled for AVX+FMA through the target pragma, so the
// rest of the module still runs on processors without AVX.
#pragma once

#include <immintrin.h>

#include <cstring>

#include "impl_x86/activation.h"

#pragma GCC push_options
#pragma GCC target("avx,fma")

namespace TAVROMATTING {
namespace avx {

// The fused activation (kActRelu, kActClippedRelu, kActLeakyRelu; any other kind leaves v unchanged).
inline __m256 ApplyFused(const FusedAct& a, __m256 v) {
  switch (a.kind) {
    case kActRelu: return _mm256_max_ps(v, _mm256_setzero_ps());
    case kActClippedRelu:
      return _mm256_min_ps(_mm256_max_ps(v, _mm256_setzero_ps()), _mm256_set1_ps(a.upper));
    case kActLeakyRelu:
      return _mm256_fmadd_ps(_mm256_set1_ps(a.slope), _mm256_min_ps(v, _mm256_setzero_ps()),
                             _mm256_max_ps(v, _mm256_setzero_ps()));
    default: return v;
  }
}

inline __m128 ApplyFused4(const FusedAct& a, __m128 v) {
  switch (a.kind) {
    case kActRelu: return _mm_max_ps(v, _mm_setzero_ps());
    case kActClippedRelu: return _mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), _mm_set1_ps(a.upper));
    case kActLeakyRelu:
      return _mm_fmadd_ps(_mm_set1_ps(a.slope), _mm_min_ps(v, _mm_setzero_ps()),
                          _mm_max_ps(v, _mm_setzero_ps()));
    default: return v;
  }
}

// Stores LANES (a multiple of 8) floats of v[], or only the first `valid`.
template <int LANES>
inline void Store(float* dst, const __m256* v, int valid) {
  if (valid >= LANES) {
    for (int j = 0; j < LANES / 8; ++j) _mm256_storeu_ps(dst + 8 * j, v[j]);
  } else {
    alignas(32) float tmp[LANES];
    for (int j = 0; j < LANES / 8; ++j) _mm256_store_ps(tmp + 8 * j, v[j]);
    std::memcpy(dst, tmp, sizeof(float) * valid);
  }
}

inline float HorizontalSum(__m256 v) {
  __m128 s = _mm_add_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
  s = _mm_add_ps(s, _mm_movehl_ps(s, s));
  s = _mm_add_ss(s, _mm_shuffle_ps(s, s, 1));
  return _mm_cvtss_f32(s);
}

}  // namespace avx
}  // namespace TAVROMATTING

#pragma GCC pop_options
