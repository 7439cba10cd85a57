// Convolution with one output channel: per output pixel, the dot product of
// the clipped window with the filter; each kernel row's columns and channels
// form one contiguous run, summed 4 at a time. Interior pixels go 4 at a time
// when the run is a multiple of 4 floats.
#include <xmmintrin.h>

#include "impl_x86/conv_kernels.h"
#include "impl_x86/sse_util.h"

namespace TAVROMATTING {

namespace {

// One output pixel with its window clipped to the image.
void BorderPixel(const ConvArgs& a, int oy, int ox, int iy0, int ky0, int ky1, float bias,
                 int outS) {
  const int Cin = a.Cin;
  int kx0, kx1;
  const int ix0 = ClipColumns(a, ox, a.kw, &kx0, &kx1);
  __m128 acc = _mm_setzero_ps();
  float tail = 0.f;
  for (int ky = ky0; ky < ky1; ++ky) {
    const float* x = a.in + (size_t(iy0 + ky * a.dh) * a.W + ix0 + kx0) * Cin;
    const float* wt = a.weight + (size_t(ky) * a.kw + kx0) * Cin;
    const int n = (kx1 - kx0) * Cin;
    int t = 0;
    for (; t + 4 <= n; t += 4)
      acc = _mm_add_ps(acc, _mm_mul_ps(_mm_loadu_ps(x + t), _mm_loadu_ps(wt + t)));
    for (; t < n; ++t) tail += x[t] * wt[t];
  }
  a.out[(size_t(oy) * a.Wo + ox) * outS] = bias + HorizontalSum(acc) + tail;
}

}  // namespace

void ConvSingleOutput(const ConvArgs& a) {
  const int Cin = a.Cin;
  const int inS = a.inStride ? a.inStride : Cin, outS = a.outStride ? a.outStride : 1;
  const float bias = a.bias ? a.bias[0] : 0.f;
  const bool contiguous = a.dw == 1 && inS == Cin;
  int left, right;
  SplitColumns(a, 1, &left, &right);
  for (int oy = 0; oy < a.Ho; ++oy) {
    int ky0, ky1;
    const int iy0 = ClipRows(a, oy, a.kh, &ky0, &ky1);
    int ox = 0;
    // Interior with runs that are a multiple of 4: 4 output pixels at a time
    // share each weight load; their 4 partial sums are reduced together.
    if (contiguous && (a.kw * Cin) % 4 == 0) {
      const int n = a.kw * Cin;
      for (; ox < left; ++ox) BorderPixel(a, oy, ox, iy0, ky0, ky1, bias, outS);
      for (; ox + 4 <= right; ox += 4) {
        __m128 acc[4] = {_mm_setzero_ps(), _mm_setzero_ps(), _mm_setzero_ps(), _mm_setzero_ps()};
        const size_t step = size_t(a.sw) * Cin;
        for (int ky = ky0; ky < ky1; ++ky) {
          const float* x = a.in + (size_t(iy0 + ky * a.dh) * a.W + ox * a.sw - a.padL) * Cin;
          const float* wt = a.weight + size_t(ky) * n;
          for (int t = 0; t < n; t += 4) {
            const __m128 wv = _mm_loadu_ps(wt + t);
#pragma GCC unroll 4
            for (int i = 0; i < 4; ++i)
              acc[i] = _mm_add_ps(acc[i], _mm_mul_ps(_mm_loadu_ps(x + i * step + t), wv));
          }
        }
        _MM_TRANSPOSE4_PS(acc[0], acc[1], acc[2], acc[3]);
        const __m128 sum =
            _mm_add_ps(_mm_add_ps(acc[0], acc[1]), _mm_add_ps(acc[2], acc[3]));
        alignas(16) float r[4];
        _mm_store_ps(r, sum);
        for (int i = 0; i < 4; ++i) a.out[(size_t(oy) * a.Wo + ox + i) * outS] = bias + r[i];
      }
    }
    for (; ox < a.Wo; ++ox) {
      const int ix0 = ox * a.sw - a.padL;
      int kx0 = 0, kx1 = a.kw;  // interior columns: the whole window
      if (ox < left || ox >= right) ClipTaps(ix0, a.dw, a.kw, a.W, &kx0, &kx1);
      __m128 acc = _mm_setzero_ps();
      float tail = 0.f;
      for (int ky = ky0; ky < ky1; ++ky) {
        const float* x = a.in + (size_t(iy0 + ky * a.dh) * a.W + ix0 + kx0 * a.dw) * inS;
        const float* wt = a.weight + (size_t(ky) * a.kw + kx0) * Cin;
        if (contiguous) {
          const int n = (kx1 - kx0) * Cin;
          int t = 0;
          for (; t + 4 <= n; t += 4)
            acc = _mm_add_ps(acc, _mm_mul_ps(_mm_loadu_ps(x + t), _mm_loadu_ps(wt + t)));
          for (; t < n; ++t) tail += x[t] * wt[t];
        } else {
          for (int kx = 0; kx < kx1 - kx0; ++kx)
            for (int k = 0; k < Cin; ++k) tail += x[size_t(kx) * a.dw * inS + k] * wt[kx * Cin + k];
        }
      }
      a.out[(size_t(oy) * a.Wo + ox) * outS] = bias + HorizontalSum(acc) + tail;
    }
  }
}

}  // namespace TAVROMATTING
