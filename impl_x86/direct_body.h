// The direct blocked convolution, written once over a vector type V (see
// vec_ops.h for how it is included); it serves the SSE members (blocks 4 and
// 8), the portable FMA members (blocks 8 and 16, dilated, grouped, first
// layer) and the x86 3x3 members (blocks 16 and 24). Output rows are split
// into a left border, an interior of 4 pixels x one channel block per step
// without bounds tests, and a right border; the last channel block is moved
// back to end at C.
#pragma once

#include <vector>

#include "impl_x86/conv_args.h"
#include "impl_x86/vec_ops.h"
#include "impl_x86/weight_layout.h"

namespace TAVROMATTING {
namespace {

// Position of tap (ky, kx, k) within a block, in units of the block width.
template <bool CB>
inline size_t WeightOffset(int ky, int kx, int k, int kw, int Cin) {
  return CB ? (size_t(ky) * Cin + k) * kw + kx : (size_t(ky) * kw + kx) * Cin + k;
}

// B: channel block, a multiple of V::kLanes (weights block, y, x, k, m, or
// block, y, k, x, m when CB is set). CIN, K, S: input channels, kernel size
// and stride fixed at compile time (0 = from the args).
template <class V, int B, int CIN, int K, int S, bool CB = false>
void Direct(const ConvArgs& a) {
  using VT = typename V::T;
  constexpr int L = V::kLanes, R = B / L;
  const int Cin = CIN ? CIN : a.Cin;
  const int kh = K ? K : a.kh, kw = K ? K : a.kw;
  const int sw = S ? S : a.sw, sh = S ? S : a.sh;
  const int inS = a.inStride ? a.inStride : Cin;
  const int outS = a.outStride ? a.outStride : a.C;
  const int C = a.C;
  const int nb = (C + B - 1) / B;
  std::vector<float> bias(size_t((C + 7) / 8 * 8) + B, 0.f);
  if (a.bias)
    for (int i = 0; i < C; ++i) bias[i] = a.bias[i];
  const bool contiguous = !CB && a.dw == 1 && inS == Cin;
  const int run = kw * Cin;
  const size_t wBlock = size_t(kh) * kw * Cin * B;
  const int valid = C < B ? C : B;
  int left, right;
  SplitColumns(a, 4, &left, &right);
  const int step = sw * inS;

  for (int oy = 0; oy < a.Ho; ++oy) {
    const int iy0 = oy * sh - a.padT;
    int ky0, ky1;
    ClipTaps(iy0, a.dh, kh, a.H, &ky0, &ky1);
    float* orow = a.out + size_t(oy) * a.Wo * outS;

    auto borderPixel = [&](int ox) {
      const int ix0 = ox * sw - a.padL;
      int kx0, kx1;
      ClipTaps(ix0, a.dw, kw, a.W, &kx0, &kx1);
      for (int blk = 0; blk < nb; ++blk) {
        const int m0 = int(layout::BlockStart(blk, B, C));
        VT acc[R];
#pragma GCC unroll 16
        for (int j = 0; j < R; ++j) acc[j] = V::Load(&bias[m0 + L * j]);
        const float* wb = a.weight + blk * wBlock;
        for (int ky = ky0; ky < ky1; ++ky)
          for (int kx = kx0; kx < kx1; ++kx) {
            const float* x = a.in + (size_t(iy0 + ky * a.dh) * a.W + ix0 + kx * a.dw) * inS;
            for (int k = 0; k < Cin; ++k) {
              const float* wp = wb + WeightOffset<CB>(ky, kx, k, kw, Cin) * B;
              const VT xv = V::Broadcast(x + k);
#pragma GCC unroll 16
              for (int j = 0; j < R; ++j)
                acc[j] = V::MulAdd(xv, V::Load(wp + L * j), acc[j]);
            }
          }
        ActivateStore<V, B>(a.act, acc, orow + size_t(ox) * outS + m0, valid);
      }
    };

    for (int ox = 0; ox < left; ++ox) borderPixel(ox);
    for (int ox = left; ox < right; ox += 4) {
      const int ix0 = ox * sw - a.padL;
      int firstBlk = 0;
      if (L == 8 && B == 8 && contiguous) {
        // Three 8-channel blocks of 8-lane registers at once: each broadcast
        // input value feeds 12 accumulators instead of 4 (the narrow layers
        // are load-bound).
        for (; firstBlk + 3 <= nb; firstBlk += 3) {
          int m[3];
          VT acc[4][3];
#pragma GCC unroll 16
          for (int g = 0; g < 3; ++g) {
            m[g] = int(layout::BlockStart(firstBlk + g, B, C));
            const VT b = V::Load(&bias[m[g]]);
            acc[0][g] = acc[1][g] = acc[2][g] = acc[3][g] = b;
          }
          const float* w0 = a.weight + firstBlk * wBlock;
          for (int ky = ky0; ky < ky1; ++ky) {
            const float* xr = a.in + (size_t(iy0 + ky * a.dh) * a.W + ix0) * inS;
            const float* wr = w0 + size_t(ky) * run * B;
            for (int t = 0; t < run; ++t) {
              VT wv[3];
#pragma GCC unroll 16
              for (int g = 0; g < 3; ++g) wv[g] = V::Load(wr + g * wBlock + t * B);
#pragma GCC unroll 16
              for (int i = 0; i < 4; ++i) {
                const VT xv = V::Broadcast(xr + i * step + t);
#pragma GCC unroll 16
                for (int g = 0; g < 3; ++g) acc[i][g] = V::MulAdd(xv, wv[g], acc[i][g]);
              }
            }
          }
#pragma GCC unroll 16
          for (int i = 0; i < 4; ++i)
#pragma GCC unroll 16
            for (int g = 0; g < 3; ++g)
              ActivateStore<V, B>(a.act, &acc[i][g], orow + size_t(ox + i) * outS + m[g], valid);
        }
      }
      for (int blk = firstBlk; blk < nb; ++blk) {
        const int m0 = int(layout::BlockStart(blk, B, C));
        VT acc[4][R];
#pragma GCC unroll 16
        for (int j = 0; j < R; ++j) {
          const VT b = V::Load(&bias[m0 + L * j]);
          acc[0][j] = acc[1][j] = acc[2][j] = acc[3][j] = b;
        }
        const float* wb = a.weight + blk * wBlock;
        for (int ky = ky0; ky < ky1; ++ky) {
          const float* xr = a.in + (size_t(iy0 + ky * a.dh) * a.W + ix0) * inS;
          const float* wr = wb + size_t(ky) * run * B;
          if (contiguous) {
            for (int t = 0; t < run; ++t) {
              VT wv[R];
#pragma GCC unroll 16
              for (int j = 0; j < R; ++j) wv[j] = V::Load(wr + t * B + L * j);
#pragma GCC unroll 16
              for (int i = 0; i < 4; ++i) {
                const VT xv = V::Broadcast(xr + i * step + t);
#pragma GCC unroll 16
                for (int j = 0; j < R; ++j) acc[i][j] = V::MulAdd(xv, wv[j], acc[i][j]);
              }
            }
          } else {
            for (int kx = 0; kx < kw; ++kx) {
              const float* xk = xr + size_t(kx) * a.dw * inS;
              for (int k = 0; k < Cin; ++k) {
                const float* wk = wb + WeightOffset<CB>(ky, kx, k, kw, Cin) * B;
                VT wv[R];
#pragma GCC unroll 16
                for (int j = 0; j < R; ++j) wv[j] = V::Load(wk + L * j);
#pragma GCC unroll 16
                for (int i = 0; i < 4; ++i) {
                  const VT xv = V::Broadcast(xk + i * step + k);
#pragma GCC unroll 16
                  for (int j = 0; j < R; ++j) acc[i][j] = V::MulAdd(xv, wv[j], acc[i][j]);
                }
              }
            }
          }
        }
#pragma GCC unroll 16
        for (int i = 0; i < 4; ++i)
          ActivateStore<V, B>(a.act, acc[i], orow + size_t(ox + i) * outS + m0, valid);
      }
    }
    for (int ox = right; ox < a.Wo; ++ox) borderPixel(ox);
  }
}

// First layer: 1 or 3 input channels fixed at compile time (other counts take
// the general body), with kernel size K and stride S (0 = from the args).
template <class V, int B, int K, int S, bool CB = false>
void DirectFirstLayer(const ConvArgs& a) {
  if (a.Cin == 3)
    Direct<V, B, 3, K, S, CB>(a);
  else if (a.Cin == 1)
    Direct<V, B, 1, K, S, CB>(a);
  else
    Direct<V, B, 0, 0, 0, CB>(a);
}

}  // namespace
}  // namespace TAVROMATTING
