// Max and average pooling. Rows take only the window rows inside the image;
// columns are split into borders (clipped, one pixel at a time) and an
// interior of full windows 4 pixels per step.
#include <cfloat>
#include <vector>

#include "impl_x86/pooling_kernels.h"
#include "impl_x86/sse_util.h"
#include "impl_x86/weight_layout.h"

namespace TAVROMATTING {
namespace {

template <int B, bool MAX, int K, int S>
void Pool(const ConvArgs& a) {
  constexpr int R = B / 4;
  const int C = a.C;
  const int kh = K ? K : a.kh, kw = K ? K : a.kw;
  const int sw = S ? S : a.sw;
  int left, right;
  SplitColumns(a, 4, &left, &right);
  const __m128 lowest = _mm_set1_ps(-FLT_MAX);
  for (int oy = 0; oy < a.Ho; ++oy) {
    int ky0, ky1;
    const int iy0 = ClipRows(a, oy, kh, &ky0, &ky1);
    float* orow = a.out + size_t(oy) * a.Wo * C;
    for (int c0 = 0; c0 < C; c0 += B) {
      auto pixel = [&](int ox, int kx0, int kx1) {
        const int ix0 = ox * sw - a.padL;
        __m128 acc[R];
#pragma GCC unroll 16
        for (int j = 0; j < R; ++j) acc[j] = MAX ? lowest : _mm_setzero_ps();
        for (int ky = ky0; ky < ky1; ++ky)
          for (int kx = kx0; kx < kx1; ++kx) {
            const float* x = a.in + (size_t(iy0 + ky * a.dh) * a.W + ix0 + kx * a.dw) * C + c0;
#pragma GCC unroll 16
            for (int j = 0; j < R; ++j)
              acc[j] = MAX ? _mm_max_ps(acc[j], _mm_loadu_ps(x + 4 * j))
                           : _mm_add_ps(acc[j], _mm_loadu_ps(x + 4 * j));
          }
        if (!MAX) {
          const int taps = (ky1 - ky0) * (kx1 - kx0);
          const __m128 inv = _mm_set1_ps(taps ? 1.f / float(taps) : 0.f);
#pragma GCC unroll 16
          for (int j = 0; j < R; ++j) acc[j] = _mm_mul_ps(acc[j], inv);
        }
        float* o = orow + size_t(ox) * C + c0;
#pragma GCC unroll 16
        for (int j = 0; j < R; ++j) _mm_storeu_ps(o + 4 * j, acc[j]);
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
}

}  // namespace

void PoolReference(const ConvArgs& a, PoolOp op) {
  const int C = a.C;
  for (int oy = 0; oy < a.Ho; ++oy) {
    int ky0, ky1;
    const int iy0 = ClipRows(a, oy, a.kh, &ky0, &ky1);
    for (int ox = 0; ox < a.Wo; ++ox) {
      int kx0, kx1;
      const int ix0 = ClipColumns(a, ox, a.kw, &kx0, &kx1);
      const int taps = (ky1 - ky0) * (kx1 - kx0);
      for (int c = 0; c < C; ++c) {
        float acc = op == PoolOp::kMax ? -FLT_MAX : 0.f;
        for (int ky = ky0; ky < ky1; ++ky)
          for (int kx = kx0; kx < kx1; ++kx) {
            float v = a.in[(size_t(iy0 + ky * a.dh) * a.W + ix0 + kx * a.dw) * C + c];
            if (op == PoolOp::kMax)
              acc = v > acc ? v : acc;
            else
              acc += v;
          }
        if (op == PoolOp::kAverage) acc *= taps ? 1.f / float(taps) : 0.f;
        a.out[(size_t(oy) * a.Wo + ox) * C + c] = acc;
      }
    }
  }
}

void PoolSse4(const ConvArgs& a, PoolOp op) {
  op == PoolOp::kMax ? Pool<4, true, 0, 0>(a) : Pool<4, false, 0, 0>(a);
}
void PoolSse8(const ConvArgs& a, PoolOp op) {
  op == PoolOp::kMax ? Pool<8, true, 0, 0>(a) : Pool<8, false, 0, 0>(a);
}
void MaxPool3x3S2Sse4(const ConvArgs& a) { Pool<4, true, 3, 2>(a); }
void MaxPool3x3S2Sse8(const ConvArgs& a) { Pool<8, true, 3, 2>(a); }

void GlobalAverageReference(const float* in, int pixels, int C, float* out) {
  const float inv = 1.f / float(pixels);
  for (int c = 0; c < C; ++c) {
    float s = 0.f;
    for (int p = 0; p < pixels; ++p) s += in[size_t(p) * C + c];
    out[c] = s * inv;
  }
}

template <int B>
static void GlobalAverage(const float* in, int pixels, int C, float* out) {
  constexpr int R = B / 4;
  const __m128 inv = _mm_set1_ps(1.f / float(pixels));
  const int nb = (C + B - 1) / B;
  for (int blk = 0; blk < nb; ++blk) {
    const int c0 = int(layout::BlockStart(blk, B, C));
    __m128 acc[R];
#pragma GCC unroll 16
    for (int j = 0; j < R; ++j) acc[j] = _mm_setzero_ps();
    for (int p = 0; p < pixels; ++p)
#pragma GCC unroll 16
      for (int j = 0; j < R; ++j)
        acc[j] = _mm_add_ps(acc[j], _mm_loadu_ps(in + size_t(p) * C + c0 + 4 * j));
#pragma GCC unroll 16
    for (int j = 0; j < R; ++j) _mm_storeu_ps(out + c0 + 4 * j, _mm_mul_ps(acc[j], inv));
  }
}

void GlobalAverageSse4(const float* in, int pixels, int C, float* out) {
  GlobalAverage<4>(in, pixels, C, out);
}
void GlobalAverageSse8(const float* in, int pixels, int C, float* out) {
  GlobalAverage<8>(in, pixels, C, out);
}

}  // namespace TAVROMATTING
