// Convolution with one output channel, fused multiply-add member (weight
// kPlain): per output pixel, each clipped kernel row is one run of columns x
// Cin floats, summed 8 wide.
#include "impl_x86/avx_util.h"
#include "impl_x86/conv_kernels.h"

#pragma GCC push_options
#pragma GCC target("avx,fma")

namespace TAVROMATTING {

void ConvSingleOutputFma(const ConvArgs& a) {
  const int Cin = a.Cin;
  const int inS = a.inStride ? a.inStride : Cin, outS = a.outStride ? a.outStride : 1;
  const float bias = a.bias ? a.bias[0] : 0.f;
  const bool contiguous = a.dw == 1 && inS == Cin;
  int left, right;
  SplitColumns(a, 1, &left, &right);
  for (int oy = 0; oy < a.Ho; ++oy) {
    int ky0, ky1;
    const int iy0 = ClipRows(a, oy, a.kh, &ky0, &ky1);
    for (int ox = 0; ox < a.Wo; ++ox) {
      const int ix0 = ox * a.sw - a.padL;
      int kx0 = 0, kx1 = a.kw;  // interior columns: the whole window
      if (ox < left || ox >= right) ClipTaps(ix0, a.dw, a.kw, a.W, &kx0, &kx1);
      __m256 acc = _mm256_setzero_ps();
      float tail = 0.f;
      for (int ky = ky0; ky < ky1; ++ky) {
        const float* x = a.in + (size_t(iy0 + ky * a.dh) * a.W + ix0 + kx0 * a.dw) * inS;
        const float* wt = a.weight + (size_t(ky) * a.kw + kx0) * Cin;
        if (contiguous) {
          const int n = (kx1 - kx0) * Cin;
          int t = 0;
          for (; t + 8 <= n; t += 8)
            acc = _mm256_fmadd_ps(_mm256_loadu_ps(x + t), _mm256_loadu_ps(wt + t), acc);
          for (; t < n; ++t) tail += x[t] * wt[t];
        } else {
          for (int kx = 0; kx < kx1 - kx0; ++kx)
            for (int k = 0; k < Cin; ++k) tail += x[size_t(kx) * a.dw * inS + k] * wt[kx * Cin + k];
        }
      }
      a.out[(size_t(oy) * a.Wo + ox) * outS] = bias + avx::HorizontalSum(acc) + tail;
    }
  }
}

}  // namespace TAVROMATTING

#pragma GCC pop_options
