// Pooling, AVX members of 8 and 16 channels (the 4-channel rows use the SSE
// members). Windowed pooling takes only the window rows inside the image,
// splits the columns into clipped borders and an interior of full windows,
// and never lets padded taps take part; the average divides by the taps
// inside the image.
#include <cfloat>

#include "impl_x86/avx_util.h"
#include "impl_x86/pooling_kernels.h"
#include "impl_x86/weight_layout.h"

#pragma GCC push_options
#pragma GCC target("avx")

namespace TAVROMATTING {
namespace {

template <int B, bool MAX, int K, int S>
void PoolAvx(const ConvArgs& a) {
  constexpr int R = B / 8;
  const int C = a.C;
  const int kh = K ? K : a.kh, kw = K ? K : a.kw;
  const int sw = S ? S : a.sw;
  int left, right;
  SplitColumns(a, 4, &left, &right);
  const __m256 lowest = _mm256_set1_ps(-FLT_MAX);
  for (int oy = 0; oy < a.Ho; ++oy) {
    int ky0, ky1;
    const int iy0 = ClipRows(a, oy, kh, &ky0, &ky1);
    float* orow = a.out + size_t(oy) * a.Wo * C;
    auto pixel = [&](int ox, int kx0, int kx1) {
      const int ix0 = ox * sw - a.padL;
      const int taps = (ky1 - ky0) * (kx1 - kx0);
      const float inv = taps != 0 ? 1.f / float(taps) : 0.f;
      for (int c0 = 0; c0 < C; c0 += B) {
        __m256 acc[R];
#pragma GCC unroll 16
        for (int j = 0; j < R; ++j) acc[j] = MAX ? lowest : _mm256_setzero_ps();
        for (int ky = ky0; ky < ky1; ++ky)
          for (int kx = kx0; kx < kx1; ++kx) {
            const float* x = a.in + (size_t(iy0 + ky * a.dh) * a.W + ix0 + kx * a.dw) * C + c0;
#pragma GCC unroll 16
            for (int j = 0; j < R; ++j)
              acc[j] = MAX ? _mm256_max_ps(acc[j], _mm256_loadu_ps(x + 8 * j))
                           : _mm256_add_ps(acc[j], _mm256_loadu_ps(x + 8 * j));
          }
        if (!MAX)
#pragma GCC unroll 16
          for (int j = 0; j < R; ++j) acc[j] = _mm256_mul_ps(acc[j], _mm256_set1_ps(inv));
        float* o = orow + size_t(ox) * C + c0;
#pragma GCC unroll 16
        for (int j = 0; j < R; ++j) _mm256_storeu_ps(o + 8 * j, acc[j]);
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

// Sum over all pixels per channel block (last block moved back), times 1 / n.
template <int B>
void GlobalAverageAvx(const float* in, int pixels, int C, float* out) {
  constexpr int R = B / 8;
  const __m256 inv = _mm256_set1_ps(1.f / float(pixels));
  const int nb = (C + B - 1) / B;
  for (int blk = 0; blk < nb; ++blk) {
    const int c0 = int(layout::BlockStart(blk, B, C));
    __m256 acc[R];
#pragma GCC unroll 16
    for (int j = 0; j < R; ++j) acc[j] = _mm256_setzero_ps();
    for (int p = 0; p < pixels; ++p)
#pragma GCC unroll 16
      for (int j = 0; j < R; ++j)
        acc[j] = _mm256_add_ps(acc[j], _mm256_loadu_ps(in + size_t(p) * C + c0 + 8 * j));
#pragma GCC unroll 16
    for (int j = 0; j < R; ++j) _mm256_storeu_ps(out + c0 + 8 * j, _mm256_mul_ps(acc[j], inv));
  }
}

}  // namespace

void PoolAvx8(const ConvArgs& a, PoolOp op) {
  op == PoolOp::kMax ? PoolAvx<8, true, 0, 0>(a) : PoolAvx<8, false, 0, 0>(a);
}
void PoolAvx16(const ConvArgs& a, PoolOp op) {
  op == PoolOp::kMax ? PoolAvx<16, true, 0, 0>(a) : PoolAvx<16, false, 0, 0>(a);
}
void MaxPool3x3S2Avx8(const ConvArgs& a) { PoolAvx<8, true, 3, 2>(a); }
void MaxPool3x3S2Avx16(const ConvArgs& a) { PoolAvx<16, true, 3, 2>(a); }
void GlobalAverageAvx8(const float* in, int pixels, int C, float* out) {
  GlobalAverageAvx<8>(in, pixels, C, out);
}
void GlobalAverageAvx16(const float* in, int pixels, int C, float* out) {
  GlobalAverageAvx<16>(in, pixels, C, out);
}

}  // namespace TAVROMATTING

#pragma GCC pop_options
