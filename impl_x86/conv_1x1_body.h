// 1x1 stride-1 convolution, written once over a vector type V (see vec_ops.h
// for how it is included): a (pixels x Cin) by (Cin x C) product, P pixels x
// one channel block per step (4 by default; narrow blocks take more, so that
// enough independent accumulators hide the multiply-add latency), the last
// pixels (fewer than P) one at a time.
// The last block is moved back to end at C; with C below the block the single
// block's extra channels come from zero weights and are not stored.
// With a.accumulate each pixel starts from its output values instead of the
// bias (an input read in channel slices, one call per slice; the moved-back
// block would add its overlap twice, so the caller keeps C a multiple of the
// block or below it), and a.weightBlockStride steps over the packed blocks of
// the whole filter when a.weight points at a slice of its rows.
#pragma once

#include "impl_x86/conv_args.h"
#include "impl_x86/vec_ops.h"
#include "impl_x86/weight_layout.h"

namespace TAVROMATTING {
namespace {

template <class V, int B, int P = 4>
void OneByOne(const ConvArgs& a) {
  using VT = typename V::T;
  constexpr int L = V::kLanes, R = B / L;
  const int Cin = a.Cin, C = a.C;
  const int inS = a.inStride ? a.inStride : Cin, outS = a.outStride ? a.outStride : C;
  const size_t pixels = size_t(a.Ho) * a.Wo;
  const int nb = (C + B - 1) / B;
  const int valid = C < B ? C : B;
  const size_t quads = pixels / P * P;
  for (int blk = 0; blk < nb; ++blk) {
    const int m0 = int(layout::BlockStart(blk, B, C));
    const float* wb =
        a.weight + size_t(blk) * (a.weightBlockStride ? a.weightBlockStride : size_t(Cin) * B);
    VT b[R];
    LoadBiasBlock<V, B>(a.bias, m0, C, b);
    // The starting values of pixel q's block.
    auto start = [&](size_t q, VT* acc) {
      if (a.accumulate) {
        LoadLanes<V, B>(a.out + q * outS + m0, acc, valid);
      } else {
#pragma GCC unroll 16
        for (int j = 0; j < R; ++j) acc[j] = b[j];
      }
    };
    size_t p = 0;
    for (; p < quads; p += P) {
      VT acc[P][R];
#pragma GCC unroll 16
      for (int i = 0; i < P; ++i) start(p + i, acc[i]);
      const float* x = a.in + p * inS;
      for (int k = 0; k < Cin; ++k) {
        const float* wk = wb + k * B;
#pragma GCC unroll 16
        for (int j = 0; j < R; ++j) {
          const VT wv = V::Load(wk + L * j);
#pragma GCC unroll 16
          for (int i = 0; i < P; ++i)
            acc[i][j] = V::MulAdd(V::Broadcast(x + i * inS + k), wv, acc[i][j]);
        }
      }
#pragma GCC unroll 16
      for (int i = 0; i < P; ++i)
        ActivateStore<V, B>(a.act, acc[i], a.out + (p + i) * outS + m0, valid);
    }
    for (; p < pixels; ++p) {
      VT acc[R];
      start(p, acc);
      const float* x = a.in + p * inS;
      for (int k = 0; k < Cin; ++k) {
        const VT xv = V::Broadcast(x + k);
#pragma GCC unroll 16
        for (int j = 0; j < R; ++j) acc[j] = V::MulAdd(xv, V::Load(wb + k * B + L * j), acc[j]);
      }
      ActivateStore<V, B>(a.act, acc, a.out + p * outS + m0, valid);
    }
  }
}

}  // namespace
}  // namespace TAVROMATTING
