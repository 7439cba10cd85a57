// Channel concatenation and the two-input channel shuffle.
#include <emmintrin.h>

#include <cstring>

#include "impl_x86/elementwise_kernels.h"

namespace TAVROMATTING {

void Concat(const float* const* ins, const int* cs, int n, float* out, uint64_t pixels) {
  int C = 0;
  for (int i = 0; i < n; ++i) C += cs[i];
  if (n == 2) {  // unrolled two-input path
    const float* a = ins[0];
    const float* b = ins[1];
    const size_t ca = size_t(cs[0]) * 4, cb = size_t(cs[1]) * 4;
    for (uint64_t p = 0; p < pixels; ++p) {
      float* o = out + p * C;
      std::memcpy(o, a + p * cs[0], ca);
      std::memcpy(o + cs[0], b + p * cs[1], cb);
    }
    return;
  }
  for (uint64_t p = 0; p < pixels; ++p) {
    float* o = out + p * C;
    for (int i = 0; i < n; ++i) {
      std::memcpy(o, ins[i] + p * cs[i], size_t(cs[i]) * 4);
      o += cs[i];
    }
  }
}

void Concat822(const float* a, const float* b, const float* c, float* out, uint64_t pixels) {
  for (uint64_t p = 0; p < pixels; ++p) {
    float* o = out + p * 12;
    const float* x = a + p * 8;
    for (int i = 0; i < 8; ++i) o[i] = x[i];
    o[8] = b[p * 2];
    o[9] = b[p * 2 + 1];
    o[10] = c[p * 2];
    o[11] = c[p * 2 + 1];
  }
}

// Interleave of n channels of a and b (n % 4 == 0): y = a0 b0 a1 b1 ...
static inline void Interleave4(const float* a, const float* b, int n, float* y) {
  for (int j = 0; j < n; j += 4) {
    const __m128 va = _mm_loadu_ps(a + j), vb = _mm_loadu_ps(b + j);
    _mm_storeu_ps(y + 2 * j, _mm_unpacklo_ps(va, vb));
    _mm_storeu_ps(y + 2 * j + 4, _mm_unpackhi_ps(va, vb));
  }
}

bool ShuffleSplit2(const float* A, const float* B, uint64_t pixels, int K, int g, float* out0,
                   float* out1) {
  if (g != 2 && g != K) return false;
  if (g == 2 && K % 8 == 0) {
    // Interleave: out0 gets A, B channels [0, K/2) interleaved and out1 the
    // rest (or out0 all 2K when there is one output).
    const int h = K / 2;
    const int s0 = out1 ? K : 2 * K;
    for (uint64_t p = 0; p < pixels; ++p) {
      const float* a = A + p * K;
      const float* b = B + p * K;
      float* o0 = out0 + p * s0;
      Interleave4(a, b, h, o0);
      Interleave4(a + h, b + h, h, out1 ? out1 + p * K : o0 + K);
    }
    return true;
  }
  const int s0 = out1 ? K : 2 * K;  // channels per pixel of out0
  for (uint64_t p = 0; p < pixels; ++p) {
    const float* a = A + p * K;
    const float* b = B + p * K;
    float* o0 = out0 + p * s0;
    float* o1 = out1 ? out1 + p * K : nullptr;
    // y[j] for j in [0, 2K): first K go to out0, the rest to out1 (or out0).
    auto put = [&](int j, float v) {
      if (!o1 || j < K)
        o0[j] = v;
      else
        o1[j - K] = v;
    };
    if (g == 2) {  // interleave: y[2j] = A[j], y[2j+1] = B[j]
      for (int j = 0; j < K; ++j) {
        put(2 * j, a[j]);
        put(2 * j + 1, b[j]);
      }
    } else {  // g == K: even channels of A|B, then odd ones
      for (int i = 0; i < K; ++i) {
        const int e = 2 * i, od = 2 * i + 1;
        put(i, e < K ? a[e] : b[e - K]);
        put(K + i, od < K ? a[od] : b[od - K]);
      }
    }
  }
  return true;
}

}  // namespace TAVROMATTING
