// x86 members with few output channels over row, channel, column weights
// (F filters innermost): the single-output member (kChannelBlock1, F = 1) and the
// 3-output member (kRowChannelFilter, F = 3). The input rows a kernel row needs are
// split into zero-padded per-channel rows, so 8 neighbouring output pixels
// read 8 consecutive floats for every tap; F output rows are accumulated and
// interleaved at the end.
#include <immintrin.h>

#include <vector>

#include "impl_x86/conv_kernels.h"

#pragma GCC push_options
#pragma GCC target("avx,fma")

namespace TAVROMATTING {
namespace {

template <int F>
void PlaneConv(const ConvArgs& a) {
  const int Cin = a.Cin, kh = a.kh, kw = a.kw;
  const int inS = a.inStride ? a.inStride : Cin, outS = a.outStride ? a.outStride : F;
  // Padded row: every tap of every output column, plus a vector's overrun.
  const int len = (a.Wo - 1) * a.sw + (kw - 1) * a.dw + 1 + 8;
  const int wo8 = a.Wo + 8;
  std::vector<float> planes(size_t(Cin) * len);
  std::vector<float> acc(static_cast<size_t>(F) * wo8);
  for (int oy = 0; oy < a.Ho; ++oy) {
    const int iy0 = oy * a.sh - a.padT;
    int ky0, ky1;
    ClipTaps(iy0, a.dh, kh, a.H, &ky0, &ky1);
    for (int f = 0; f < F; ++f)
      for (int i = 0; i < a.Wo; ++i) acc[size_t(f) * wo8 + i] = a.bias ? a.bias[f] : 0.f;
    for (int ky = ky0; ky < ky1; ++ky) {
      const float* row = a.in + size_t(iy0 + ky * a.dh) * a.W * inS;
      for (int k = 0; k < Cin; ++k) {
        float* pl = &planes[size_t(k) * len];
        for (int p = 0; p < len; ++p) {
          const int x = p - a.padL;
          pl[p] = (x >= 0 && x < a.W) ? row[size_t(x) * inS + k] : 0.f;
        }
      }
      for (int k = 0; k < Cin; ++k) {
        const float* pl = &planes[size_t(k) * len];
        for (int kx = 0; kx < kw; ++kx) {
          const float* src = pl + kx * a.dw;
          const float* wt = a.weight + ((size_t(ky) * Cin + k) * kw + kx) * F;
          for (int f = 0; f < F; ++f) {
            float* ac = &acc[size_t(f) * wo8];
            const __m256 wv = _mm256_set1_ps(wt[f]);
            int ox = 0;
            if (a.sw == 1)
              for (; ox + 8 <= a.Wo; ox += 8)
                _mm256_storeu_ps(ac + ox, _mm256_fmadd_ps(_mm256_loadu_ps(src + ox), wv,
                                                          _mm256_loadu_ps(ac + ox)));
            for (; ox < a.Wo; ++ox) ac[ox] += src[size_t(ox) * a.sw] * wt[f];
          }
        }
      }
    }
    float* o = a.out + size_t(oy) * a.Wo * outS;
    for (int ox = 0; ox < a.Wo; ++ox)
      for (int f = 0; f < F; ++f)
        o[size_t(ox) * outS + f] = ApplyFusedScalar(a.act, acc[size_t(f) * wo8 + ox]);
  }
}

}  // namespace

void ConvSingleOutputX86(const ConvArgs& a) { PlaneConv<1>(a); }
void Conv3OutputX86(const ConvArgs& a) { PlaneConv<3>(a); }

}  // namespace TAVROMATTING

#pragma GCC pop_options
