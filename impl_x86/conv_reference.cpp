// Reference members of the convolution family: plain loops, any shape.
#include "impl_x86/conv_kernels.h"

namespace TAVROMATTING {

void ConvReference(const ConvArgs& a) {
  const int inS = a.inStride ? a.inStride : a.Cin, outS = a.outStride ? a.outStride : a.C;
  for (int oy = 0; oy < a.Ho; ++oy) {
    int ky0, ky1;
    const int iy0 = ClipRows(a, oy, a.kh, &ky0, &ky1);
    for (int ox = 0; ox < a.Wo; ++ox) {
      int kx0, kx1;
      const int ix0 = ClipColumns(a, ox, a.kw, &kx0, &kx1);
      float* o = a.out + (size_t(oy) * a.Wo + ox) * outS;
      for (int f = 0; f < a.C; ++f) {
        float s = a.bias ? a.bias[f] : 0.f;
        for (int ky = ky0; ky < ky1; ++ky)
          for (int kx = kx0; kx < kx1; ++kx) {
            const float* x =
                a.in + (size_t(iy0 + ky * a.dh) * a.W + (ix0 + kx * a.dw)) * inS;
            const float* wt = a.weight + ((size_t(f) * a.kh + ky) * a.kw + kx) * a.Cin;
            for (int k = 0; k < a.Cin; ++k) s += x[k] * wt[k];
          }
        o[f] = s;
      }
    }
  }
}

void DepthwiseReference(const ConvArgs& a) {
  const int C = a.C;
  for (int oy = 0; oy < a.Ho; ++oy) {
    int ky0, ky1;
    const int iy0 = ClipRows(a, oy, a.kh, &ky0, &ky1);
    for (int ox = 0; ox < a.Wo; ++ox) {
      int kx0, kx1;
      const int ix0 = ClipColumns(a, ox, a.kw, &kx0, &kx1);
      float* o = a.out + (size_t(oy) * a.Wo + ox) * C;
      for (int c = 0; c < C; ++c) {
        float s = a.bias ? a.bias[c] : 0.f;
        for (int ky = ky0; ky < ky1; ++ky)
          for (int kx = kx0; kx < kx1; ++kx)
            s += a.in[(size_t(iy0 + ky * a.dh) * a.W + (ix0 + kx * a.dw)) * C + c] *
                 a.weight[(size_t(ky) * a.kw + kx) * C + c];
        o[c] = s;
      }
    }
  }
}

void DeconvReference(const ConvArgs& a) {
  const int P = a.kh - 1 - a.padT, Q = a.kw - 1 - a.padL;
  for (int oy = 0; oy < a.Ho; ++oy)
    for (int ox = 0; ox < a.Wo; ++ox) {
      float* o = a.out + (size_t(oy) * a.Wo + ox) * a.C;
      for (int f = 0; f < a.C; ++f) {
        float s = a.bias ? a.bias[f] : 0.f;
        for (int ky = 0; ky < a.kh; ++ky) {
          const int t = oy - P + ky;
          if (t < 0 || t >= a.H * a.sh || t % a.sh) continue;
          for (int kx = 0; kx < a.kw; ++kx) {
            const int u = ox - Q + kx;
            if (u < 0 || u >= a.W * a.sw || u % a.sw) continue;
            const float* x = a.in + (size_t(t / a.sh) * a.W + u / a.sw) * a.Cin;
            const float* wt = a.weight + ((size_t(f) * a.kh + ky) * a.kw + kx) * a.Cin;
            for (int i = 0; i < a.Cin; ++i) s += x[i] * wt[i];
          }
        }
        o[f] = s;
      }
    }
}

}  // namespace TAVROMATTING
