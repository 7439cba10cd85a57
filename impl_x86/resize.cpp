// Nearest and bilinear resize without a half-pixel offset.
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "impl_x86/elementwise_body.h"
#include "impl_x86/elementwise_kernels.h"
#include "impl_x86/vec_sse.h"

namespace TAVROMATTING {

float ResizeScale(int in, int out, bool alignCorners) {
  if (alignCorners && out >= 2) return float(in - 1) / float(out - 1);
  return float(in) / float(out);
}

static inline int NearestIndex(int o, float s, bool align, int n) {
  const float f = float(o) * s;
  int i = align ? int(std::round(f)) : int(std::floor(f));
  if (i > n - 1) i = n - 1;
  if (i < 0) i = 0;
  return i;
}

void ResizeNearest(const ResizeArgs& a) {
  const float sy = ResizeScale(a.H, a.Ho, a.alignCorners);
  const float sx = ResizeScale(a.W, a.Wo, a.alignCorners);
  std::vector<int> xs(a.Wo);
  for (int ox = 0; ox < a.Wo; ++ox) xs[ox] = NearestIndex(ox, sx, a.alignCorners, a.W);
  const size_t rowFloats = size_t(a.Wo) * a.C;
  int prev = -1;
  for (int oy = 0; oy < a.Ho; ++oy) {
    const int iy = NearestIndex(oy, sy, a.alignCorners, a.H);
    float* o = a.out + oy * rowFloats;
    if (iy == prev) {
      std::memcpy(o, o - rowFloats, rowFloats * 4);
      continue;
    }
    prev = iy;
    const float* row = a.in + size_t(iy) * a.W * a.C;
    for (int ox = 0; ox < a.Wo; ++ox)
      std::memcpy(o + size_t(ox) * a.C, row + size_t(xs[ox]) * a.C, size_t(a.C) * 4);
  }
}

std::vector<BilinearTap> BilinearTaps(int n, int out, float s) {
  std::vector<BilinearTap> t(out);
  for (int o = 0; o < out; ++o) {
    const float f = float(o) * s;
    int i0 = int(f);
    if (i0 > n - 1) i0 = n - 1;
    t[o].i0 = i0;
    t[o].i1 = i0 + 1 < n ? i0 + 1 : n - 1;
    t[o].w = f - float(i0);
  }
  return t;
}

void ResizeBilinearReference(const ResizeArgs& a) { Bilinear<Sse4, false>(a); }
void ResizeBilinearSse(const ResizeArgs& a) { Bilinear<Sse4, true>(a); }

}  // namespace TAVROMATTING
