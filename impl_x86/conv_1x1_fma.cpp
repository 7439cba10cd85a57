// 1x1 stride-1 convolution with 8-wide fused multiply-add: a (pixels x Cin)
// by (Cin x C) product, 4 pixels x one channel block per step. Blocks 8 and
// 16 serve the portable AVX2+FMA table, blocks 16, 24 and 32 the x86 path
// (4 x 32 floats = 16 accumulators). The last block is moved back to end at
// C; with C below the block the single block's extra channels come from zero
// weights and are not stored.
#include "impl_x86/avx_util.h"
#include "impl_x86/conv_kernels.h"
#include "impl_x86/weight_layout.h"

#pragma GCC push_options
#pragma GCC target("avx,fma")

namespace TAVROMATTING {
namespace {

template <int B>
void OneByOneFma(const ConvArgs& a) {
  constexpr int R = B / 8;
  const int Cin = a.Cin, C = a.C;
  const int inS = a.inStride ? a.inStride : Cin, outS = a.outStride ? a.outStride : C;
  const size_t pixels = size_t(a.Ho) * a.Wo;
  const int nb = (C + B - 1) / B;
  const int valid = C < B ? C : B;
  const size_t quads = pixels / 4 * 4;
  alignas(32) float biasBlock[B];
  for (int blk = 0; blk < nb; ++blk) {
    const int m0 = int(layout::BlockStart(blk, B, C));
    const float* wb = a.weight + size_t(blk) * Cin * B;
    for (int j = 0; j < B; ++j) biasBlock[j] = (a.bias && m0 + j < C) ? a.bias[m0 + j] : 0.f;
    __m256 b[R];
#pragma GCC unroll 16
    for (int j = 0; j < R; ++j) b[j] = _mm256_load_ps(biasBlock + 8 * j);
    size_t p = 0;
    for (; p < quads; p += 4) {
      __m256 acc[4][R];
#pragma GCC unroll 16
      for (int i = 0; i < 4; ++i)
#pragma GCC unroll 16
        for (int j = 0; j < R; ++j) acc[i][j] = b[j];
      const float* x = a.in + p * inS;
      for (int k = 0; k < Cin; ++k) {
        const float* wk = wb + k * B;
#pragma GCC unroll 16
        for (int j = 0; j < R; ++j) {
          const __m256 wv = _mm256_loadu_ps(wk + 8 * j);
#pragma GCC unroll 16
          for (int i = 0; i < 4; ++i)
            acc[i][j] = _mm256_fmadd_ps(_mm256_broadcast_ss(x + i * inS + k), wv, acc[i][j]);
        }
      }
#pragma GCC unroll 16
      for (int i = 0; i < 4; ++i) {
#pragma GCC unroll 16
        for (int j = 0; j < R; ++j) acc[i][j] = avx::ApplyFused(a.act, acc[i][j]);
        avx::Store<B>(a.out + (p + i) * outS + m0, acc[i], valid);
      }
    }
    for (; p < pixels; ++p) {
      __m256 acc[R];
#pragma GCC unroll 16
      for (int j = 0; j < R; ++j) acc[j] = b[j];
      const float* x = a.in + p * inS;
      for (int k = 0; k < Cin; ++k) {
        const __m256 xv = _mm256_broadcast_ss(x + k);
#pragma GCC unroll 16
        for (int j = 0; j < R; ++j)
          acc[j] = _mm256_fmadd_ps(xv, _mm256_loadu_ps(wb + k * B + 8 * j), acc[j]);
      }
#pragma GCC unroll 16
      for (int j = 0; j < R; ++j) acc[j] = avx::ApplyFused(a.act, acc[j]);
      avx::Store<B>(a.out + p * outS + m0, acc, valid);
    }
  }
}

}  // namespace

void Conv1x1Fma8(const ConvArgs& a) { OneByOneFma<8>(a); }
void Conv1x1Fma16(const ConvArgs& a) { OneByOneFma<16>(a); }
void Conv1x1X86Block16(const ConvArgs& a) { OneByOneFma<16>(a); }
void Conv1x1X86Block24(const ConvArgs& a) { OneByOneFma<24>(a); }
void Conv1x1X86Block32(const ConvArgs& a) { OneByOneFma<32>(a); }

}  // namespace TAVROMATTING

#pragma GCC pop_options
