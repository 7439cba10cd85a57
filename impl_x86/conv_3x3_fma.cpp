// 3x3 convolutions of the x86 path (AVX+FMA, fused Relu only, chosen by the
// caller): blocks 16 and 24 on 8-wide registers (stride 1, stride 2 and the
// general case), the first-layer block-16 member over channel-blocked weights
// (row, channel, column), the first-layer member over packed input rows
// (which can read the network's bytes and normalise them on the way), and
// the block-4 members on 4-wide registers that compute 6 output pixels x 4
// channels per step (3x3 at stride 1 sliding
// along the row, so each broadcast input value serves three kernel columns;
// the same body also runs 2x2 kernels of any stride and dilation, and 8
// channels at a time on 8-wide registers where C is a multiple of 8).
#include <smmintrin.h>

#include <cstdint>
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

// Blocks of B = V::kLanes output channels (weights blocked by B: kBlock4 for
// Fma4, kBlock8 for Fma8), K x K kernel. S, D: stride and dilation width
// fixed at compile time (0 = from the args); rows always follow the args.
template <class V, int S, int D, int K = 3>
void BlockFma(const ConvArgs& a, const float* weight) {
  using VT = typename V::T;
  constexpr int B = V::kLanes;
  constexpr int T = 6;  // output pixels per step
  const int Cin = a.Cin, C = a.C;
  const int sw = S ? S : a.sw, dw = D ? D : a.dw;
  const int inS = a.inStride ? a.inStride : Cin, outS = a.outStride ? a.outStride : C;
  const int nb = (C + B - 1) / B;
  const int valid = C < B ? C : B;
  std::vector<float> bias(size_t(nb) * B + B, 0.f);
  if (a.bias)
    for (int i = 0; i < C; ++i) bias[i] = a.bias[i];
  const size_t wBlock = size_t(K * K) * Cin * B;
  int left, right;
  SplitColumns(a, T, &left, &right);
  auto store = [&](float* dst, VT v) {
    v = ApplyFused<V>(a.act, v);
    StoreLanes<V, B>(dst, &v, valid);
  };
  for (int oy = 0; oy < a.Ho; ++oy) {
    const int iy0 = oy * a.sh - a.padT;
    int ky0, ky1;
    ClipTaps(iy0, a.dh, K, a.H, &ky0, &ky1);
    float* orow = a.out + size_t(oy) * a.Wo * outS;
    for (int blk = 0; blk < nb; ++blk) {
      const int m0 = int(layout::BlockStart(blk, B, C));
      const float* wb = weight + blk * wBlock;
      const VT b = V::Load(&bias[m0]);
      auto border = [&](int ox) {
        const int ix0 = ox * sw - a.padL;
        int kx0, kx1;
        ClipTaps(ix0, dw, K, a.W, &kx0, &kx1);
        VT acc = b;
        for (int ky = ky0; ky < ky1; ++ky)
          for (int kx = kx0; kx < kx1; ++kx) {
            const float* x = a.in + (size_t(iy0 + ky * a.dh) * a.W + ix0 + kx * dw) * inS;
            const float* wp = wb + size_t(ky * K + kx) * Cin * B;
            for (int k = 0; k < Cin; ++k)
              acc = V::MulAdd(V::Broadcast(x + k), V::Load(wp + B * k), acc);
          }
        store(orow + size_t(ox) * outS + m0, acc);
      };
      for (int ox = 0; ox < left; ++ox) border(ox);
      for (int ox = left; ox < right; ox += T) {
        const int ix0 = ox * sw - a.padL;
        VT acc[T];
#pragma GCC unroll 16
        for (int i = 0; i < T; ++i) acc[i] = b;
        for (int ky = ky0; ky < ky1; ++ky) {
          const float* xr = a.in + (size_t(iy0 + ky * a.dh) * a.W + ix0) * inS;
          if (S == 1 && D == 1 && K == 3) {
            // Sliding along the row: each of the T + 2 input pixels is
            // broadcast once and serves the (up to) three outputs whose
            // window holds it, one kernel column each.
            const float* wr = wb + size_t(ky * 3) * Cin * B;
            for (int k = 0; k < Cin; ++k) {
              const VT w0 = V::Load(wr + B * k);
              const VT w1 = V::Load(wr + size_t(Cin) * B + B * k);
              const VT w2 = V::Load(wr + size_t(Cin) * 2 * B + B * k);
#pragma GCC unroll 8
              for (int p = 0; p < T + 2; ++p) {
                const VT xv = V::Broadcast(xr + size_t(p) * inS + k);
                if (p < T) acc[p] = V::MulAdd(xv, w0, acc[p]);
                if (p >= 1 && p - 1 < T) acc[p - 1] = V::MulAdd(xv, w1, acc[p - 1]);
                if (p >= 2) acc[p - 2] = V::MulAdd(xv, w2, acc[p - 2]);
              }
            }
            continue;
          }
          for (int kx = 0; kx < K; ++kx) {
            const float* xk = xr + size_t(kx) * dw * inS;
            const float* wk = wb + size_t(ky * K + kx) * Cin * B;
            for (int k = 0; k < Cin; ++k) {
              const VT wv = V::Load(wk + B * k);
#pragma GCC unroll 8
              for (int i = 0; i < T; ++i)
                acc[i] = V::MulAdd(V::Broadcast(xk + size_t(i) * sw * inS + k), wv, acc[i]);
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

// First layer, 3 input channels, 3x3 stride 2, C a multiple of 8: each input
// row the outputs need is packed once into a row of floats with zero columns
// for the padding (from floats, or from bytes normalised on the way), so no
// output pixel needs a clipped window; then P pixels x G blocks of 8 channels
// per step (3 x 3: 9 accumulators; 4 x 3 left too few registers for the
// weights and measured about 6 % slower), each tap's input value broadcast
// once for the G blocks.
constexpr int kFirstCin = 3;

// Packed row: columns -padL .. cols - padL - 1 of input row iy, channels
// interleaved, zeros outside the image.
void PackFirstLayerRow(const ConvArgs& a, int iy, int cols, float* dst) {
  constexpr int K = kFirstCin;
  const int lead = a.padL < cols ? a.padL : cols;
  const int width = a.W < cols - lead ? a.W : cols - lead;
  std::memset(dst, 0, sizeof(float) * size_t(lead) * K);
  std::memset(dst + size_t(lead + width) * K, 0, sizeof(float) * size_t(cols - lead - width) * K);
  float* d = dst + size_t(lead) * K;
  const int n = width * K;
  if (a.inBytes) {
    const unsigned char* q = a.inBytes + size_t(iy) * a.W * K;
    // Four pixels (12 values, three registers of four) per step, with each
    // value's channel coefficients laid out once.
    alignas(16) float mean[4 * K], scale[4 * K];
    for (int i = 0; i < 4 * K; ++i) {
      mean[i] = a.inMean[i % K];
      scale[i] = a.inScale[i % K];
    }
    int i = 0;
    for (; i + 4 * K <= n; i += 4 * K)
      for (int r = 0; r < K; ++r) {
        int32_t four;
        std::memcpy(&four, q + i + 4 * r, 4);
        const __m128 v = _mm_cvtepi32_ps(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(four)));
        const __m128 m = _mm_load_ps(mean + 4 * r), sc = _mm_load_ps(scale + 4 * r);
        const __m128 y = _mm_mul_ps(_mm_sub_ps(v, m), sc);
        _mm_storeu_ps(d + i + 4 * r, y);
      }
    for (; i < n; ++i) d[i] = (float(q[i]) - mean[i % K]) * scale[i % K];
  } else {
    const int inS = a.inStride ? a.inStride : K;
    const float* x = a.in + size_t(iy) * a.W * inS;
    for (int c = 0; c < width; ++c) std::memcpy(d + c * K, x + size_t(c) * inS, sizeof(float) * K);
  }
}

// P output pixels from ox, G blocks of 8 channels from `w` (weights block,
// row, column, channel, 8 filters), kernel rows [ky0, ky1) of the packed rows.
template <int G, int P>
inline void FirstLayerStep(const ConvArgs& a, const float* const* rows, int ky0, int ky1,
                           const float* w, size_t wBlock, const float* bias, int ox,
                           float* orow) {
  using V = Fma8;
  using VT = V::T;
  constexpr int K = kFirstCin, Run = 3 * K;
  VT acc[P][G];
#pragma GCC unroll 4
  for (int i = 0; i < P; ++i)
#pragma GCC unroll 4
    for (int g = 0; g < G; ++g) acc[i][g] = V::Load(bias + 8 * g);
  for (int ky = ky0; ky < ky1; ++ky) {
    const float* xr = rows[ky] + size_t(ox) * 2 * K;
    const float* wr = w + size_t(ky) * Run * 8;
    // Not unrolled: with the 9 taps unrolled GCC interleaves them and spills.
#pragma GCC unroll 1
    for (int t = 0; t < Run; ++t) {
      VT wv[G];
#pragma GCC unroll 4
      for (int g = 0; g < G; ++g) wv[g] = V::Load(wr + g * wBlock + t * 8);
#pragma GCC unroll 4
      for (int i = 0; i < P; ++i) {
        const VT xv = V::Broadcast(xr + i * 2 * K + t);
#pragma GCC unroll 4
        for (int g = 0; g < G; ++g) acc[i][g] = V::MulAdd(xv, wv[g], acc[i][g]);
      }
    }
  }
#pragma GCC unroll 4
  for (int i = 0; i < P; ++i)
#pragma GCC unroll 4
    for (int g = 0; g < G; ++g)
      ActivateStore<V, 8>(a.act, &acc[i][g], orow + size_t(ox + i) * a.C + 8 * g, 8);
}

template <int G>
void FirstLayerBlocks(const ConvArgs& a, const float* const* rows, int ky0, int ky1,
                      const float* w, size_t wBlock, const float* bias, float* orow) {
  int ox = 0;
  for (; ox + 3 <= a.Wo; ox += 3)
    FirstLayerStep<G, 3>(a, rows, ky0, ky1, w, wBlock, bias, ox, orow);
  for (; ox < a.Wo; ++ox) FirstLayerStep<G, 1>(a, rows, ky0, ky1, w, wBlock, bias, ox, orow);
}

// kBlock4 weights of C (a multiple of 8) output channels regrouped as
// kBlock8: block q's 8 lanes are blocks 2q and 2q + 1 side by side.
std::vector<float> Block4To8(const float* w, int C, int taps) {
  const size_t half = size_t(taps) * 4;  // floats of one block-4 row set
  std::vector<float> out(size_t(C) * taps);
  for (int q = 0; q < C / 8; ++q)
    for (size_t t = 0; t < size_t(taps); ++t)
      for (int h = 0; h < 2; ++h)
        std::memcpy(&out[(size_t(q) * taps + t) * 8 + 4 * h], w + (2 * q + h) * half + t * 4,
                    sizeof(float) * 4);
  return out;
}

// Two or four channels from a multiple of 8 (at stride width 1) go to the
// member that spends whole 8-wide registers on the input channels instead.
bool FewOutputs(const ConvArgs& a) {
  return (a.C == 2 || a.C == 4) && a.Cin % 8 == 0 && (a.inStride == 0 || a.inStride == a.Cin) &&
         a.sw == 1;
}
// Four channels from four: pixel pairs in 8-wide registers.
bool FourFromFour(const ConvArgs& a) {
  return a.C == 4 && a.Cin == 4 && (a.inStride == 0 || a.inStride == 4) && a.sw == 1;
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

void ConvFirstLayerX86Rows(const ConvArgs& a) {
  constexpr int K = kFirstCin;
  const int C = a.C, nb = C / 8;
  const size_t wBlock = size_t(9) * K * 8;
  std::vector<float> bias(size_t(C), 0.f);
  if (a.bias)
    for (int i = 0; i < C; ++i) bias[i] = a.bias[i];
  // The packed columns any output reads: 2 * ox + kx for kx < 3.
  const int cols = 2 * a.Wo + 1;
  const size_t rowFloats = size_t(cols) * K;
  // The last three input rows packed (output rows at stride 2 share one).
  std::vector<float> packed(3 * rowFloats);
  int held[3] = {-1, -1, -1};
  for (int oy = 0; oy < a.Ho; ++oy) {
    const int iy0 = oy * a.sh - a.padT;
    int ky0, ky1;
    ClipTaps(iy0, 1, 3, a.H, &ky0, &ky1);
    const float* rows[3] = {nullptr, nullptr, nullptr};
    for (int ky = ky0; ky < ky1; ++ky) {
      const int iy = iy0 + ky, slot = iy % 3;
      float* dst = packed.data() + slot * rowFloats;
      if (held[slot] != iy) {
        PackFirstLayerRow(a, iy, cols, dst);
        held[slot] = iy;
      }
      rows[ky] = dst;
    }
    float* orow = a.out + size_t(oy) * a.Wo * C;
    int blk = 0;
    auto at = [&](int b) { return a.weight + b * wBlock; };
    for (; blk + 3 <= nb; blk += 3)
      FirstLayerBlocks<3>(a, rows, ky0, ky1, at(blk), wBlock, &bias[blk * 8], orow + blk * 8);
    if (nb - blk == 2)
      FirstLayerBlocks<2>(a, rows, ky0, ky1, at(blk), wBlock, &bias[blk * 8], orow + blk * 8);
    else if (nb - blk == 1)
      FirstLayerBlocks<1>(a, rows, ky0, ky1, at(blk), wBlock, &bias[blk * 8], orow + blk * 8);
  }
}

// With a multiple of 8 channels, pairs of blocks run on 8-wide registers
// (the weights regrouped per call, a few KB); each output value sees the
// same multiply-adds in the same order as on 4-wide ones.
void Conv3x3X86Block4(const ConvArgs& a) {
  if (FewOutputs(a)) {
    ConvFewOutputX86(a);
  } else if (FourFromFour(a)) {
    ConvFourOutputX86(a);
  } else if (a.C % 8 == 0) {
    const std::vector<float> w8 = Block4To8(a.weight, a.C, 9 * a.Cin);
    BlockFma<Fma8, 1, 1>(a, w8.data());
  } else {
    BlockFma<Fma4, 1, 1>(a, a.weight);
  }
}
void Conv3x3X86Block4S2D2(const ConvArgs& a) { BlockFma<Fma4, 2, 2>(a, a.weight); }
void Conv3x3X86Block4General(const ConvArgs& a) {
  if (FewOutputs(a))
    ConvFewOutputX86(a);
  else if (FourFromFour(a))
    ConvFourOutputX86(a);
  else
    BlockFma<Fma4, 0, 0>(a, a.weight);
}
void Conv2x2X86Block4(const ConvArgs& a) {
  if (FewOutputs(a))
    ConvFewOutputX86(a);
  else
    BlockFma<Fma4, 0, 0, 2>(a, a.weight);
}

}  // namespace TAVROMATTING

#pragma GCC pop_options
