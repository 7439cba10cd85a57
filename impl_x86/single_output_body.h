// Convolution with one output channel (weight kPlain), written once over a
// vector type V (see vec_ops.h for how it is included): per output pixel, the
// dot product of the clipped window with the filter; each kernel row's
// columns and channels form one contiguous run, summed V::kLanes at a time
// with a scalar tail.
#pragma once

#include "impl_x86/conv_args.h"
#include "impl_x86/vec_ops.h"

namespace TAVROMATTING {
namespace {

// QUADS: interior pixels 4 at a time when the run is a multiple of the lane
// count; the 4 pixels share each weight load and their partial sums are
// reduced together with V::SumEach4.
template <class V, bool QUADS>
void SingleOutput(const ConvArgs& a) {
  using VT = typename V::T;
  constexpr int L = V::kLanes;
  const int Cin = a.Cin;
  const int inS = a.inStride ? a.inStride : Cin, outS = a.outStride ? a.outStride : 1;
  const float bias = a.bias ? a.bias[0] : 0.f;
  const bool contiguous = a.dw == 1 && inS == Cin;
  int left, right;
  SplitColumns(a, 1, &left, &right);
  for (int oy = 0; oy < a.Ho; ++oy) {
    int ky0, ky1;
    const int iy0 = ClipRows(a, oy, a.kh, &ky0, &ky1);
    auto pixel = [&](int ox) {
      const int ix0 = ox * a.sw - a.padL;
      int kx0 = 0, kx1 = a.kw;  // interior columns: the whole window
      if (ox < left || ox >= right) ClipTaps(ix0, a.dw, a.kw, a.W, &kx0, &kx1);
      VT acc = V::Zero();
      float tail = 0.f;
      for (int ky = ky0; ky < ky1; ++ky) {
        const float* x = a.in + (size_t(iy0 + ky * a.dh) * a.W + ix0 + kx0 * a.dw) * inS;
        const float* wt = a.weight + (size_t(ky) * a.kw + kx0) * Cin;
        if (contiguous) {
          const int n = (kx1 - kx0) * Cin;
          int t = 0;
          for (; t + L <= n; t += L) acc = V::MulAdd(V::Load(x + t), V::Load(wt + t), acc);
          for (; t < n; ++t) tail += x[t] * wt[t];
        } else {
          for (int kx = 0; kx < kx1 - kx0; ++kx)
            for (int k = 0; k < Cin; ++k) tail += x[size_t(kx) * a.dw * inS + k] * wt[kx * Cin + k];
        }
      }
      a.out[(size_t(oy) * a.Wo + ox) * outS] = bias + V::Sum(acc) + tail;
    };
    int ox = 0;
    if constexpr (QUADS) {
      if (contiguous && (a.kw * Cin) % L == 0) {
        const int n = a.kw * Cin;
        for (; ox < left; ++ox) pixel(ox);
        for (; ox + 4 <= right; ox += 4) {
          VT acc[4] = {V::Zero(), V::Zero(), V::Zero(), V::Zero()};
          const size_t step = size_t(a.sw) * Cin;
          for (int ky = ky0; ky < ky1; ++ky) {
            const float* x = a.in + (size_t(iy0 + ky * a.dh) * a.W + ox * a.sw - a.padL) * Cin;
            const float* wt = a.weight + size_t(ky) * n;
            for (int t = 0; t < n; t += L) {
              const VT wv = V::Load(wt + t);
#pragma GCC unroll 4
              for (int i = 0; i < 4; ++i) acc[i] = V::MulAdd(V::Load(x + i * step + t), wv, acc[i]);
            }
          }
          float r[4];
          V::SumEach4(acc[0], acc[1], acc[2], acc[3], r);
          for (int i = 0; i < 4; ++i) a.out[(size_t(oy) * a.Wo + ox + i) * outS] = bias + r[i];
        }
      }
    }
    for (; ox < a.Wo; ++ox) pixel(ox);
  }
}

}  // namespace
}  // namespace TAVROMATTING
