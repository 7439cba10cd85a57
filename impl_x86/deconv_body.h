// Transposed convolution by gathering, written once over a vector type V (see
// vec_ops.h for how it is included): every output pixel sums the input pixels
// that reach it. Weights are blocked by output channel and rotated by 180
// degrees, so output (oy, ox) reads tap (ky, kx) from input position
// ((oy - P + ky) / 2, (ox - Q + kx) / 2) when both are even and inside, with
// P = kh - 1 - padT and Q = kw - 1 - padL.
#pragma once

#include <vector>

#include "impl_x86/conv_args.h"
#include "impl_x86/vec_ops.h"
#include "impl_x86/weight_layout.h"

namespace TAVROMATTING {
namespace {

// Taps k in [first, last) stepping by 2 with (o - p + k) even and
// (o - p + k) / 2 in [0, n).
inline void Stride2Taps(int o, int p, int ksize, int n, int* first, int* last) {
  int k = (o - p) & 1;
  while (k < ksize && (o - p + k) < 0) k += 2;
  int e = k;
  while (e < ksize && (o - p + e) / 2 < n) e += 2;
  *first = k;
  *last = e;
}

// The output step of the stride-2 members: the optional affine step, the
// fused activation, the store. sc/sh hold the affine coefficients of the
// register's channels; the affine step is the vector type's multiply-add
// (one rounding with FMA, two without), as in the batch normalisation
// members. The step's settings are copied out of the arguments once per call,
// so the output loops keep them in registers.
struct OutputStep {
  FusedAct act;
  bool affine;
  explicit OutputStep(const ConvArgs& a) : act(a.act), affine(a.outScale != nullptr) {}
};

template <class V, int B>
inline void AffineActivateStore(const OutputStep& step, typename V::T v, typename V::T sc,
                                typename V::T sh, float* dst, int valid) {
  if (step.affine) v = V::MulAdd(v, sc, sh);
  ActivateStore<V, B>(step.act, &v, dst, valid);
}

// Stride 2, one register of output channels per block (weights block, y, x,
// k, m with a block of V::kLanes).
template <class V>
void DeconvStride2(const ConvArgs& a) {
  using VT = typename V::T;
  constexpr int B = V::kLanes;
  const int P = a.kh - 1 - a.padT, Q = a.kw - 1 - a.padL;
  const int C = a.C, Cin = a.Cin;
  const int nb = (C + B - 1) / B;
  const int valid = C < B ? C : B;
  const size_t wBlock = size_t(a.kh) * a.kw * Cin * B;
  const bool kernelIsStride = a.kh == 2 && a.kw == 2 && P == 1 && Q == 1;
  const OutputStep step(a);
  // Column taps of every output column, computed once per call.
  std::vector<int> cols(size_t(a.Wo) * 2);
  for (int ox = 0; ox < a.Wo; ++ox) Stride2Taps(ox, Q, a.kw, a.W, &cols[2 * ox], &cols[2 * ox + 1]);
  for (int blk = 0; blk < nb; ++blk) {
    const int m0 = int(layout::BlockStart(blk, B, C));
    VT b, sc = V::Zero(), sh = V::Zero();
    LoadBiasBlock<V, B>(a.bias, m0, C, &b);
    if (a.outScale) {
      LoadBiasBlock<V, B>(a.outScale, m0, C, &sc);
      LoadBiasBlock<V, B>(a.outShift, m0, C, &sh);
    }
    const float* wb = a.weight + blk * wBlock;
    for (int oy = 0; oy < a.Ho; ++oy) {
      float* orow = a.out + size_t(oy) * a.Wo * C + m0;
      if (kernelIsStride) {
        // Kernel equal to the stride: output (oy, ox) reads only input
        // (oy / 2, ox / 2) with tap (1 - oy % 2, 1 - ox % 2); each pair of
        // adjacent even and odd columns shares its input pixel's broadcasts.
        // G pairs per step keep 2G accumulator chains in flight (one pair's
        // two short chains would wait on the add latency) and share each
        // weight load; the last pairs go one at a time.
        constexpr int G = 4;
        const int ky = 1 - (oy & 1);
        const float* xrow = a.in + size_t(oy >> 1) * a.W * Cin;
        const float* wEven = wb + size_t(ky * 2 + 1) * Cin * B;
        const float* wOdd = wb + size_t(ky * 2) * Cin * B;
        int ox = 0;
        for (; ox + 2 * G <= a.Wo; ox += 2 * G) {
          const float* x = xrow + size_t(ox >> 1) * Cin;
          VT even[G], odd[G];
#pragma GCC unroll 8
          for (int g = 0; g < G; ++g) even[g] = odd[g] = b;
          for (int i = 0; i < Cin; ++i) {
            const VT we = V::Load(wEven + i * B), wo = V::Load(wOdd + i * B);
#pragma GCC unroll 8
            for (int g = 0; g < G; ++g) {
              const VT xv = V::Broadcast(x + size_t(g) * Cin + i);
              even[g] = V::MulAdd(xv, we, even[g]);
              odd[g] = V::MulAdd(xv, wo, odd[g]);
            }
          }
#pragma GCC unroll 8
          for (int g = 0; g < G; ++g) {
            float* o = orow + size_t(ox + 2 * g) * C;
            AffineActivateStore<V, B>(step, even[g], sc, sh, o, valid);
            AffineActivateStore<V, B>(step, odd[g], sc, sh, o + C, valid);
          }
        }
        for (; ox < a.Wo; ox += 2) {
          const float* x = xrow + size_t(ox >> 1) * Cin;
          VT even = b, odd = b;
          for (int i = 0; i < Cin; ++i) {
            const VT xv = V::Broadcast(x + i);
            even = V::MulAdd(xv, V::Load(wEven + i * B), even);
            odd = V::MulAdd(xv, V::Load(wOdd + i * B), odd);
          }
          AffineActivateStore<V, B>(step, even, sc, sh, orow + size_t(ox) * C, valid);
          if (ox + 1 < a.Wo)
            AffineActivateStore<V, B>(step, odd, sc, sh, orow + size_t(ox + 1) * C, valid);
        }
        continue;
      }
      int ky0, ky1;
      Stride2Taps(oy, P, a.kh, a.H, &ky0, &ky1);
      for (int ox = 0; ox < a.Wo; ++ox) {
        const int kx0 = cols[2 * ox], kx1 = cols[2 * ox + 1];
        VT acc = b;
        for (int ky = ky0; ky < ky1; ky += 2) {
          const int iy = (oy - P + ky) / 2;
          for (int kx = kx0; kx < kx1; kx += 2) {
            const int ix = (ox - Q + kx) / 2;
            const float* x = a.in + (size_t(iy) * a.W + ix) * Cin;
            const float* wp = wb + size_t(ky * a.kw + kx) * Cin * B;
            for (int i = 0; i < Cin; ++i)
              acc = V::MulAdd(V::Broadcast(x + i), V::Load(wp + i * B), acc);
          }
        }
        AffineActivateStore<V, B>(step, acc, sc, sh, orow + size_t(ox) * C, valid);
      }
    }
  }
}

// Kernel 2x2, stride 2, no padding, and twice as many lanes as output
// channels (C == V::kLanes / 2): an input pixel's even and odd output columns
// lie side by side in memory, so one register holds both, one broadcast and
// one multiply-add per input channel serve the pair, and one store writes it.
// Weights kBlock4-style blocked by output channel (one block of C). CIN: the
// input channels fixed at compile time (0 = from the args), which lets the
// channel loop unroll.
template <class V, int CIN = 0>
void DeconvStride2Pairs(const ConvArgs& a) {
  using VT = typename V::T;
  constexpr int L = V::kLanes, C = L / 2;
  constexpr int G = 4;  // input pixels per step: G independent accumulator chains
  const int Cin = CIN ? CIN : a.Cin;
  // Per kernel row and input channel, one register of filters: the even
  // output column's C taps, then the odd column's (the weights are rotated, so
  // the even column reads kernel column 1 and the odd one column 0).
  std::vector<float> pairs(size_t(2) * Cin * L);
  float* wp = pairs.data();
  for (int ky = 0; ky < 2; ++ky)
    for (int i = 0; i < Cin; ++i) {
      const float* even = a.weight + (size_t(ky * 2 + 1) * Cin + i) * C;
      const float* odd = a.weight + (size_t(ky * 2) * Cin + i) * C;
      float* dst = wp + (size_t(ky) * Cin + i) * L;
      for (int m = 0; m < C; ++m) {
        dst[m] = even[m];
        dst[C + m] = odd[m];
      }
    }
  alignas(32) float twice[3][L];
  for (int m = 0; m < L; ++m) {
    twice[0][m] = a.bias ? a.bias[m % C] : 0.f;
    twice[1][m] = a.outScale ? a.outScale[m % C] : 0.f;
    twice[2][m] = a.outShift ? a.outShift[m % C] : 0.f;
  }
  const VT b = V::LoadAligned(twice[0]), sc = V::LoadAligned(twice[1]),
           sh = V::LoadAligned(twice[2]);
  const int pairsPerRow = a.Wo / 2;
  const OutputStep step(a);
  for (int oy = 0; oy < a.Ho; ++oy) {
    const float* w = wp + size_t(1 - (oy & 1)) * Cin * L;
    const float* xrow = a.in + size_t(oy >> 1) * a.W * Cin;
    float* orow = a.out + size_t(oy) * a.Wo * C;
    int ix = 0;
    for (; ix + G <= pairsPerRow; ix += G) {
      const float* x = xrow + size_t(ix) * Cin;
      VT acc[G];
#pragma GCC unroll 8
      for (int g = 0; g < G; ++g) acc[g] = b;
#pragma GCC unroll 8
      for (int i = 0; i < Cin; ++i) {
        const VT wv = V::Load(w + size_t(i) * L);
#pragma GCC unroll 8
        for (int g = 0; g < G; ++g)
          acc[g] = V::MulAdd(V::Broadcast(x + size_t(g) * Cin + i), wv, acc[g]);
      }
#pragma GCC unroll 8
      for (int g = 0; g < G; ++g)
        AffineActivateStore<V, L>(step, acc[g], sc, sh, orow + size_t(ix + g) * L, L);
    }
    for (; ix < pairsPerRow; ++ix) {
      const float* x = xrow + size_t(ix) * Cin;
      VT acc = b;
      for (int i = 0; i < Cin; ++i)
        acc = V::MulAdd(V::Broadcast(x + i), V::Load(w + size_t(i) * L), acc);
      AffineActivateStore<V, L>(step, acc, sc, sh, orow + size_t(ix) * L, L);
    }
  }
}

// Two output channels (weights kPlain), input channels V::kLanes at a time
// (Cin a multiple of the lane count); no fused activation.
template <class V>
void DeconvTwoOutput(const ConvArgs& a) {
  using VT = typename V::T;
  constexpr int L = V::kLanes;
  const int P = a.kh - 1 - a.padT, Q = a.kw - 1 - a.padL;
  const int Cin = a.Cin;
  const size_t wFilter = size_t(a.kh) * a.kw * Cin;
  const float b0 = a.bias ? a.bias[0] : 0.f, b1 = a.bias ? a.bias[1] : 0.f;
  for (int oy = 0; oy < a.Ho; ++oy) {
    int ky0, ky1;
    Stride2Taps(oy, P, a.kh, a.H, &ky0, &ky1);
    for (int ox = 0; ox < a.Wo; ++ox) {
      int kx0, kx1;
      Stride2Taps(ox, Q, a.kw, a.W, &kx0, &kx1);
      VT s0 = V::Zero(), s1 = V::Zero();
      for (int ky = ky0; ky < ky1; ky += 2)
        for (int kx = kx0; kx < kx1; kx += 2) {
          const float* x = a.in + (size_t((oy - P + ky) / 2) * a.W + (ox - Q + kx) / 2) * Cin;
          const float* w0 = a.weight + size_t(ky * a.kw + kx) * Cin;
          const float* w1 = w0 + wFilter;
          for (int i = 0; i < Cin; i += L) {
            const VT xv = V::Load(x + i);
            s0 = V::MulAdd(xv, V::Load(w0 + i), s0);
            s1 = V::MulAdd(xv, V::Load(w1 + i), s1);
          }
        }
      float* o = a.out + (size_t(oy) * a.Wo + ox) * 2;
      o[0] = b0 + V::Sum(s0);
      o[1] = b1 + V::Sum(s1);
    }
  }
}

// 5x5 stride-2 pixels for Deconv5x5Walk. Blocked by output channel,
// planar-flag weights (block, k, y, x, m) with a block of V::kLanes.
template <class V>
void Deconv5x5PixelBlocked(const ConvArgs& a, int oy, int ox, int ky0, int ky1, int kx0,
                           int kx1) {
  using VT = typename V::T;
  constexpr int B = V::kLanes;
  const int P = a.kh - 1 - a.padT, Q = a.kw - 1 - a.padL;
  const int C = a.C, Cin = a.Cin;
  const int nb = (C + B - 1) / B, valid = C < B ? C : B;
  const size_t taps = size_t(a.kh) * a.kw;
  for (int blk = 0; blk < nb; ++blk) {
    const int m0 = int(layout::BlockStart(blk, B, C));
    VT acc;
    LoadBiasBlock<V, B>(a.bias, m0, C, &acc);
    const float* wb = a.weight + size_t(blk) * Cin * taps * B;
    for (int ky = ky0; ky < ky1; ky += 2)
      for (int kx = kx0; kx < kx1; kx += 2) {
        const float* x = a.in + (size_t((oy - P + ky) / 2) * a.W + (ox - Q + kx) / 2) * Cin;
        const float* wp = wb + (size_t(ky) * a.kw + kx) * B;
        for (int i = 0; i < Cin; ++i)
          acc = V::MulAdd(V::Broadcast(x + i), V::Load(wp + i * taps * B), acc);
      }
    ActivateStore<V, B>(a.act, &acc, a.out + (size_t(oy) * a.Wo + ox) * C + m0, valid);
  }
}

// By input channel (weights kPlain: output channel, row, column, input
// channel), V::kLanes input channels at a time, scalar remainder.
template <class V>
void Deconv5x5PixelByInput(const ConvArgs& a, int oy, int ox, int ky0, int ky1, int kx0,
                           int kx1) {
  using VT = typename V::T;
  constexpr int L = V::kLanes;
  const int P = a.kh - 1 - a.padT, Q = a.kw - 1 - a.padL;
  const int C = a.C, Cin = a.Cin;
  float* o = a.out + (size_t(oy) * a.Wo + ox) * C;
  for (int f = 0; f < C; ++f) {
    VT acc = V::Zero();
    float tail = 0.f;
    for (int ky = ky0; ky < ky1; ky += 2)
      for (int kx = kx0; kx < kx1; kx += 2) {
        const float* x = a.in + (size_t((oy - P + ky) / 2) * a.W + (ox - Q + kx) / 2) * Cin;
        const float* wp = a.weight + ((size_t(f) * a.kh + ky) * a.kw + kx) * Cin;
        int i = 0;
        for (; i + L <= Cin; i += L) acc = V::MulAdd(V::Load(x + i), V::Load(wp + i), acc);
        for (; i < Cin; ++i) tail += x[i] * wp[i];
      }
    o[f] = (a.bias ? a.bias[f] : 0.f) + V::Sum(acc) + tail;
  }
}

}  // namespace
}  // namespace TAVROMATTING
