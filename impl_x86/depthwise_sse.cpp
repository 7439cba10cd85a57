// Depthwise convolution (one filter per channel), SSE members of block 4 and
// 8: lane i of a register always holds channel i of the block, no broadcast.
// Rows are split into borders (clipped windows) and an interior of 4 pixels
// per step; the 3x3 stride-1 members fix the window at compile time.
#include "impl_x86/conv_kernels.h"
#include "impl_x86/sse_util.h"
#include "impl_x86/weight_layout.h"

namespace TAVROMATTING {
namespace {

template <int B, int K, int S>  // K, S: 0 = taken from the arguments
void Depthwise(const ConvArgs& a) {
  constexpr int R = B / 4;
  const int C = a.C;
  const int kh = K ? K : a.kh, kw = K ? K : a.kw;
  const int sw = S ? S : a.sw, sh = S ? S : a.sh;
  const int nb = (C + B - 1) / B;
  const int valid = C < B ? C : B;
  int left, right;
  SplitColumns(a, 4, &left, &right);
  for (int oy = 0; oy < a.Ho; ++oy) {
    const int iy0 = oy * sh - a.padT;
    int ky0, ky1;
    ClipTaps(iy0, a.dh, kh, a.H, &ky0, &ky1);
    float* orow = a.out + size_t(oy) * a.Wo * C;
    for (int blk = 0; blk < nb; ++blk) {
      const int m0 = int(layout::BlockStart(blk, B, C));
      const float* wb = a.weight + size_t(blk) * kh * kw * B;
      __m128 bias[R];
#pragma GCC unroll 16
      for (int j = 0; j < R; ++j)
        bias[j] = a.bias ? _mm_loadu_ps(a.bias + m0 + 4 * j) : _mm_setzero_ps();
      auto borderPixel = [&](int ox) {
        const int ix0 = ox * sw - a.padL;
        int kx0, kx1;
        ClipTaps(ix0, a.dw, kw, a.W, &kx0, &kx1);
        __m128 acc[R];
#pragma GCC unroll 16
        for (int j = 0; j < R; ++j) acc[j] = bias[j];
        for (int ky = ky0; ky < ky1; ++ky)
          for (int kx = kx0; kx < kx1; ++kx) {
            const float* x = a.in + (size_t(iy0 + ky * a.dh) * a.W + ix0 + kx * a.dw) * C + m0;
            const float* wp = wb + (ky * kw + kx) * B;
#pragma GCC unroll 16
            for (int j = 0; j < R; ++j)
              acc[j] = _mm_add_ps(acc[j],
                                  _mm_mul_ps(_mm_loadu_ps(x + 4 * j), _mm_loadu_ps(wp + 4 * j)));
          }
#pragma GCC unroll 16
        for (int j = 0; j < R; ++j) acc[j] = ApplyFusedSse(a.act, acc[j]);
        StoreLanes<B>(orow + size_t(ox) * C + m0, acc, valid);
      };
      for (int ox = 0; ox < left; ++ox) borderPixel(ox);
      for (int ox = left; ox < right; ox += 4) {
        const int ix0 = ox * sw - a.padL;
        __m128 acc[4][R];
#pragma GCC unroll 16
        for (int i = 0; i < 4; ++i)
#pragma GCC unroll 16
          for (int j = 0; j < R; ++j) acc[i][j] = bias[j];
        for (int ky = ky0; ky < ky1; ++ky) {
          const float* xr = a.in + (size_t(iy0 + ky * a.dh) * a.W + ix0) * C + m0;
          for (int kx = 0; kx < kw; ++kx) {
            const float* wp = wb + (ky * kw + kx) * B;
            __m128 wv[R];
#pragma GCC unroll 16
            for (int j = 0; j < R; ++j) wv[j] = _mm_loadu_ps(wp + 4 * j);
            const float* xk = xr + size_t(kx) * a.dw * C;
#pragma GCC unroll 16
            for (int i = 0; i < 4; ++i)
#pragma GCC unroll 16
              for (int j = 0; j < R; ++j)
                acc[i][j] = _mm_add_ps(
                    acc[i][j], _mm_mul_ps(_mm_loadu_ps(xk + size_t(i) * sw * C + 4 * j), wv[j]));
          }
        }
#pragma GCC unroll 16
        for (int i = 0; i < 4; ++i) {
#pragma GCC unroll 16
          for (int j = 0; j < R; ++j) acc[i][j] = ApplyFusedSse(a.act, acc[i][j]);
          StoreLanes<B>(orow + size_t(ox + i) * C + m0, acc[i], valid);
        }
      }
      for (int ox = right; ox < a.Wo; ++ox) borderPixel(ox);
    }
  }
}

}  // namespace

void DepthwiseSse4(const ConvArgs& a) { Depthwise<4, 0, 0>(a); }
void DepthwiseSse8(const ConvArgs& a) { Depthwise<8, 0, 0>(a); }
void Depthwise3x3S1Sse4(const ConvArgs& a) { Depthwise<4, 3, 1>(a); }
void Depthwise3x3S1Sse8(const ConvArgs& a) { Depthwise<8, 3, 1>(a); }

}  // namespace TAVROMATTING
