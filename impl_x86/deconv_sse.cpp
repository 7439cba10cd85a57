// Transposed convolution by gathering: every output pixel sums the input
// pixels that reach it. Weights are blocked by output channel and rotated by
// 180 degrees, so output (oy, ox) reads tap (ky, kx) from input position
// ((oy - P + ky) / 2, (ox - Q + kx) / 2) when both are even and inside.
#include <vector>

#include "impl_x86/conv_kernels.h"
#include "impl_x86/sse_util.h"
#include "impl_x86/weight_layout.h"

namespace TAVROMATTING {
namespace {

// Taps k in [0, ksize) with (o - p + k) even and (o - p + k) / 2 in [0, n).
inline void Stride2Taps(int o, int p, int ksize, int n, int* first, int* last) {
  int k = (o - p) & 1;  // parity of o - p + k must be even
  while (k < ksize && (o - p + k) < 0) k += 2;
  int l = k;
  int e = k;
  while (e < ksize && (o - p + e) / 2 < n) e += 2;
  *first = l;
  *last = e;  // exclusive, same parity
}

}  // namespace

void DeconvStride2Sse4(const ConvArgs& a) {
  const int P = a.kh - 1 - a.padT, Q = a.kw - 1 - a.padL;
  const int C = a.C, Cin = a.Cin;
  const int nb = (C + 3) / 4;
  const int valid = C < 4 ? C : 4;
  const size_t wBlock = size_t(a.kh) * a.kw * Cin * 4;
  // Bias of every block (zeros past C), and the column taps of every output
  // column, computed once per call.
  std::vector<float> bias(size_t(nb) * 4, 0.f);
  for (int blk = 0; blk < nb; ++blk) {
    const int m0 = int(layout::BlockStart(blk, 4, C));
    for (int j = 0; j < valid && a.bias; ++j) bias[blk * 4 + j] = a.bias[m0 + j];
  }
  if (a.kh == 2 && a.kw == 2 && P == 1 && Q == 1) {
    // Kernel equal to the stride: output (oy, ox) reads only input
    // (oy / 2, ox / 2) with tap (1 - oy % 2, 1 - ox % 2); each pair of
    // adjacent even and odd columns shares its input pixel's broadcasts.
    for (int oy = 0; oy < a.Ho; ++oy) {
      const int ky = 1 - (oy & 1);
      const float* xrow = a.in + size_t(oy >> 1) * a.W * Cin;
      float* orow = a.out + size_t(oy) * a.Wo * C;
      for (int blk = 0; blk < nb; ++blk) {
        const int m0 = int(layout::BlockStart(blk, 4, C));
        const __m128 b = _mm_loadu_ps(&bias[blk * 4]);
        const float* wEven = a.weight + blk * wBlock + size_t(ky * 2 + 1) * Cin * 4;
        const float* wOdd = a.weight + blk * wBlock + size_t(ky * 2) * Cin * 4;
        for (int ox = 0; ox < a.Wo; ox += 2) {
          const float* x = xrow + size_t(ox >> 1) * Cin;
          __m128 even = b, odd = b;
          for (int i = 0; i < Cin; ++i) {
            const __m128 xv = _mm_set1_ps(x[i]);
            even = _mm_add_ps(even, _mm_mul_ps(xv, _mm_loadu_ps(wEven + i * 4)));
            odd = _mm_add_ps(odd, _mm_mul_ps(xv, _mm_loadu_ps(wOdd + i * 4)));
          }
          even = ApplyFusedSse(a.act, even);
          StoreLanes<4>(orow + size_t(ox) * C + m0, &even, valid);
          if (ox + 1 < a.Wo) {
            odd = ApplyFusedSse(a.act, odd);
            StoreLanes<4>(orow + size_t(ox + 1) * C + m0, &odd, valid);
          }
        }
      }
    }
    return;
  }
  std::vector<int> cols(size_t(a.Wo) * 2);
  for (int ox = 0; ox < a.Wo; ++ox) Stride2Taps(ox, Q, a.kw, a.W, &cols[2 * ox], &cols[2 * ox + 1]);
  for (int oy = 0; oy < a.Ho; ++oy) {
    int ky0, ky1;
    Stride2Taps(oy, P, a.kh, a.H, &ky0, &ky1);
    for (int ox = 0; ox < a.Wo; ++ox) {
      const int kx0 = cols[2 * ox], kx1 = cols[2 * ox + 1];
      float* o = a.out + (size_t(oy) * a.Wo + ox) * C;
      for (int blk = 0; blk < nb; ++blk) {
        const int m0 = int(layout::BlockStart(blk, 4, C));
        __m128 acc = _mm_loadu_ps(&bias[blk * 4]);
        const float* wb = a.weight + blk * wBlock;
        for (int ky = ky0; ky < ky1; ky += 2) {
          const int iy = (oy - P + ky) / 2;
          for (int kx = kx0; kx < kx1; kx += 2) {
            const int ix = (ox - Q + kx) / 2;
            const float* x = a.in + (size_t(iy) * a.W + ix) * Cin;
            const float* wp = wb + size_t(ky * a.kw + kx) * Cin * 4;
            int i = 0;
            for (; i + 4 <= Cin; i += 4) {
              acc = _mm_add_ps(acc, _mm_mul_ps(_mm_set1_ps(x[i]), _mm_loadu_ps(wp + i * 4)));
              acc = _mm_add_ps(acc, _mm_mul_ps(_mm_set1_ps(x[i + 1]), _mm_loadu_ps(wp + i * 4 + 4)));
              acc = _mm_add_ps(acc, _mm_mul_ps(_mm_set1_ps(x[i + 2]), _mm_loadu_ps(wp + i * 4 + 8)));
              acc = _mm_add_ps(acc, _mm_mul_ps(_mm_set1_ps(x[i + 3]), _mm_loadu_ps(wp + i * 4 + 12)));
            }
            for (; i < Cin; ++i)
              acc = _mm_add_ps(acc, _mm_mul_ps(_mm_set1_ps(x[i]), _mm_loadu_ps(wp + i * 4)));
          }
        }
        acc = ApplyFusedSse(a.act, acc);
        StoreLanes<4>(o + m0, &acc, valid);
      }
    }
  }
}

void DeconvTwoOutputSse(const ConvArgs& a) {
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
      __m128 s0 = _mm_setzero_ps(), s1 = _mm_setzero_ps();
      for (int ky = ky0; ky < ky1; ky += 2)
        for (int kx = kx0; kx < kx1; kx += 2) {
          const float* x = a.in + (size_t((oy - P + ky) / 2) * a.W + (ox - Q + kx) / 2) * Cin;
          const float* w0 = a.weight + size_t(ky * a.kw + kx) * Cin;
          const float* w1 = w0 + wFilter;
          for (int i = 0; i < Cin; i += 4) {
            const __m128 xv = _mm_loadu_ps(x + i);
            s0 = _mm_add_ps(s0, _mm_mul_ps(xv, _mm_loadu_ps(w0 + i)));
            s1 = _mm_add_ps(s1, _mm_mul_ps(xv, _mm_loadu_ps(w1 + i)));
          }
        }
      float* o = a.out + (size_t(oy) * a.Wo + ox) * 2;
      o[0] = b0 + HorizontalSum(s0);
      o[1] = b1 + HorizontalSum(s1);
    }
  }
}

}  // namespace TAVROMATTING

// 5x5 stride-2 members: they walk the input, computing for every input pixel
// (iy, ix) the four output pixels (2iy + py, 2ix + px) together; each output
// pixel takes the taps of its parity, which read the 3x3 input neighbourhood
// around (iy, ix) (missing rows and columns at the edges contribute nothing).
namespace TAVROMATTING {
void Deconv5x5Walk(const ConvArgs& a, Deconv5x5Pixel pixel) {
  const int P = a.kh - 1 - a.padT, Q = a.kw - 1 - a.padL;
  const int qh = (a.Ho + 1) / 2, qw = (a.Wo + 1) / 2;
  for (int iy = 0; iy < qh; ++iy)
    for (int ix = 0; ix < qw; ++ix)
      for (int py = 0; py < 2; ++py) {
        const int oy = 2 * iy + py;
        if (oy >= a.Ho) continue;
        int ky0, ky1;
        Stride2Taps(oy, P, a.kh, a.H, &ky0, &ky1);
        for (int px = 0; px < 2; ++px) {
          const int ox = 2 * ix + px;
          if (ox >= a.Wo) continue;
          int kx0, kx1;
          Stride2Taps(ox, Q, a.kw, a.W, &kx0, &kx1);
          pixel(a, oy, ox, ky0, ky1, kx0, kx1);
        }
      }
}

namespace {

// Blocked by output channel, planar-flag weights (block, k, y, x, m), b = 4.
void PixelBlocked4(const ConvArgs& a, int oy, int ox, int ky0, int ky1, int kx0, int kx1) {
  const int P = a.kh - 1 - a.padT, Q = a.kw - 1 - a.padL;
  const int C = a.C, Cin = a.Cin;
  const int nb = (C + 3) / 4, valid = C < 4 ? C : 4;
  const size_t taps = size_t(a.kh) * a.kw;
  for (int blk = 0; blk < nb; ++blk) {
    const int m0 = int(layout::BlockStart(blk, 4, C));
    alignas(16) float b[4] = {0, 0, 0, 0};
    for (int j = 0; j < valid && a.bias; ++j) b[j] = a.bias[m0 + j];
    __m128 acc = _mm_load_ps(b);
    const float* wb = a.weight + size_t(blk) * Cin * taps * 4;
    for (int ky = ky0; ky < ky1; ky += 2)
      for (int kx = kx0; kx < kx1; kx += 2) {
        const float* x = a.in + (size_t((oy - P + ky) / 2) * a.W + (ox - Q + kx) / 2) * Cin;
        const float* wp = wb + (size_t(ky) * a.kw + kx) * 4;
        for (int i = 0; i < Cin; ++i)
          acc = _mm_add_ps(acc, _mm_mul_ps(_mm_set1_ps(x[i]), _mm_loadu_ps(wp + i * taps * 4)));
      }
    acc = ApplyFusedSse(a.act, acc);
    StoreLanes<4>(a.out + (size_t(oy) * a.Wo + ox) * C + m0, &acc, valid);
  }
}

// By input channel (weights kPlain: output channel, row, column, input
// channel), 4 input channels at a time, scalar remainder.
void PixelByInput4(const ConvArgs& a, int oy, int ox, int ky0, int ky1, int kx0, int kx1) {
  const int P = a.kh - 1 - a.padT, Q = a.kw - 1 - a.padL;
  const int C = a.C, Cin = a.Cin;
  float* o = a.out + (size_t(oy) * a.Wo + ox) * C;
  for (int f = 0; f < C; ++f) {
    __m128 acc = _mm_setzero_ps();
    float tail = 0.f;
    for (int ky = ky0; ky < ky1; ky += 2)
      for (int kx = kx0; kx < kx1; kx += 2) {
        const float* x = a.in + (size_t((oy - P + ky) / 2) * a.W + (ox - Q + kx) / 2) * Cin;
        const float* wp = a.weight + ((size_t(f) * a.kh + ky) * a.kw + kx) * Cin;
        int i = 0;
        for (; i + 4 <= Cin; i += 4)
          acc = _mm_add_ps(acc, _mm_mul_ps(_mm_loadu_ps(x + i), _mm_loadu_ps(wp + i)));
        for (; i < Cin; ++i) tail += x[i] * wp[i];
      }
    o[f] = (a.bias ? a.bias[f] : 0.f) + HorizontalSum(acc) + tail;
  }
}

}  // namespace

void Deconv5x5S2General(const ConvArgs& a) { Deconv5x5Walk(a, PixelByInput4); }
void Deconv5x5S2Sse4(const ConvArgs& a) { Deconv5x5Walk(a, PixelBlocked4); }
void Deconv5x5S2SseByInput(const ConvArgs& a) { Deconv5x5Walk(a, PixelByInput4); }

}  // namespace TAVROMATTING
