// 3x3 convolutions of the x86 path (AVX+FMA, fused Relu only, chosen by the
// caller): blocks 16 and 24 on 8-wide registers (stride 1, stride 2 and the
// general case), the first-layer block-16 member over channel-blocked weights
// (row, channel, column), and the block-4 members on 4-wide registers that
// compute 6 output pixels x 4 channels per step (3x3 at stride 1 sliding
// along the row, so each broadcast input value serves three kernel columns;
// the same body also runs 2x2 kernels of any stride and dilation).
#include <cstring>
#include <vector>

#include "impl_x86/conv_kernels.h"
#include "impl_x86/vec_avx.h"
#include "impl_x86/weight_layout.h"

#pragma GCC push_options
#pragma GCC target("avx,fma")

#include "impl_x86/direct_body.h"

namespace TAVROMATTING {
namespace {

// Block 4 (kBlock4), K x K kernel. S, D: stride and dilation width fixed at
// compile time (0 = from the args); rows always follow the args.
template <int S, int D, int K = 3>
void Block4Fma(const ConvArgs& a) {
  constexpr int T = 6;  // output pixels per step
  const int Cin = a.Cin, C = a.C;
  const int sw = S ? S : a.sw, dw = D ? D : a.dw;
  const int inS = a.inStride ? a.inStride : Cin, outS = a.outStride ? a.outStride : C;
  const int nb = (C + 3) / 4;
  const int valid = C < 4 ? C : 4;
  std::vector<float> bias(size_t(nb) * 4 + 4, 0.f);
  if (a.bias)
    for (int i = 0; i < C; ++i) bias[i] = a.bias[i];
  const size_t wBlock = size_t(K * K) * Cin * 4;
  int left, right;
  SplitColumns(a, T, &left, &right);
  auto store = [&](float* dst, __m128 v) {
    v = ApplyFused<Fma4>(a.act, v);
    StoreLanes<Fma4, 4>(dst, &v, valid);
  };
  for (int oy = 0; oy < a.Ho; ++oy) {
    const int iy0 = oy * a.sh - a.padT;
    int ky0, ky1;
    ClipTaps(iy0, a.dh, K, a.H, &ky0, &ky1);
    float* orow = a.out + size_t(oy) * a.Wo * outS;
    for (int blk = 0; blk < nb; ++blk) {
      const int m0 = int(layout::BlockStart(blk, 4, C));
      const float* wb = a.weight + blk * wBlock;
      const __m128 b = _mm_loadu_ps(&bias[m0]);
      auto border = [&](int ox) {
        const int ix0 = ox * sw - a.padL;
        int kx0, kx1;
        ClipTaps(ix0, dw, K, a.W, &kx0, &kx1);
        __m128 acc = b;
        for (int ky = ky0; ky < ky1; ++ky)
          for (int kx = kx0; kx < kx1; ++kx) {
            const float* x = a.in + (size_t(iy0 + ky * a.dh) * a.W + ix0 + kx * dw) * inS;
            const float* wp = wb + size_t(ky * K + kx) * Cin * 4;
            for (int k = 0; k < Cin; ++k)
              acc = _mm_fmadd_ps(_mm_broadcast_ss(x + k), _mm_loadu_ps(wp + 4 * k), acc);
          }
        store(orow + size_t(ox) * outS + m0, acc);
      };
      for (int ox = 0; ox < left; ++ox) border(ox);
      for (int ox = left; ox < right; ox += T) {
        const int ix0 = ox * sw - a.padL;
        __m128 acc[T];
#pragma GCC unroll 16
        for (int i = 0; i < T; ++i) acc[i] = b;
        for (int ky = ky0; ky < ky1; ++ky) {
          const float* xr = a.in + (size_t(iy0 + ky * a.dh) * a.W + ix0) * inS;
          if (S == 1 && D == 1 && K == 3) {
            // Sliding along the row: each of the T + 2 input pixels is
            // broadcast once and serves the (up to) three outputs whose
            // window holds it, one kernel column each.
            const float* wr = wb + size_t(ky * 3) * Cin * 4;
            for (int k = 0; k < Cin; ++k) {
              const __m128 w0 = _mm_loadu_ps(wr + 4 * k);
              const __m128 w1 = _mm_loadu_ps(wr + size_t(Cin) * 4 + 4 * k);
              const __m128 w2 = _mm_loadu_ps(wr + size_t(Cin) * 8 + 4 * k);
#pragma GCC unroll 8
              for (int p = 0; p < T + 2; ++p) {
                const __m128 xv = _mm_broadcast_ss(xr + size_t(p) * inS + k);
                if (p < T) acc[p] = _mm_fmadd_ps(xv, w0, acc[p]);
                if (p >= 1 && p - 1 < T) acc[p - 1] = _mm_fmadd_ps(xv, w1, acc[p - 1]);
                if (p >= 2) acc[p - 2] = _mm_fmadd_ps(xv, w2, acc[p - 2]);
              }
            }
            continue;
          }
          for (int kx = 0; kx < K; ++kx) {
            const float* xk = xr + size_t(kx) * dw * inS;
            const float* wk = wb + size_t(ky * K + kx) * Cin * 4;
            for (int k = 0; k < Cin; ++k) {
              const __m128 wv = _mm_loadu_ps(wk + 4 * k);
#pragma GCC unroll 8
              for (int i = 0; i < T; ++i)
                acc[i] = _mm_fmadd_ps(_mm_broadcast_ss(xk + size_t(i) * sw * inS + k), wv, acc[i]);
            }
          }
        }
#pragma GCC unroll 16
        for (int i = 0; i < T; ++i) store(orow + size_t(ox + i) * outS + m0, acc[i]);
      }
      for (int ox = right; ox < a.Wo; ++ox) border(ox);
    }
  }
}

}  // namespace

void Conv3x3X86Block16(const ConvArgs& a) { Direct<Fma8, 16, 0, 3, 0>(a); }
void Conv3x3X86Block16S2(const ConvArgs& a) { Direct<Fma8, 16, 0, 3, 2>(a); }
void Conv3x3X86Block24(const ConvArgs& a) { Direct<Fma8, 24, 0, 3, 0>(a); }

void ConvFirstLayerX86(const ConvArgs& a) {
  if (a.Cin == 3)
    Direct<Fma8, 16, 3, 3, 2, true>(a);
  else
    Direct<Fma8, 16, 1, 3, 2, true>(a);
}

void Conv3x3X86Block4(const ConvArgs& a) { Block4Fma<1, 1>(a); }
void Conv3x3X86Block4S2D2(const ConvArgs& a) { Block4Fma<2, 2>(a); }
void Conv3x3X86Block4General(const ConvArgs& a) { Block4Fma<0, 0>(a); }
void Conv2x2X86Block4(const ConvArgs& a) { Block4Fma<0, 0, 2>(a); }

}  // namespace TAVROMATTING

#pragma GCC pop_options
