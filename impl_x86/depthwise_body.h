// Depthwise convolution (one filter per channel), written once over a vector
// type V (see vec_ops.h for how it is included): lane i of a register always
// holds channel i of the block, no broadcast. Rows are split into borders
// (clipped windows) and an interior of T pixels per step.
#pragma once

#include "impl_x86/conv_args.h"
#include "impl_x86/vec_ops.h"
#include "impl_x86/weight_layout.h"

namespace TAVROMATTING {
namespace {

// B: channel block (weights block, y, x, m); K, S: kernel size and stride
// fixed (0 = from the args); T: interior pixels per step.
template <class V, int B, int K, int S, int T>
void Depthwise(const ConvArgs& a) {
  using VT = typename V::T;
  constexpr int L = V::kLanes, R = B / L;
  const int C = a.C;
  const int kh = K ? K : a.kh, kw = K ? K : a.kw;
  const int sw = S ? S : a.sw, sh = S ? S : a.sh;
  const int nb = (C + B - 1) / B;
  const int valid = C < B ? C : B;
  int left, right;
  SplitColumns(a, T, &left, &right);
  for (int oy = 0; oy < a.Ho; ++oy) {
    const int iy0 = oy * sh - a.padT;
    int ky0, ky1;
    ClipTaps(iy0, a.dh, kh, a.H, &ky0, &ky1);
    float* orow = a.out + size_t(oy) * a.Wo * C;
    for (int blk = 0; blk < nb; ++blk) {
      const int m0 = int(layout::BlockStart(blk, B, C));
      const float* wb = a.weight + size_t(blk) * kh * kw * B;
      VT bias[R];
      LoadBiasBlock<V, B>(a.bias, m0, C, bias);
      auto borderPixel = [&](int ox) {
        const int ix0 = ox * sw - a.padL;
        int kx0, kx1;
        ClipTaps(ix0, a.dw, kw, a.W, &kx0, &kx1);
        VT acc[R];
#pragma GCC unroll 16
        for (int j = 0; j < R; ++j) acc[j] = bias[j];
        for (int ky = ky0; ky < ky1; ++ky)
          for (int kx = kx0; kx < kx1; ++kx) {
            const float* x = a.in + (size_t(iy0 + ky * a.dh) * a.W + ix0 + kx * a.dw) * C + m0;
            const float* wp = wb + (ky * kw + kx) * B;
#pragma GCC unroll 16
            for (int j = 0; j < R; ++j)
              acc[j] = V::MulAdd(V::Load(x + L * j), V::Load(wp + L * j), acc[j]);
          }
        ActivateStore<V, B>(a.act, acc, orow + size_t(ox) * C + m0, valid);
      };
      for (int ox = 0; ox < left; ++ox) borderPixel(ox);
      for (int ox = left; ox < right; ox += T) {
        const int ix0 = ox * sw - a.padL;
        VT acc[T][R];
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
              const VT wv = V::Load(wp + L * j);
#pragma GCC unroll 16
              for (int i = 0; i < T; ++i)
                acc[i][j] = V::MulAdd(V::Load(xk + size_t(i) * sw * C + L * j), wv, acc[i][j]);
            }
          }
        }
#pragma GCC unroll 16
        for (int i = 0; i < T; ++i)
          ActivateStore<V, B>(a.act, acc[i], orow + size_t(ox + i) * C + m0, valid);
      }
      for (int ox = right; ox < a.Wo; ++ox) borderPixel(ox);
    }
  }
}

}  // namespace
}  // namespace TAVROMATTING
