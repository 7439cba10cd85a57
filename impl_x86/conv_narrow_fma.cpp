// Narrow convolutions of the x86 path (AVX+FMA, fused Relu only, chosen by
// the caller), for layers whose few output channels leave most lanes of the
// blocked members idle:
// - one output channel from 4 input channels (3x3, stride 1): a pixel's four
//   channels fill half a register, so two neighbouring pixels share one
//   8-wide register and every kernel column is one fused multiply-add per
//   pixel pair; the four channel products are summed once per pixel at the
//   end (horizontal adds, 8 or 16 pixels at a time);
// - two or four output channels from a multiple of 8 input channels (3x3 or
//   2x2, stride 1, any dilation): each tap's channels are 8-wide
//   multiply-adds against all filters, the sums reduced 8 outputs at a time,
//   instead of 4-wide block 4 (with half its lanes idle for two channels);
// - four output channels from four input channels (3x3, stride 1): pixel
//   pairs as above, one accumulator per filter;
// - 1x1 with fewer than 8 output channels: block 4 on 4-wide registers with
//   8 pixels per step, enough independent accumulators to keep both
//   multiply-add pipes busy; four outputs from a multiple of 8 input
//   channels instead put the input channels across 8-wide registers, as
//   the two- and four-output 3x3 members do.
#include <cstddef>
#include <cstring>
#include <vector>

#include "impl_x86/conv_kernels.h"
#include "impl_x86/vec_avx.h"
#include "impl_x86/weight_layout.h"

#pragma GCC push_options
#pragma GCC target("avx,fma")

#include "impl_x86/conv_1x1_body.h"

namespace TAVROMATTING {
namespace {

// Sums the 4-lane halves of acc[0..3] (pixel pairs 2i, 2i + 1) into the 8
// pixel values, in pixel order.
inline __m256 SumPairHalves(const __m256* acc) {
  const __m256 r = _mm256_hadd_ps(_mm256_hadd_ps(acc[0], acc[1]), _mm256_hadd_ps(acc[2], acc[3]));
  // r = [p0 p2 p4 p6 | p1 p3 p5 p7]
  const __m128 lo = _mm256_castps256_ps128(r), hi = _mm256_extractf128_ps(r, 1);
  return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_unpacklo_ps(lo, hi)),
                              _mm_unpackhi_ps(lo, hi), 1);
}

// NP pairs of output pixels starting at ox (interior: whole window inside
// the image), kernel rows [ky0, ky1).
template <int NP>
inline void SingleOutputPairs(const ConvArgs& a, const float* inRow0, ptrdiff_t rowStep, int ky0,
                              int ky1, const float* w, __m256 bias, float* out) {
  __m256 acc[NP];
#pragma GCC unroll 16
  for (int i = 0; i < NP; ++i) acc[i] = _mm256_setzero_ps();
  for (int ky = ky0; ky < ky1; ++ky) {
    const float* x = inRow0 + ky * rowStep;
#pragma GCC unroll 3
    for (int q = 0; q < 3; ++q) {
      const __m256 wv = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(w + (ky * 3 + q) * 4));
#pragma GCC unroll 16
      for (int i = 0; i < NP; ++i)
        acc[i] = _mm256_fmadd_ps(_mm256_loadu_ps(x + (2 * i + q) * 4), wv, acc[i]);
    }
  }
#pragma GCC unroll 4
  for (int g = 0; g < NP / 4; ++g)
    _mm256_storeu_ps(out + 8 * g,
                     ApplyFused<Fma8>(a.act, _mm256_add_ps(SumPairHalves(acc + 4 * g), bias)));
}

// F = 2 or 4 output channels, K x K kernel (3 or 2), stride width 1, Cin a
// multiple of 8 (w: the F filters one after the other, each row, column,
// channel): every tap's channels are 8-wide multiply-adds against all
// filters, and the F sums of P = 8 / F pixels are reduced together into 8
// consecutive outputs. CIN: the input channels fixed at compile time (0 =
// from the args), so the tap and channel loops unroll.
template <int F, int K, int CIN = 0>
void FewOutputsKxK(const ConvArgs& a, const float* w) {
  constexpr int P = 8 / F;
  const int Cin = CIN ? CIN : a.Cin;
  const size_t fsize = size_t(K * K) * Cin;
  alignas(32) float b[8];
  for (int i = 0; i < 8; ++i) b[i] = a.bias ? a.bias[i % F] : 0.f;
  const __m256 bias = _mm256_load_ps(b);
  const int outS = a.outStride ? a.outStride : F;
  int left, right;
  SplitColumns(a, P, &left, &right);
  for (int oy = 0; oy < a.Ho; ++oy) {
    int ky0, ky1;
    const int iy0 = ClipRows(a, oy, K, &ky0, &ky1);
    float* orow = a.out + size_t(oy) * a.Wo * outS;
    auto row = [&](int ky) { return a.in + (ptrdiff_t(iy0) + ky * a.dh) * a.W * Cin; };
    auto pixel = [&](int ox) {
      const int ix0 = ox - a.padL;
      int kx0, kx1;
      ClipTaps(ix0, a.dw, K, a.W, &kx0, &kx1);
      __m256 acc[F];
      for (int f = 0; f < F; ++f) acc[f] = _mm256_setzero_ps();
      for (int ky = ky0; ky < ky1; ++ky)
        for (int kx = kx0; kx < kx1; ++kx) {
          const float* x = row(ky) + ptrdiff_t(ix0 + kx * a.dw) * Cin;
          const size_t t = size_t(ky * K + kx) * Cin;
          for (int k = 0; k < Cin; k += 8) {
            const __m256 xv = _mm256_loadu_ps(x + k);
            for (int f = 0; f < F; ++f)
              acc[f] = _mm256_fmadd_ps(xv, _mm256_loadu_ps(w + f * fsize + t + k), acc[f]);
          }
        }
      for (int f = 0; f < F; ++f) {
        const float v = b[f] + Fma8::Sum(acc[f]);
        orow[size_t(ox) * outS + f] = _mm_cvtss_f32(ApplyFused<Fma4>(a.act, _mm_set_ss(v)));
      }
    };
    int ox = 0;
    for (; ox < left; ++ox) pixel(ox);
    for (; ox < right; ox += P) {
      __m256 acc[8];  // acc[F * i + f]: pixel i, filter f
#pragma GCC unroll 8
      for (int i = 0; i < 8; ++i) acc[i] = _mm256_setzero_ps();
      for (int ky = ky0; ky < ky1; ++ky) {
        const float* xr = row(ky) + ptrdiff_t(ox - a.padL) * Cin;
#pragma GCC unroll 3
        for (int kx = 0; kx < K; ++kx) {
          const size_t t = size_t(ky * K + kx) * Cin;
#pragma GCC unroll 2
          for (int k = 0; k < Cin; k += 8) {
            __m256 wv[F];
#pragma GCC unroll 4
            for (int f = 0; f < F; ++f) wv[f] = _mm256_loadu_ps(w + f * fsize + t + k);
#pragma GCC unroll 4
            for (int i = 0; i < P; ++i) {
              const __m256 xv = _mm256_loadu_ps(xr + size_t(i + kx * a.dw) * Cin + k);
#pragma GCC unroll 4
              for (int f = 0; f < F; ++f) acc[F * i + f] = _mm256_fmadd_ps(xv, wv[f], acc[F * i + f]);
            }
          }
        }
      }
      // Two rounds of pairwise adds leave each register's total in order;
      // adding the halves gives acc[0..3] and acc[4..7].
      const __m256 g0 = _mm256_hadd_ps(_mm256_hadd_ps(acc[0], acc[1]), _mm256_hadd_ps(acc[2], acc[3]));
      const __m256 g1 = _mm256_hadd_ps(_mm256_hadd_ps(acc[4], acc[5]), _mm256_hadd_ps(acc[6], acc[7]));
      const __m128 r0 = _mm_add_ps(_mm256_castps256_ps128(g0), _mm256_extractf128_ps(g0, 1));
      const __m128 r1 = _mm_add_ps(_mm256_castps256_ps128(g1), _mm256_extractf128_ps(g1, 1));
      __m256 v = _mm256_add_ps(_mm256_insertf128_ps(_mm256_castps128_ps256(r0), r1, 1), bias);
      v = ApplyFused<Fma8>(a.act, v);
      if (outS == F) {
        _mm256_storeu_ps(orow + size_t(ox) * F, v);
      } else {
        // Pixels outS floats apart (a channel slice of a wider tensor): one
        // store of F floats per pixel.
        const __m128 lo = _mm256_castps256_ps128(v), hi = _mm256_extractf128_ps(v, 1);
        float* o = orow + size_t(ox) * outS;
        if (F == 4) {
          _mm_storeu_ps(o, lo);
          _mm_storeu_ps(o + outS, hi);
        } else {
          _mm_storel_pi(reinterpret_cast<__m64*>(o), lo);
          _mm_storeh_pi(reinterpret_cast<__m64*>(o + outS), lo);
          _mm_storel_pi(reinterpret_cast<__m64*>(o + 2 * outS), hi);
          _mm_storeh_pi(reinterpret_cast<__m64*>(o + 3 * outS), hi);
        }
      }
    }
    for (; ox < a.Wo; ++ox) pixel(ox);
  }
}

// Four output channels from four input channels, 3x3, stride width 1, any
// dilation (w: per tap and filter, the filter's 4 channels twice, 8
// floats): like the one-output member, a pixel pair shares an 8-wide
// register; each of the 4 filters has its own accumulator per pair, and
// two rounds of horizontal adds turn the 4 accumulators of a pair into the
// pair's 8 consecutive outputs.
void FourOutputs3x3(const ConvArgs& a, const float* w) {
  const int outS = a.outStride ? a.outStride : 4;
  float b[4] = {0.f, 0.f, 0.f, 0.f};
  if (a.bias)
    for (int f = 0; f < 4; ++f) b[f] = a.bias[f];
  const __m128 bias4 = _mm_loadu_ps(b);
  const __m256 bias = _mm256_insertf128_ps(_mm256_castps128_ps256(bias4), bias4, 1);
  int left, right;
  SplitColumns(a, 4, &left, &right);
  auto store = [&](float* dst, const float* v, int pixels) {
    for (int i = 0; i < pixels; ++i) std::memcpy(dst + size_t(i) * outS, v + 4 * i, sizeof(float) * 4);
  };
  for (int oy = 0; oy < a.Ho; ++oy) {
    int ky0, ky1;
    const int iy0 = ClipRows(a, oy, 3, &ky0, &ky1);
    float* orow = a.out + size_t(oy) * a.Wo * outS;
    auto row = [&](int ky) { return a.in + (ptrdiff_t(iy0) + ky * a.dh) * a.W * 4; };
    auto pixel = [&](int ox) {
      const int ix0 = ox - a.padL;
      int kx0, kx1;
      ClipTaps(ix0, a.dw, 3, a.W, &kx0, &kx1);
      __m128 acc[4] = {_mm_setzero_ps(), _mm_setzero_ps(), _mm_setzero_ps(), _mm_setzero_ps()};
      for (int ky = ky0; ky < ky1; ++ky)
        for (int kx = kx0; kx < kx1; ++kx) {
          const __m128 xv = _mm_loadu_ps(row(ky) + ptrdiff_t(ix0 + kx * a.dw) * 4);
          const float* wt = w + (ky * 3 + kx) * 32;
          for (int f = 0; f < 4; ++f) acc[f] = _mm_fmadd_ps(xv, _mm_loadu_ps(wt + 8 * f), acc[f]);
        }
      const __m128 v = _mm_hadd_ps(_mm_hadd_ps(acc[0], acc[1]), _mm_hadd_ps(acc[2], acc[3]));
      alignas(16) float r[4];
      _mm_store_ps(r, ApplyFused<Fma4>(a.act, _mm_add_ps(v, bias4)));
      store(orow + size_t(ox) * outS, r, 1);
    };
    int ox = 0;
    for (; ox < left; ++ox) pixel(ox);
    for (; ox < right; ox += 4) {
      __m256 acc[2][4];
#pragma GCC unroll 8
      for (int j = 0; j < 2; ++j)
#pragma GCC unroll 4
        for (int f = 0; f < 4; ++f) acc[j][f] = _mm256_setzero_ps();
      for (int ky = ky0; ky < ky1; ++ky) {
        const float* xr = row(ky) + ptrdiff_t(ox - a.padL) * 4;
#pragma GCC unroll 3
        for (int kx = 0; kx < 3; ++kx) {
          const float* xo = xr + size_t(kx) * a.dw * 4;
          const __m256 x0 = _mm256_loadu_ps(xo), x1 = _mm256_loadu_ps(xo + 8);
          const float* wt = w + (ky * 3 + kx) * 32;
#pragma GCC unroll 4
          for (int f = 0; f < 4; ++f) {
            const __m256 wv = _mm256_loadu_ps(wt + 8 * f);
            acc[0][f] = _mm256_fmadd_ps(x0, wv, acc[0][f]);
            acc[1][f] = _mm256_fmadd_ps(x1, wv, acc[1][f]);
          }
        }
      }
      alignas(32) float r[16];
#pragma GCC unroll 2
      for (int j = 0; j < 2; ++j) {
        const __m256 v = _mm256_hadd_ps(_mm256_hadd_ps(acc[j][0], acc[j][1]),
                                        _mm256_hadd_ps(acc[j][2], acc[j][3]));
        _mm256_store_ps(r + 8 * j, ApplyFused<Fma8>(a.act, _mm256_add_ps(v, bias)));
      }
      if (outS == 4) {
        std::memcpy(orow + size_t(ox) * 4, r, sizeof r);
      } else {
        store(orow + size_t(ox) * outS, r, 4);
      }
    }
    for (; ox < a.Wo; ++ox) pixel(ox);
  }
}

// Four output channels of a 1x1 layer from Cin (a multiple of 8, at most
// kMaxCin) input channels, pixels 4 floats apart in the output (w: the 4
// filters one after the other, Cin floats each): a pixel's channels are
// 8-wide multiply-adds against each filter, and two pixels' eight sums are
// reduced together into their 8 consecutive outputs. Honours a.accumulate.
constexpr int kFourOutputsMaxCin = 256;

inline __m256 FourOutputSums(const __m256* acc) {
  // Per 128-bit half: the partial sums of filters 0..3 of one pixel (acc[0..3])
  // and of the other (acc[4..7]); the halves' sums land side by side.
  const __m256 p0 = _mm256_hadd_ps(_mm256_hadd_ps(acc[0], acc[1]), _mm256_hadd_ps(acc[2], acc[3]));
  const __m256 p1 = _mm256_hadd_ps(_mm256_hadd_ps(acc[4], acc[5]), _mm256_hadd_ps(acc[6], acc[7]));
  return _mm256_add_ps(_mm256_permute2f128_ps(p0, p1, 0x20), _mm256_permute2f128_ps(p0, p1, 0x31));
}

void FourOutputs1x1(const ConvArgs& a, const float* w) {
  const int Cin = a.Cin;
  const int inS = a.inStride ? a.inStride : Cin;
  const size_t pixels = size_t(a.Ho) * a.Wo;
  alignas(32) float b[8];
  for (int i = 0; i < 8; ++i) b[i] = a.bias ? a.bias[i % 4] : 0.f;
  const __m256 bias = _mm256_load_ps(b);
  // The pair's starting values: the bias, or what earlier slices wrote.
  auto finish = [&](float* o, __m256 v) {
    v = _mm256_add_ps(v, a.accumulate ? _mm256_loadu_ps(o) : bias);
    _mm256_storeu_ps(o, ApplyFused<Fma8>(a.act, v));
  };
  size_t p = 0;
  for (; p + 2 <= pixels; p += 2) {
    const float* x0 = a.in + p * inS;
    const float* x1 = x0 + inS;
    __m256 acc[8];
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i) acc[i] = _mm256_setzero_ps();
    for (int k = 0; k < Cin; k += 8) {
      const __m256 v0 = _mm256_loadu_ps(x0 + k), v1 = _mm256_loadu_ps(x1 + k);
#pragma GCC unroll 4
      for (int f = 0; f < 4; ++f) {
        const __m256 wv = _mm256_load_ps(w + f * Cin + k);
        acc[f] = _mm256_fmadd_ps(v0, wv, acc[f]);
        acc[4 + f] = _mm256_fmadd_ps(v1, wv, acc[4 + f]);
      }
    }
    finish(a.out + p * 4, FourOutputSums(acc));
  }
  if (p < pixels) {
    // The last pixel alone, in the low half of a pair (the high half is
    // neither read nor written).
    const float* x0 = a.in + p * inS;
    __m256 acc[8];
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i) acc[i] = _mm256_setzero_ps();
    for (int k = 0; k < Cin; k += 8) {
      const __m256 v0 = _mm256_loadu_ps(x0 + k);
#pragma GCC unroll 4
      for (int f = 0; f < 4; ++f)
        acc[f] = _mm256_fmadd_ps(v0, _mm256_load_ps(w + f * Cin + k), acc[f]);
    }
    alignas(32) float pair[8];
    float* o = a.out + p * 4;
    std::memcpy(pair, o, sizeof(float) * 4);
    finish(pair, FourOutputSums(acc));
    std::memcpy(o, pair, sizeof(float) * 4);
  }
}

}  // namespace

void ConvFourOutputX86(const ConvArgs& a) {
  // Regroup the block-4 weights (tap, channel, filter) as tap, filter, the
  // filter's channels twice.
  alignas(32) float w[9 * 32];
  for (int t = 0; t < 9; ++t)
    for (int f = 0; f < 4; ++f)
      for (int k = 0; k < 4; ++k)
        w[t * 32 + f * 8 + k] = w[t * 32 + f * 8 + 4 + k] = a.weight[(t * 4 + k) * 4 + f];
  FourOutputs3x3(a, w);
}

void ConvFewOutputX86(const ConvArgs& a) {
  // Regroup the block-4 weights (tap, channel, filter) per filter.
  const size_t taps = size_t(a.kh) * a.kw * a.Cin;
  std::vector<float> w(size_t(a.C) * taps);
  for (int f = 0; f < a.C; ++f)
    for (size_t t = 0; t < taps; ++t) w[f * taps + t] = a.weight[t * 4 + f];
  // Two outputs from 8 input channels (the model's 2x2 and dilated branches
  // at the two finest levels) with the channel count fixed: about 25 to 35 %
  // faster alone. Four outputs gained nothing measurable that way.
  const float* p = w.data();
  if (a.C == 2 && a.Cin == 8)
    a.kh == 2 ? FewOutputsKxK<2, 2, 8>(a, p) : FewOutputsKxK<2, 3, 8>(a, p);
  else if (a.kh == 2)
    a.C == 2 ? FewOutputsKxK<2, 2>(a, p) : FewOutputsKxK<4, 2>(a, p);
  else
    a.C == 2 ? FewOutputsKxK<2, 3>(a, p) : FewOutputsKxK<4, 3>(a, p);
}

void ConvSingleOutputX86Pairs(const ConvArgs& a) {
  const float bias = a.bias ? a.bias[0] : 0.f;
  const __m256 bv = _mm256_set1_ps(bias);
  const ptrdiff_t rowStep = ptrdiff_t(a.dh) * a.W * 4;
  const int outS = a.outStride ? a.outStride : 1;
  int left, right;
  SplitColumns(a, 1, &left, &right);
  alignas(32) float tmp[16];
  for (int oy = 0; oy < a.Ho; ++oy) {
    int ky0, ky1;
    const int iy0 = ClipRows(a, oy, 3, &ky0, &ky1);
    const float* inRow0 = a.in + ptrdiff_t(iy0) * a.W * 4;
    float* orow = a.out + size_t(oy) * a.Wo * outS;
    auto store = [&](int ox, const float* v, int n) {
      if (outS == 1)
        std::memcpy(orow + ox, v, sizeof(float) * n);
      else
        for (int i = 0; i < n; ++i) orow[size_t(ox + i) * outS] = v[i];
    };
    // One pixel with its window clipped to the image.
    auto pixel = [&](int ox) {
      const int ix0 = ox - a.padL;
      int kx0, kx1;
      ClipTaps(ix0, 1, 3, a.W, &kx0, &kx1);
      __m128 acc = _mm_setzero_ps();
      for (int ky = ky0; ky < ky1; ++ky)
        for (int kx = kx0; kx < kx1; ++kx)
          acc = _mm_fmadd_ps(_mm_loadu_ps(inRow0 + ky * rowStep + size_t(ix0 + kx) * 4),
                             _mm_loadu_ps(a.weight + (ky * 3 + kx) * 4), acc);
      const float v = _mm_cvtss_f32(ApplyFused<Fma4>(a.act, _mm_set_ss(bias + Fma4::Sum(acc))));
      store(ox, &v, 1);
    };
    int ox = 0;
    for (; ox < left; ++ox) pixel(ox);
    const float* x0 = inRow0 - size_t(a.padL) * 4;
    for (; ox + 16 <= right; ox += 16) {
      SingleOutputPairs<8>(a, x0 + size_t(ox) * 4, rowStep, ky0, ky1, a.weight, bv, tmp);
      store(ox, tmp, 16);
    }
    for (; ox + 8 <= right; ox += 8) {
      SingleOutputPairs<4>(a, x0 + size_t(ox) * 4, rowStep, ky0, ky1, a.weight, bv, tmp);
      store(ox, tmp, 8);
    }
    for (; ox < a.Wo; ++ox) pixel(ox);
  }
}

void Conv1x1X86Block4(const ConvArgs& a) {
  const bool packedOut = a.outStride == 0 || a.outStride == 4;
  if (a.C == 4 && a.Cin % 8 == 0 && a.Cin <= kFourOutputsMaxCin && packedOut) {
    // Regroup the block-4 weights (channel, filter) per filter.
    alignas(32) float w[4 * kFourOutputsMaxCin];
    for (int f = 0; f < 4; ++f)
      for (int k = 0; k < a.Cin; ++k) w[f * a.Cin + k] = a.weight[k * 4 + f];
    FourOutputs1x1(a, w);
    return;
  }
  OneByOne<Fma4, 4, 8>(a);
}

}  // namespace TAVROMATTING

#pragma GCC pop_options
