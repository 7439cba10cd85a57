// Pooling: the reference members and the SSE members of 4 and 8 channels.
#include <cfloat>

#include "impl_x86/pooling_body.h"
#include "impl_x86/pooling_kernels.h"
#include "impl_x86/vec_sse.h"

namespace TAVROMATTING {

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

void PoolSse4(const ConvArgs& a, PoolOp op) { PoolMember<Sse4, 4>(a, op); }
void PoolSse8(const ConvArgs& a, PoolOp op) { PoolMember<Sse4, 8>(a, op); }
void MaxPool3x3S2Sse4(const ConvArgs& a) { MaxPool3x3S2<Sse4, 4>(a); }
void MaxPool3x3S2Sse8(const ConvArgs& a) { MaxPool3x3S2<Sse4, 8>(a); }

void GlobalAverageReference(const float* in, int pixels, int C, float* out) {
  const float inv = 1.f / float(pixels);
  for (int c = 0; c < C; ++c) {
    float s = 0.f;
    for (int p = 0; p < pixels; ++p) s += in[size_t(p) * C + c];
    out[c] = s * inv;
  }
}

void GlobalAverageSse4(const float* in, int pixels, int C, float* out) {
  GlobalAverage<Sse4, 4>(in, pixels, C, out);
}
void GlobalAverageSse8(const float* in, int pixels, int C, float* out) {
  GlobalAverage<Sse4, 8>(in, pixels, C, out);
}

}  // namespace TAVROMATTING
