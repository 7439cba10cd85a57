// The vector loop of the activation members, written once over a vector type
// V (see vec_ops.h for how it is included) and an exponential EXP over V. The
// sigmoid and swish use the approximate reciprocal; the caller finishes the
// tail with the exact scalar formulas.
#pragma once

#include "impl_x86/activation.h"
#include "impl_x86/vec_ops.h"

namespace TAVROMATTING {
namespace {

// exp(x), floor form: x clamped to +-88.37626, n = floor(x log2(e) + 1/2),
// a degree-5 polynomial in r = x - n ln 2 (ln 2 in two parts), times 2^n.
template <class V>
typename V::T ExpFloor(typename V::T x) {
  using T = typename V::T;
  x = V::Min(V::Max(x, V::Set1(-88.37626f)), V::Set1(88.37626f));
  const T n = V::Floor(V::MulAdd(x, V::Set1(1.442695f), V::Set1(0.5f)));
  const T r = V::Sub(V::Sub(x, V::Mul(n, V::Set1(0.693359375f))),
                     V::Mul(n, V::Set1(-2.1219444e-4f)));
  T p = V::Set1(1.9875691e-4f);
  p = V::MulAdd(p, r, V::Set1(1.3981999e-3f));
  p = V::MulAdd(p, r, V::Set1(8.3334519e-3f));
  p = V::MulAdd(p, r, V::Set1(4.1665796e-2f));
  p = V::MulAdd(p, r, V::Set1(1.6666666e-1f));
  p = V::MulAdd(p, r, V::Set1(0.5f));
  const T y = V::Add(V::MulAdd(p, V::Mul(r, r), r), V::Set1(1.f));
  return V::Mul(y, V::Pow2(n));
}

// Kinds 1, 2, 5, 6, 7, 8 and 9 over the largest multiple of V::kLanes
// elements; returns how many were done (0 for every other kind).
template <class V, typename V::T (*EXP)(typename V::T)>
uint64_t ActivationVector(const ActivationArgs& a, const float* in, float* out, uint64_t count) {
  using T = typename V::T;
  constexpr int L = V::kLanes;
  const uint64_t vec = count / L * L;
  const T zero = V::Zero(), one = V::Set1(1.f);
  uint64_t i = 0;
  switch (a.kind) {
    case kActRelu:
      for (; i < vec; i += L) V::Store(out + i, V::Max(V::Load(in + i), zero));
      break;
    case kActClippedRelu: {
      const T up = V::Set1(a.upper);
      for (; i < vec; i += L) V::Store(out + i, V::Min(V::Max(V::Load(in + i), zero), up));
      break;
    }
    case kActSigmoid:
    case kActSwish:
      for (; i < vec; i += L) {
        const T v = V::Load(in + i);
        const T r = V::Rcp(V::Add(one, EXP(V::Sub(zero, v))));
        V::Store(out + i, a.kind == kActSwish ? V::Mul(v, r) : r);
      }
      break;
    case kActLeakyRelu: {
      const T s = V::Set1(a.slope);
      for (; i < vec; i += L) {
        const T v = V::Load(in + i);
        V::Store(out + i, V::MulAdd(V::Min(v, zero), s, V::Max(v, zero)));
      }
      break;
    }
    case kActHardSigmoid:
    case kActHardSwish: {
      const T k6 = V::Set1(0.16666667f), half = V::Set1(0.5f);
      for (; i < vec; i += L) {
        const T v = V::Load(in + i);
        const T r = V::Min(V::Max(V::MulAdd(v, k6, half), zero), one);
        V::Store(out + i, a.kind == kActHardSwish ? V::Mul(v, r) : r);
      }
      break;
    }
    default: break;
  }
  return i;
}

}  // namespace
}  // namespace TAVROMATTING
