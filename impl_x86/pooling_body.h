// Windowed and global pooling, written once over a vector type V (see
// vec_ops.h for how it is included). Windowed pooling takes only the window
// rows inside the image, splits the columns into clipped borders and an
// interior of full windows, and never lets padded taps take part; the average
// divides by the taps inside the image.
#pragma once

#include <cfloat>

#include "impl_x86/pooling_kernels.h"
#include "impl_x86/vec_ops.h"
#include "impl_x86/weight_layout.h"

namespace TAVROMATTING {
namespace {

// B: channels per step (a multiple of V::kLanes, C % B == 0); K, S: kernel
// size and stride width fixed at compile time (0 = from the args).
template <class V, int B, bool MAX, int K, int S>
void Pool(const ConvArgs& a) {
  using T = typename V::T;
  constexpr int L = V::kLanes, R = B / L;
  const int C = a.C;
  const int kh = K ? K : a.kh, kw = K ? K : a.kw;
  const int sw = S ? S : a.sw;
  int left, right;
  SplitColumns(a, 4, &left, &right);
  const T lowest = V::Set1(-FLT_MAX);
  for (int oy = 0; oy < a.Ho; ++oy) {
    int ky0, ky1;
    const int iy0 = ClipRows(a, oy, kh, &ky0, &ky1);
    float* orow = a.out + size_t(oy) * a.Wo * C;
    auto pixel = [&](int ox, int kx0, int kx1) {
      const int ix0 = ox * sw - a.padL;
      const int taps = (ky1 - ky0) * (kx1 - kx0);
      const T inv = V::Set1(taps != 0 ? 1.f / float(taps) : 0.f);
      for (int c0 = 0; c0 < C; c0 += B) {
        T acc[R];
#pragma GCC unroll 16
        for (int j = 0; j < R; ++j) acc[j] = MAX ? lowest : V::Zero();
        for (int ky = ky0; ky < ky1; ++ky)
          for (int kx = kx0; kx < kx1; ++kx) {
            const float* x = a.in + (size_t(iy0 + ky * a.dh) * a.W + ix0 + kx * a.dw) * C + c0;
#pragma GCC unroll 16
            for (int j = 0; j < R; ++j)
              acc[j] = MAX ? V::Max(acc[j], V::Load(x + L * j)) : V::Add(acc[j], V::Load(x + L * j));
          }
        if (!MAX)
#pragma GCC unroll 16
          for (int j = 0; j < R; ++j) acc[j] = V::Mul(acc[j], inv);
        float* o = orow + size_t(ox) * C + c0;
#pragma GCC unroll 16
        for (int j = 0; j < R; ++j) V::Store(o + L * j, acc[j]);
      }
    };
    auto border = [&](int ox) {
      int kx0, kx1;
      ClipTaps(ox * sw - a.padL, a.dw, kw, a.W, &kx0, &kx1);
      pixel(ox, kx0, kx1);
    };
    for (int ox = 0; ox < left; ++ox) border(ox);
    for (int ox = left; ox < right; ++ox) pixel(ox, 0, kw);
    for (int ox = right; ox < a.Wo; ++ox) border(ox);
  }
}

template <class V, int B>
void PoolMember(const ConvArgs& a, PoolOp op) {
  op == PoolOp::kMax ? Pool<V, B, true, 0, 0>(a) : Pool<V, B, false, 0, 0>(a);
}

// Sum over all pixels per channel block (last block moved back), times 1 / n.
template <class V, int B>
void GlobalAverage(const float* in, int pixels, int C, float* out) {
  using T = typename V::T;
  constexpr int L = V::kLanes, R = B / L;
  const T inv = V::Set1(1.f / float(pixels));
  const int nb = (C + B - 1) / B;
  for (int blk = 0; blk < nb; ++blk) {
    const int c0 = int(layout::BlockStart(blk, B, C));
    T acc[R];
#pragma GCC unroll 16
    for (int j = 0; j < R; ++j) acc[j] = V::Zero();
    for (int p = 0; p < pixels; ++p)
#pragma GCC unroll 16
      for (int j = 0; j < R; ++j)
        acc[j] = V::Add(acc[j], V::Load(in + size_t(p) * C + c0 + L * j));
#pragma GCC unroll 16
    for (int j = 0; j < R; ++j) V::Store(out + c0 + L * j, V::Mul(acc[j], inv));
  }
}

}  // namespace
}  // namespace TAVROMATTING
