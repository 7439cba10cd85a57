// Bilinear resize, AVX2+FMA member (C % 8 == 0): source rows y0 and y1 are
// interpolated horizontally into two reused row buffers, then blended
// vertically; no half-pixel offset.
#include <utility>
#include <vector>

#include "impl_x86/avx_util.h"
#include "impl_x86/elementwise_kernels.h"

namespace TAVROMATTING {
namespace {


}  // namespace

#pragma GCC push_options
#pragma GCC target("avx2,fma")

void ResizeBilinearAvx2(const ResizeArgs& a) {
  const int C = a.C;
  const std::vector<BilinearTap> ty = BilinearTaps(a.H, a.Ho, ResizeScale(a.H, a.Ho, a.alignCorners));
  const std::vector<BilinearTap> tx = BilinearTaps(a.W, a.Wo, ResizeScale(a.W, a.Wo, a.alignCorners));
  const size_t rowFloats = size_t(a.Wo) * C;
  std::vector<float> buf0(rowFloats + 8), buf1(rowFloats + 8);
  float* row0 = buf0.data();
  float* row1 = buf1.data();
  auto horizontal = [&](int iy, float* dst) {
    const float* src = a.in + size_t(iy) * a.W * C;
    for (int ox = 0; ox < a.Wo; ++ox) {
      const float* p0 = src + size_t(tx[ox].i0) * C;
      const float* p1 = src + size_t(tx[ox].i1) * C;
      const __m256 w = _mm256_set1_ps(tx[ox].w), w0 = _mm256_set1_ps(1.f - tx[ox].w);
      float* d = dst + size_t(ox) * C;
      for (int c = 0; c < C; c += 8)
        _mm256_storeu_ps(d + c, _mm256_fmadd_ps(w0, _mm256_loadu_ps(p0 + c),
                                                _mm256_mul_ps(w, _mm256_loadu_ps(p1 + c))));
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
    const __m256 w = _mm256_set1_ps(ty[oy].w), w0 = _mm256_set1_ps(1.f - ty[oy].w);
    float* o = a.out + oy * rowFloats;
    for (size_t i = 0; i < rowFloats; i += 8)
      _mm256_storeu_ps(o + i, _mm256_fmadd_ps(w0, _mm256_loadu_ps(row0 + i),
                                              _mm256_mul_ps(w, _mm256_loadu_ps(row1 + i))));
  }
}

#pragma GCC pop_options

}  // namespace TAVROMATTING
