// Nearest and bilinear resize without a half-pixel offset.
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "impl_x86/elementwise_kernels.h"
#include "impl_x86/sse_util.h"

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

namespace {

template <bool SSE>
void Bilinear(const ResizeArgs& a) {
  const int C = a.C;
  const auto ty = BilinearTaps(a.H, a.Ho, ResizeScale(a.H, a.Ho, a.alignCorners));
  const auto tx = BilinearTaps(a.W, a.Wo, ResizeScale(a.W, a.Wo, a.alignCorners));
  const size_t rowFloats = size_t(a.Wo) * C;
  std::vector<float> buf0(rowFloats + 4), buf1(rowFloats + 4);
  float* row0 = buf0.data();
  float* row1 = buf1.data();
  auto horizontal = [&](int iy, float* dst) {
    const float* src = a.in + size_t(iy) * a.W * C;
    for (int ox = 0; ox < a.Wo; ++ox) {
      const float* p0 = src + size_t(tx[ox].i0) * C;
      const float* p1 = src + size_t(tx[ox].i1) * C;
      const float w = tx[ox].w, w0 = 1.f - w;
      float* d = dst + size_t(ox) * C;
      int c = 0;
      if (SSE) {
        const __m128 vw = _mm_set1_ps(w), vw0 = _mm_set1_ps(w0);
        for (; c + 4 <= C; c += 4)
          _mm_storeu_ps(d + c, _mm_add_ps(_mm_mul_ps(vw0, _mm_loadu_ps(p0 + c)),
                                          _mm_mul_ps(vw, _mm_loadu_ps(p1 + c))));
      }
      for (; c < C; ++c) d[c] = w0 * p0[c] + w * p1[c];
    }
  };
  int have0 = -1, have1 = -1;
  for (int oy = 0; oy < a.Ho; ++oy) {
    const int y0 = ty[oy].i0, y1 = ty[oy].i1;
    if (y0 != have0) {
      if (y0 == have1) {
        std::swap(row0, row1);
        have0 = have1;
        have1 = -1;
      } else {
        horizontal(y0, row0);
        have0 = y0;
      }
    }
    if (y1 != have1) {
      horizontal(y1, row1);
      have1 = y1;
    }
    const float w = ty[oy].w, w0 = 1.f - w;
    float* o = a.out + oy * rowFloats;
    size_t i = 0;
    if (SSE) {
      const __m128 vw = _mm_set1_ps(w), vw0 = _mm_set1_ps(w0);
      for (; i + 4 <= rowFloats; i += 4)
        _mm_storeu_ps(o + i, _mm_add_ps(_mm_mul_ps(vw0, _mm_loadu_ps(row0 + i)),
                                        _mm_mul_ps(vw, _mm_loadu_ps(row1 + i))));
    }
    for (; i < rowFloats; ++i) o[i] = w0 * row0[i] + w * row1[i];
  }
}

}  // namespace

void ResizeBilinearReference(const ResizeArgs& a) { Bilinear<false>(a); }
void ResizeBilinearSse(const ResizeArgs& a) { Bilinear<true>(a); }

}  // namespace TAVROMATTING
