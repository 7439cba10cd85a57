// The 4-lane vector type of the baseline (SSE2) kernels. Kernel bodies are
// templates over a vector type with this interface (see vec_avx.h for the
// 8-lane one); MulAdd rounds twice here (multiply, then add), so the SSE
// members give the same bits as plain scalar arithmetic lane by lane.
#pragma once

#include <emmintrin.h>

namespace TAVROMATTING {

struct Sse4 {
  using T = __m128;
  static constexpr int kLanes = 4;

  static T Zero() { return _mm_setzero_ps(); }
  static T Set1(float v) { return _mm_set1_ps(v); }
  static T Broadcast(const float* p) { return _mm_set1_ps(*p); }
  static T Load(const float* p) { return _mm_loadu_ps(p); }
  static T LoadAligned(const float* p) { return _mm_load_ps(p); }
  static void Store(float* p, T v) { _mm_storeu_ps(p, v); }
  static void StoreAligned(float* p, T v) { _mm_store_ps(p, v); }
  static T Add(T a, T b) { return _mm_add_ps(a, b); }
  static T Sub(T a, T b) { return _mm_sub_ps(a, b); }
  static T Mul(T a, T b) { return _mm_mul_ps(a, b); }
  static T Rcp(T a) { return _mm_rcp_ps(a); }
  static T Max(T a, T b) { return _mm_max_ps(a, b); }
  static T Min(T a, T b) { return _mm_min_ps(a, b); }
  // a * b + c.
  static T MulAdd(T a, T b, T c) { return _mm_add_ps(_mm_mul_ps(a, b), c); }
  // floor(t) for |t| < 2^31: truncate, then subtract 1 where that went up.
  static T Floor(T t) {
    const T tr = _mm_cvtepi32_ps(_mm_cvttps_epi32(t));
    return _mm_sub_ps(tr, _mm_and_ps(_mm_cmpgt_ps(tr, t), _mm_set1_ps(1.f)));
  }
  // 2^n for integral n in [-127, 128], built in the exponent field.
  static T Pow2(T n) {
    return _mm_castsi128_ps(_mm_slli_epi32(_mm_add_epi32(_mm_cvttps_epi32(n), _mm_set1_epi32(127)), 23));
  }
  // Sum of the lanes: (v0 + v2) + (v1 + v3).
  static float Sum(T v) {
    T s = _mm_add_ps(v, _mm_movehl_ps(v, v));
    s = _mm_add_ss(s, _mm_shuffle_ps(s, s, 1));
    return _mm_cvtss_f32(s);
  }
  // Lane sums of four registers at once: out[i] = (v[i]0 + v[i]1) + (v[i]2 + v[i]3).
  static void SumEach4(T v0, T v1, T v2, T v3, float* out) {
    _MM_TRANSPOSE4_PS(v0, v1, v2, v3);
    _mm_storeu_ps(out, _mm_add_ps(_mm_add_ps(v0, v1), _mm_add_ps(v2, v3)));
  }
};

}  // namespace TAVROMATTING
