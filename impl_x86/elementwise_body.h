// Bilinear resize, batch normalisation and MMA, written once over a vector
// type V (see vec_ops.h for how it is included).
#pragma once

#include <utility>
#include <vector>

#include "impl_x86/elementwise_kernels.h"
#include "impl_x86/vec_ops.h"

namespace TAVROMATTING {
namespace {

// Bilinear resize without a half-pixel offset: source rows y0 and y1 are
// interpolated horizontally into two reused row buffers, then blended
// vertically, V::kLanes floats at a time (VECTOR false: all scalar) with a
// scalar tail; each blend is w0 * p0 + w * p1.
template <class V, bool VECTOR>
void Bilinear(const ResizeArgs& a) {
  using VT = typename V::T;
  constexpr int L = V::kLanes;
  const int C = a.C;
  const auto ty = BilinearTaps(a.H, a.Ho, ResizeScale(a.H, a.Ho, a.alignCorners));
  const auto tx = BilinearTaps(a.W, a.Wo, ResizeScale(a.W, a.Wo, a.alignCorners));
  const size_t rowFloats = size_t(a.Wo) * C;
  std::vector<float> buf0(rowFloats + L), buf1(rowFloats + L);
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
      if (VECTOR) {
        const VT vw = V::Set1(w), vw0 = V::Set1(w0);
        for (; c + L <= C; c += L)
          V::Store(d + c, V::MulAdd(vw0, V::Load(p0 + c), V::Mul(vw, V::Load(p1 + c))));
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
    if (VECTOR) {
      const VT vw = V::Set1(w), vw0 = V::Set1(w0);
      for (; i + L <= rowFloats; i += L)
        V::Store(o + i, V::MulAdd(vw0, V::Load(row0 + i), V::Mul(vw, V::Load(row1 + i))));
    }
    for (; i < rowFloats; ++i) o[i] = w0 * row0[i] + w * row1[i];
  }
}

// y = x * a[c] + b[c] with every coefficient of a pixel in registers.
template <class V, int C>
void BatchnormUnrolled(const float* in, float* out, uint64_t pixels, const float* a,
                       const float* b) {
  using VT = typename V::T;
  constexpr int L = V::kLanes, R = C / L;
  VT va[R], vb[R];
  for (int j = 0; j < R; ++j) {
    va[j] = V::Load(a + L * j);
    vb[j] = V::Load(b + L * j);
  }
  for (uint64_t p = 0; p < pixels; ++p) {
    const float* x = in + p * C;
    float* y = out + p * C;
    for (int j = 0; j < R; ++j) V::Store(y + L * j, V::MulAdd(V::Load(x + L * j), va[j], vb[j]));
  }
}

// Unrolled for C of 1 to 4 registers, otherwise a loop over the channels with
// a scalar tail.
template <class V>
void Batchnorm(const float* in, float* out, uint64_t pixels, int C, const float* a,
               const float* b) {
  constexpr int L = V::kLanes;
  switch (C) {
    case 4 * L: BatchnormUnrolled<V, 4 * L>(in, out, pixels, a, b); return;
    case 3 * L: BatchnormUnrolled<V, 3 * L>(in, out, pixels, a, b); return;
    case 2 * L: BatchnormUnrolled<V, 2 * L>(in, out, pixels, a, b); return;
    case L: BatchnormUnrolled<V, L>(in, out, pixels, a, b); return;
    default: break;
  }
  for (uint64_t p = 0; p < pixels; ++p) {
    const float* x = in + p * C;
    float* y = out + p * C;
    int c = 0;
    for (; c + L <= C; c += L)
      V::Store(y + c, V::MulAdd(V::Load(x + c), V::Load(a + c), V::Load(b + c)));
    for (; c < C; ++c) y[c] = x[c] * a[c] + b[c];
  }
}

// y[p, c] = (v[c] + s[p]) * x[p, c], then the fused activation; C a multiple
// of the lane count.
template <class V>
void Mma(const float* x, const float* v, const float* s, float* out, uint64_t pixels, int C,
         const FusedAct& act) {
  constexpr int L = V::kLanes;
  for (uint64_t p = 0; p < pixels; ++p) {
    const typename V::T sp = V::Set1(s[p]);
    for (int c = 0; c + L <= C; c += L) {
      const typename V::T y = V::Mul(V::Add(V::Load(v + c), sp), V::Load(x + p * C + c));
      V::Store(out + p * C + c, ApplyFused<V>(act, y));
    }
  }
}

}  // namespace
}  // namespace TAVROMATTING
