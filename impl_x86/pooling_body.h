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

// 3x3 max pooling at stride 2 (any padding, dilation 1; C a multiple of B,
// the channels per step of the clipped outputs): the window's rows are
// reduced first, one input column at a time, and each output takes the
// column maxima of its three columns; the right column of one output is the
// left column of the next, so an interior output costs two column reductions
// instead of nine loads. Outputs whose window leaves the image, and rows
// with fewer than three rows inside, take the clipped loop.
template <class V, int B>
void MaxPool3x3S2(const ConvArgs& a) {
  using T = typename V::T;
  constexpr int L = V::kLanes, R = B / L;
  const int C = a.C;
  int left, right;
  SplitColumns(a, 1, &left, &right);
  const T lowest = V::Set1(-FLT_MAX);
  // Column maxima carried from one output to the next, for up to kCarry
  // channels (wider layers recompute the shared column).
  constexpr int kCarry = 64;
  T carried[kCarry / L];
  for (int oy = 0; oy < a.Ho; ++oy) {
    int ky0, ky1;
    const int iy0 = ClipRows(a, oy, 3, &ky0, &ky1);
    float* orow = a.out + size_t(oy) * a.Wo * C;
    const float* rows[3] = {nullptr, nullptr, nullptr};
    const int n = ky1 - ky0;
    for (int r = 0; r < n; ++r) rows[r] = a.in + size_t(iy0 + ky0 + r) * a.W * C;
    // Maximum over the window's rows of input column ix, channels c0 + L * j.
    auto column = [&](int ix, int c0, T* m) {
#pragma GCC unroll 16
      for (int j = 0; j < R; ++j) m[j] = lowest;
      for (int r = 0; r < n; ++r) {
        const float* x = rows[r] + size_t(ix) * C + c0;
#pragma GCC unroll 16
        for (int j = 0; j < R; ++j) m[j] = V::Max(m[j], V::Load(x + L * j));
      }
    };
    auto clipped = [&](int ox) {
      int kx0, kx1;
      const int ix0 = ClipColumns(a, ox, 3, &kx0, &kx1);
      for (int c0 = 0; c0 < C; c0 += B) {
        T acc[R], m[R];
#pragma GCC unroll 16
        for (int j = 0; j < R; ++j) acc[j] = lowest;
        for (int kx = kx0; kx < kx1; ++kx) {
          column(ix0 + kx, c0, m);
#pragma GCC unroll 16
          for (int j = 0; j < R; ++j) acc[j] = V::Max(acc[j], m[j]);
        }
        float* o = orow + size_t(ox) * C + c0;
#pragma GCC unroll 16
        for (int j = 0; j < R; ++j) V::Store(o + L * j, acc[j]);
      }
    };
    for (int ox = 0; ox < left; ++ox) clipped(ox);
    if (left < right && n == 3 && C <= kCarry) {
      // All three rows inside: a pixel's channel blocks one after the other
      // (whole cache lines), the column maxima without a row loop, and the
      // reference's floor (-FLT_MAX) applied once per output.
      const float *r0 = rows[0], *r1 = rows[1], *r2 = rows[2];
      auto column3 = [&](int ix, int c) {
        const size_t o = size_t(ix) * C + c;
        return V::Max(V::Max(V::Load(r0 + o), V::Load(r1 + o)), V::Load(r2 + o));
      };
      for (int c = 0; c < C; c += L) carried[c / L] = column3(left * 2 - a.padL, c);
      for (int ox = left; ox < right; ++ox) {
        const int ix0 = ox * 2 - a.padL;
        float* o = orow + size_t(ox) * C;
        for (int c = 0; c < C; c += L) {
          const T m2 = column3(ix0 + 2, c);
          V::Store(o + c, V::Max(V::Max(V::Max(carried[c / L], column3(ix0 + 1, c)), m2), lowest));
          carried[c / L] = m2;
        }
      }
    } else {
      for (int ox = left; ox < right; ++ox) clipped(ox);
    }
    for (int ox = right; ox < a.Wo; ++ox) clipped(ox);
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
