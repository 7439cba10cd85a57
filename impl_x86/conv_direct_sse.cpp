// Direct blocked convolution, SSE members of block 4 and 8 (and the first-
// layer member, the same scheme with the input channel count fixed). Output
// rows are split into a left border, an interior computed 4 pixels x one
// channel block at a time without bounds tests, and a right border.
#include <vector>

#include "impl_x86/conv_kernels.h"
#include "impl_x86/sse_util.h"
#include "impl_x86/weight_layout.h"

namespace TAVROMATTING {
namespace {

template <int B, int CIN>
void DirectBlocked(const ConvArgs& a) {
  constexpr int R = B / 4;  // registers per block
  const int Cin = CIN ? CIN : a.Cin;
  const int inS = a.inStride ? a.inStride : Cin;
  const int outS = a.outStride ? a.outStride : a.C;
  const int C = a.C;
  const int nb = (C + B - 1) / B;
  std::vector<float> bias(size_t(nb) * B + B, 0.f);
  if (a.bias)
    for (int i = 0; i < C; ++i) bias[i] = a.bias[i];
  const bool contiguous = a.dw == 1 && inS == Cin;
  const int run = a.kw * Cin;
  const size_t wBlock = size_t(a.kh) * a.kw * Cin * B;
  const int valid = C < B ? C : B;
  int left, right;
  SplitColumns(a, 4, &left, &right);

  for (int oy = 0; oy < a.Ho; ++oy) {
    int ky0, ky1;
    const int iy0 = ClipRows(a, oy, a.kh, &ky0, &ky1);
    float* orow = a.out + size_t(oy) * a.Wo * outS;

    auto borderPixel = [&](int ox) {
      int kx0, kx1;
      const int ix0 = ClipColumns(a, ox, a.kw, &kx0, &kx1);
      for (int blk = 0; blk < nb; ++blk) {
        const int m0 = int(layout::BlockStart(blk, B, C));
        __m128 acc[R];
#pragma GCC unroll 16
        for (int j = 0; j < R; ++j) acc[j] = _mm_loadu_ps(&bias[m0 + 4 * j]);
        const float* wb = a.weight + blk * wBlock;
        for (int ky = ky0; ky < ky1; ++ky)
          for (int kx = kx0; kx < kx1; ++kx) {
            const float* x = a.in + (size_t(iy0 + ky * a.dh) * a.W + ix0 + kx * a.dw) * inS;
            const float* wp = wb + size_t(ky * a.kw + kx) * Cin * B;
            for (int k = 0; k < Cin; ++k) {
              const __m128 xv = _mm_set1_ps(x[k]);
#pragma GCC unroll 16
              for (int j = 0; j < R; ++j)
                acc[j] = _mm_add_ps(acc[j], _mm_mul_ps(xv, _mm_loadu_ps(wp + k * B + 4 * j)));
            }
          }
#pragma GCC unroll 16
        for (int j = 0; j < R; ++j) acc[j] = ApplyFusedSse(a.act, acc[j]);
        StoreLanes<B>(orow + size_t(ox) * outS + m0, acc, valid);
      }
    };

    for (int ox = 0; ox < left; ++ox) borderPixel(ox);
    const int step = a.sw * inS;
    for (int ox = left; ox < right; ox += 4) {
      const int ix0 = ox * a.sw - a.padL;
      for (int blk = 0; blk < nb; ++blk) {
        const int m0 = int(layout::BlockStart(blk, B, C));
        __m128 acc[4][R];
#pragma GCC unroll 16
        for (int j = 0; j < R; ++j) {
          const __m128 b = _mm_loadu_ps(&bias[m0 + 4 * j]);
          acc[0][j] = acc[1][j] = acc[2][j] = acc[3][j] = b;
        }
        const float* wb = a.weight + blk * wBlock;
        for (int ky = ky0; ky < ky1; ++ky) {
          const float* xr = a.in + (size_t(iy0 + ky * a.dh) * a.W + ix0) * inS;
          const float* wr = wb + size_t(ky) * run * B;
          if (contiguous) {
            for (int t = 0; t < run; ++t) {
              __m128 wv[R];
#pragma GCC unroll 16
              for (int j = 0; j < R; ++j) wv[j] = _mm_loadu_ps(wr + t * B + 4 * j);
#pragma GCC unroll 16
              for (int i = 0; i < 4; ++i) {
                const __m128 xv = _mm_set1_ps(xr[i * step + t]);
#pragma GCC unroll 16
                for (int j = 0; j < R; ++j)
                  acc[i][j] = _mm_add_ps(acc[i][j], _mm_mul_ps(xv, wv[j]));
              }
            }
          } else {
            for (int kx = 0; kx < a.kw; ++kx) {
              const float* xk = xr + size_t(kx) * a.dw * inS;
              const float* wk = wr + size_t(kx) * Cin * B;
              for (int k = 0; k < Cin; ++k) {
                __m128 wv[R];
#pragma GCC unroll 16
                for (int j = 0; j < R; ++j) wv[j] = _mm_loadu_ps(wk + k * B + 4 * j);
#pragma GCC unroll 16
                for (int i = 0; i < 4; ++i) {
                  const __m128 xv = _mm_set1_ps(xk[i * step + k]);
#pragma GCC unroll 16
                  for (int j = 0; j < R; ++j)
                    acc[i][j] = _mm_add_ps(acc[i][j], _mm_mul_ps(xv, wv[j]));
                }
              }
            }
          }
        }
#pragma GCC unroll 16
        for (int i = 0; i < 4; ++i) {
#pragma GCC unroll 16
          for (int j = 0; j < R; ++j) acc[i][j] = ApplyFusedSse(a.act, acc[i][j]);
          StoreLanes<B>(orow + size_t(ox + i) * outS + m0, acc[i], valid);
        }
      }
    }
    for (int ox = right; ox < a.Wo; ++ox) borderPixel(ox);
  }
}

}  // namespace

void ConvDirectSse4(const ConvArgs& a) { DirectBlocked<4, 0>(a); }
void ConvDirectSse8(const ConvArgs& a) { DirectBlocked<8, 0>(a); }

void ConvFirstLayerSse(const ConvArgs& a) {
  if (a.Cin == 3)
    DirectBlocked<4, 3>(a);
  else if (a.Cin == 1)
    DirectBlocked<4, 1>(a);
  else
    DirectBlocked<4, 0>(a);
}

}  // namespace TAVROMATTING
