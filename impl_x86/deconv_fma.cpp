// Transposed convolution by gathering, fused multiply-add members: the
// stride-2 member of block 8 (kBlock8) and the two-output member (kPlain,
// input channels 8 at a time). Weights are blocked by output channel and
// rotated by 180 degrees, so output (oy, ox) reads tap (ky, kx) from input
// ((oy - P + ky) / 2, (ox - Q + kx) / 2) when both are even and inside.
#include <vector>

#include "impl_x86/avx_util.h"
#include "impl_x86/conv_kernels.h"
#include "impl_x86/weight_layout.h"

#pragma GCC push_options
#pragma GCC target("avx,fma")

namespace TAVROMATTING {
namespace {

// Taps k in [first, last) stepping by 2 with (o - p + k) even and
// (o - p + k) / 2 in [0, n).
inline void Stride2TapsFma(int o, int p, int ksize, int n, int* first, int* last) {
  int k = (o - p) & 1;
  while (k < ksize && (o - p + k) < 0) k += 2;
  int e = k;
  while (e < ksize && (o - p + e) / 2 < n) e += 2;
  *first = k;
  *last = e;
}

}  // namespace

void DeconvStride2Fma8(const ConvArgs& a) {
  const int P = a.kh - 1 - a.padT, Q = a.kw - 1 - a.padL;
  const int C = a.C, Cin = a.Cin;
  const int nb = (C + 7) / 8;
  const int valid = C < 8 ? C : 8;
  const size_t wBlock = size_t(a.kh) * a.kw * Cin * 8;
  alignas(32) float biasBlock[8];
  // Column taps of every output column, computed once per call.
  std::vector<int> cols(size_t(a.Wo) * 2);
  for (int ox = 0; ox < a.Wo; ++ox)
    Stride2TapsFma(ox, Q, a.kw, a.W, &cols[2 * ox], &cols[2 * ox + 1]);
  for (int blk = 0; blk < nb; ++blk) {
    const int m0 = int(layout::BlockStart(blk, 8, C));
    for (int j = 0; j < 8; ++j) biasBlock[j] = (a.bias && m0 + j < C) ? a.bias[m0 + j] : 0.f;
    const __m256 b = _mm256_load_ps(biasBlock);
    const float* wb = a.weight + blk * wBlock;
    for (int oy = 0; oy < a.Ho; ++oy) {
      int ky0, ky1;
      Stride2TapsFma(oy, P, a.kh, a.H, &ky0, &ky1);
      for (int ox = 0; ox < a.Wo; ++ox) {
        const int kx0 = cols[2 * ox], kx1 = cols[2 * ox + 1];
        __m256 acc = b;
        for (int ky = ky0; ky < ky1; ky += 2) {
          const int iy = (oy - P + ky) / 2;
          for (int kx = kx0; kx < kx1; kx += 2) {
            const int ix = (ox - Q + kx) / 2;
            const float* x = a.in + (size_t(iy) * a.W + ix) * Cin;
            const float* wp = wb + size_t(ky * a.kw + kx) * Cin * 8;
            for (int i = 0; i < Cin; ++i)
              acc = _mm256_fmadd_ps(_mm256_broadcast_ss(x + i), _mm256_loadu_ps(wp + i * 8), acc);
          }
        }
        acc = avx::ApplyFused(a.act, acc);
        avx::Store<8>(a.out + (size_t(oy) * a.Wo + ox) * C + m0, &acc, valid);
      }
    }
  }
}

void DeconvTwoOutputFma(const ConvArgs& a) {
  const int P = a.kh - 1 - a.padT, Q = a.kw - 1 - a.padL;
  const int Cin = a.Cin;
  const size_t wFilter = size_t(a.kh) * a.kw * Cin;
  const float b0 = a.bias ? a.bias[0] : 0.f, b1 = a.bias ? a.bias[1] : 0.f;
  for (int oy = 0; oy < a.Ho; ++oy) {
    int ky0, ky1;
    Stride2TapsFma(oy, P, a.kh, a.H, &ky0, &ky1);
    for (int ox = 0; ox < a.Wo; ++ox) {
      int kx0, kx1;
      Stride2TapsFma(ox, Q, a.kw, a.W, &kx0, &kx1);
      __m256 s0 = _mm256_setzero_ps(), s1 = _mm256_setzero_ps();
      for (int ky = ky0; ky < ky1; ky += 2)
        for (int kx = kx0; kx < kx1; kx += 2) {
          const float* x = a.in + (size_t((oy - P + ky) / 2) * a.W + (ox - Q + kx) / 2) * Cin;
          const float* w0 = a.weight + size_t(ky * a.kw + kx) * Cin;
          const float* w1 = w0 + wFilter;
          for (int i = 0; i < Cin; i += 8) {
            const __m256 xv = _mm256_loadu_ps(x + i);
            s0 = _mm256_fmadd_ps(xv, _mm256_loadu_ps(w0 + i), s0);
            s1 = _mm256_fmadd_ps(xv, _mm256_loadu_ps(w1 + i), s1);
          }
        }
      float* o = a.out + (size_t(oy) * a.Wo + ox) * 2;
      o[0] = b0 + avx::HorizontalSum(s0);
      o[1] = b1 + avx::HorizontalSum(s1);
    }
  }
}

}  // namespace TAVROMATTING

#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx,fma")

// 5x5 stride-2 FMA members over the shared input walk (see deconv_sse.cpp).
namespace TAVROMATTING {
namespace {

// Blocked by output channel, planar-flag weights (block, k, y, x, m), b = 8.
void PixelBlocked8(const ConvArgs& a, int oy, int ox, int ky0, int ky1, int kx0, int kx1) {
  const int P = a.kh - 1 - a.padT, Q = a.kw - 1 - a.padL;
  const int C = a.C, Cin = a.Cin;
  const int nb = (C + 7) / 8, valid = C < 8 ? C : 8;
  const size_t taps = size_t(a.kh) * a.kw;
  for (int blk = 0; blk < nb; ++blk) {
    const int m0 = int(layout::BlockStart(blk, 8, C));
    alignas(32) float b[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    for (int j = 0; j < valid && a.bias; ++j) b[j] = a.bias[m0 + j];
    __m256 acc = _mm256_load_ps(b);
    const float* wb = a.weight + size_t(blk) * Cin * taps * 8;
    for (int ky = ky0; ky < ky1; ky += 2)
      for (int kx = kx0; kx < kx1; kx += 2) {
        const float* x = a.in + (size_t((oy - P + ky) / 2) * a.W + (ox - Q + kx) / 2) * Cin;
        const float* wp = wb + (size_t(ky) * a.kw + kx) * 8;
        for (int i = 0; i < Cin; ++i)
          acc = _mm256_fmadd_ps(_mm256_broadcast_ss(x + i), _mm256_loadu_ps(wp + i * taps * 8), acc);
      }
    acc = avx::ApplyFused(a.act, acc);
    avx::Store<8>(a.out + (size_t(oy) * a.Wo + ox) * C + m0, &acc, valid);
  }
}

// By input channel (weights kPlain), 8 input channels at a time.
void PixelByInput8(const ConvArgs& a, int oy, int ox, int ky0, int ky1, int kx0, int kx1) {
  const int P = a.kh - 1 - a.padT, Q = a.kw - 1 - a.padL;
  const int C = a.C, Cin = a.Cin;
  float* o = a.out + (size_t(oy) * a.Wo + ox) * C;
  for (int f = 0; f < C; ++f) {
    __m256 acc = _mm256_setzero_ps();
    float tail = 0.f;
    for (int ky = ky0; ky < ky1; ky += 2)
      for (int kx = kx0; kx < kx1; kx += 2) {
        const float* x = a.in + (size_t((oy - P + ky) / 2) * a.W + (ox - Q + kx) / 2) * Cin;
        const float* wp = a.weight + ((size_t(f) * a.kh + ky) * a.kw + kx) * Cin;
        int i = 0;
        for (; i + 8 <= Cin; i += 8)
          acc = _mm256_fmadd_ps(_mm256_loadu_ps(x + i), _mm256_loadu_ps(wp + i), acc);
        for (; i < Cin; ++i) tail += x[i] * wp[i];
      }
    o[f] = (a.bias ? a.bias[f] : 0.f) + avx::HorizontalSum(acc) + tail;
  }
}

}  // namespace

void Deconv5x5S2Fma8(const ConvArgs& a) { Deconv5x5Walk(a, PixelBlocked8); }
void Deconv5x5S2FmaByInput(const ConvArgs& a) { Deconv5x5Walk(a, PixelByInput8); }

}  // namespace TAVROMATTING

#pragma GCC pop_options
