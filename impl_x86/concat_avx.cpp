// Channel concatenation, AVX member: each input's channels of a pixel are
// copied 8 at a time, the remainder 4 at a time and then singly; the two-
// and three-input cases are unrolled.
#include <immintrin.h>

#include "impl_x86/elementwise_kernels.h"

#pragma GCC push_options
#pragma GCC target("avx")

namespace TAVROMATTING {
namespace {

inline void CopyChannels(float* dst, const float* src, int n) {
  int c = 0;
  for (; c + 8 <= n; c += 8) _mm256_storeu_ps(dst + c, _mm256_loadu_ps(src + c));
  for (; c + 4 <= n; c += 4) _mm_storeu_ps(dst + c, _mm_loadu_ps(src + c));
  for (; c < n; ++c) dst[c] = src[c];
}

}  // namespace

void ConcatAvx(const float* const* ins, const int* cs, int n, float* out, uint64_t pixels) {
  int C = 0;
  for (int i = 0; i < n; ++i) C += cs[i];
  if (n == 2) {
    for (uint64_t p = 0; p < pixels; ++p) {
      float* o = out + p * C;
      CopyChannels(o, ins[0] + p * cs[0], cs[0]);
      CopyChannels(o + cs[0], ins[1] + p * cs[1], cs[1]);
    }
    return;
  }
  if (n == 3) {
    for (uint64_t p = 0; p < pixels; ++p) {
      float* o = out + p * C;
      CopyChannels(o, ins[0] + p * cs[0], cs[0]);
      CopyChannels(o + cs[0], ins[1] + p * cs[1], cs[1]);
      CopyChannels(o + cs[0] + cs[1], ins[2] + p * cs[2], cs[2]);
    }
    return;
  }
  for (uint64_t p = 0; p < pixels; ++p) {
    float* o = out + p * C;
    for (int i = 0; i < n; ++i) {
      CopyChannels(o, ins[i] + p * cs[i], cs[i]);
      o += cs[i];
    }
  }
}

}  // namespace TAVROMATTING

#pragma GCC pop_options
