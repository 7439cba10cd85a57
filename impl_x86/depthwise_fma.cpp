// Depthwise convolution (one filter per channel) with 8-wide fused
// multiply-add: lane i of a register always holds channel i of the block.
// Portable members of block 8 and 16 (3x3 stride 1 and general) compute the
// interior 4 pixels per step; the x86 members (block 16, 3x3) are the general
// one (4 pixels per step) and the wide-row one for stride 1 (5 pixels per
// step, the interior rounded down to a multiple of 5).
#include "impl_x86/avx_util.h"
#include "impl_x86/conv_kernels.h"
#include "impl_x86/weight_layout.h"

#pragma GCC push_options
#pragma GCC target("avx,fma")

namespace TAVROMATTING {
namespace {

// B: channel block; K, S: kernel size and stride fixed (0 = from the args);
// T: interior pixels per step.
template <int B, int K, int S, int T>
void DepthwiseFma(const ConvArgs& a) {
  constexpr int R = B / 8;
  const int C = a.C;
  const int kh = K ? K : a.kh, kw = K ? K : a.kw;
  const int sw = S ? S : a.sw, sh = S ? S : a.sh;
  const int nb = (C + B - 1) / B;
  const int valid = C < B ? C : B;
  int left, right;
  SplitColumns(a, T, &left, &right);
  alignas(32) float biasBlock[B];
  for (int oy = 0; oy < a.Ho; ++oy) {
    const int iy0 = oy * sh - a.padT;
    int ky0, ky1;
    ClipTaps(iy0, a.dh, kh, a.H, &ky0, &ky1);
    float* orow = a.out + size_t(oy) * a.Wo * C;
    for (int blk = 0; blk < nb; ++blk) {
      const int m0 = int(layout::BlockStart(blk, B, C));
      const float* wb = a.weight + size_t(blk) * kh * kw * B;
      for (int j = 0; j < B; ++j) biasBlock[j] = (a.bias && m0 + j < C) ? a.bias[m0 + j] : 0.f;
      __m256 bias[R];
#pragma GCC unroll 16
      for (int j = 0; j < R; ++j) bias[j] = _mm256_load_ps(biasBlock + 8 * j);
      auto borderPixel = [&](int ox) {
        const int ix0 = ox * sw - a.padL;
        int kx0, kx1;
        ClipTaps(ix0, a.dw, kw, a.W, &kx0, &kx1);
        __m256 acc[R];
#pragma GCC unroll 16
        for (int j = 0; j < R; ++j) acc[j] = bias[j];
        for (int ky = ky0; ky < ky1; ++ky)
          for (int kx = kx0; kx < kx1; ++kx) {
            const float* x = a.in + (size_t(iy0 + ky * a.dh) * a.W + ix0 + kx * a.dw) * C + m0;
            const float* wp = wb + (ky * kw + kx) * B;
#pragma GCC unroll 16
            for (int j = 0; j < R; ++j)
              acc[j] = _mm256_fmadd_ps(_mm256_loadu_ps(x + 8 * j), _mm256_loadu_ps(wp + 8 * j),
                                       acc[j]);
          }
#pragma GCC unroll 16
        for (int j = 0; j < R; ++j) acc[j] = avx::ApplyFused(a.act, acc[j]);
        avx::Store<B>(orow + size_t(ox) * C + m0, acc, valid);
      };
      for (int ox = 0; ox < left; ++ox) borderPixel(ox);
      for (int ox = left; ox < right; ox += T) {
        const int ix0 = ox * sw - a.padL;
        __m256 acc[T][R];
#pragma GCC unroll 16
        for (int i = 0; i < T; ++i)
#pragma GCC unroll 16
          for (int j = 0; j < R; ++j) acc[i][j] = bias[j];
        for (int ky = ky0; ky < ky1; ++ky) {
          const float* xr = a.in + (size_t(iy0 + ky * a.dh) * a.W + ix0) * C + m0;
          for (int kx = 0; kx < kw; ++kx) {
            const float* wp = wb + (ky * kw + kx) * B;
            const float* xk = xr + size_t(kx) * a.dw * C;
#pragma GCC unroll 16
            for (int j = 0; j < R; ++j) {
              const __m256 wv = _mm256_loadu_ps(wp + 8 * j);
#pragma GCC unroll 16
              for (int i = 0; i < T; ++i)
                acc[i][j] =
                    _mm256_fmadd_ps(_mm256_loadu_ps(xk + size_t(i) * sw * C + 8 * j), wv, acc[i][j]);
            }
          }
        }
#pragma GCC unroll 16
        for (int i = 0; i < T; ++i) {
#pragma GCC unroll 16
          for (int j = 0; j < R; ++j) acc[i][j] = avx::ApplyFused(a.act, acc[i][j]);
          avx::Store<B>(orow + size_t(ox + i) * C + m0, acc[i], valid);
        }
      }
      for (int ox = right; ox < a.Wo; ++ox) borderPixel(ox);
    }
  }
}

}  // namespace

void DepthwiseFma8(const ConvArgs& a) { DepthwiseFma<8, 0, 0, 4>(a); }
void DepthwiseFma16(const ConvArgs& a) { DepthwiseFma<16, 0, 0, 4>(a); }
void Depthwise3x3S1Fma8(const ConvArgs& a) { DepthwiseFma<8, 3, 1, 4>(a); }
void Depthwise3x3S1Fma16(const ConvArgs& a) { DepthwiseFma<16, 3, 1, 4>(a); }
void DepthwiseX86General(const ConvArgs& a) { DepthwiseFma<16, 3, 0, 4>(a); }
void DepthwiseX86WideRow(const ConvArgs& a) { DepthwiseFma<16, 3, 0, 5>(a); }

}  // namespace TAVROMATTING

#pragma GCC pop_options
