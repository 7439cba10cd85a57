// 1x1 stride-1 convolution: a (pixels x Cin) by (Cin x C) product, 4 pixels
// x one block of output channels per step; the last block is moved back to
// end at C, the last pixels (fewer than 4) are done one at a time.
#include "impl_x86/conv_kernels.h"
#include "impl_x86/sse_util.h"
#include "impl_x86/weight_layout.h"

namespace TAVROMATTING {
namespace {

template <int B>
void OneByOne(const ConvArgs& a) {
  constexpr int R = B / 4;
  const int Cin = a.Cin, C = a.C;
  const int inS = a.inStride ? a.inStride : Cin, outS = a.outStride ? a.outStride : C;
  const size_t pixels = size_t(a.Ho) * a.Wo;
  const int nb = (C + B - 1) / B;
  const size_t quads = pixels / 4 * 4;
  for (int blk = 0; blk < nb; ++blk) {
    const int m0 = int(layout::BlockStart(blk, B, C));
    const float* wb = a.weight + size_t(blk) * Cin * B;
    __m128 b[R];
#pragma GCC unroll 16
    for (int j = 0; j < R; ++j) b[j] = a.bias ? _mm_loadu_ps(a.bias + m0 + 4 * j) : _mm_setzero_ps();
    size_t p = 0;
    for (; p < quads; p += 4) {
      __m128 acc[4][R];
#pragma GCC unroll 16
      for (int i = 0; i < 4; ++i)
#pragma GCC unroll 16
        for (int j = 0; j < R; ++j) acc[i][j] = b[j];
      const float* x = a.in + p * inS;
      for (int k = 0; k < Cin; ++k) {
        __m128 wv[R];
#pragma GCC unroll 16
        for (int j = 0; j < R; ++j) wv[j] = _mm_loadu_ps(wb + k * B + 4 * j);
#pragma GCC unroll 16
        for (int i = 0; i < 4; ++i) {
          const __m128 xv = _mm_set1_ps(x[i * inS + k]);
#pragma GCC unroll 16
          for (int j = 0; j < R; ++j) acc[i][j] = _mm_add_ps(acc[i][j], _mm_mul_ps(xv, wv[j]));
        }
      }
#pragma GCC unroll 16
      for (int i = 0; i < 4; ++i) {
        float* o = a.out + (p + i) * outS + m0;
#pragma GCC unroll 16
        for (int j = 0; j < R; ++j) _mm_storeu_ps(o + 4 * j, ApplyFusedSse(a.act, acc[i][j]));
      }
    }
    for (; p < pixels; ++p) {
      __m128 acc[R];
#pragma GCC unroll 16
      for (int j = 0; j < R; ++j) acc[j] = b[j];
      const float* x = a.in + p * inS;
      for (int k = 0; k < Cin; ++k) {
        const __m128 xv = _mm_set1_ps(x[k]);
#pragma GCC unroll 16
        for (int j = 0; j < R; ++j)
          acc[j] = _mm_add_ps(acc[j], _mm_mul_ps(xv, _mm_loadu_ps(wb + k * B + 4 * j)));
      }
      float* o = a.out + p * outS + m0;
#pragma GCC unroll 16
      for (int j = 0; j < R; ++j) _mm_storeu_ps(o + 4 * j, ApplyFusedSse(a.act, acc[j]));
    }
  }
}

}  // namespace

void Conv1x1Sse4(const ConvArgs& a) { OneByOne<4>(a); }
void Conv1x1Sse8(const ConvArgs& a) { OneByOne<8>(a); }

}  // namespace TAVROMATTING
