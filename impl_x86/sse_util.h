// Small SSE helpers shared by the kernels.
#pragma once

#include <emmintrin.h>

#include <cstring>

namespace TAVROMATTING {

// Stores `lanes` (multiple of 4) floats of v[], or only the first `valid`.
template <int LANES>
inline void StoreLanes(float* dst, const __m128* v, int valid) {
  if (valid >= LANES) {
    for (int j = 0; j < LANES / 4; ++j) _mm_storeu_ps(dst + 4 * j, v[j]);
  } else {
    alignas(16) float tmp[LANES];
    for (int j = 0; j < LANES / 4; ++j) _mm_store_ps(tmp + 4 * j, v[j]);
    std::memcpy(dst, tmp, sizeof(float) * valid);
  }
}

inline float HorizontalSum(__m128 v) {
  __m128 s = _mm_add_ps(v, _mm_movehl_ps(v, v));
  s = _mm_add_ss(s, _mm_shuffle_ps(s, s, 1));
  return _mm_cvtss_f32(s);
}

}  // namespace TAVROMATTING
