// The vector types of the kernels that run after a CPUID check: Avx8 (8 lanes,
// AVX, multiply then add), Fma8 (8 lanes, AVX+FMA, fused multiply-add) and
// Fma4 (4 lanes with fused multiply-add, for the narrow blocks of the AVX+FMA
// path). Everything here is compiled for its instruction set through target
// pragmas, so only the translation units whose members are chosen at run time
// may include this header.
#pragma once

#include <immintrin.h>

#include "impl_x86/vec_sse.h"

namespace TAVROMATTING {

#pragma GCC push_options
#pragma GCC target("avx")

struct Avx8 {
  using T = __m256;
  static constexpr int kLanes = 8;

  static T Zero() { return _mm256_setzero_ps(); }
  static T Set1(float v) { return _mm256_set1_ps(v); }
  static T Broadcast(const float* p) { return _mm256_broadcast_ss(p); }
  static T Load(const float* p) { return _mm256_loadu_ps(p); }
  static T LoadAligned(const float* p) { return _mm256_load_ps(p); }
  static void Store(float* p, T v) { _mm256_storeu_ps(p, v); }
  static void StoreAligned(float* p, T v) { _mm256_store_ps(p, v); }
  static T Add(T a, T b) { return _mm256_add_ps(a, b); }
  static T Sub(T a, T b) { return _mm256_sub_ps(a, b); }
  static T Mul(T a, T b) { return _mm256_mul_ps(a, b); }
  static T Rcp(T a) { return _mm256_rcp_ps(a); }
  static T Max(T a, T b) { return _mm256_max_ps(a, b); }
  static T Min(T a, T b) { return _mm256_min_ps(a, b); }
  // a * b + c, rounded twice.
  static T MulAdd(T a, T b, T c) { return _mm256_add_ps(_mm256_mul_ps(a, b), c); }
  // floor(t) for |t| < 2^31: truncate, then subtract 1 where that went up.
  static T Floor(T t) {
    const T tr = _mm256_cvtepi32_ps(_mm256_cvttps_epi32(t));
    return _mm256_sub_ps(tr, _mm256_and_ps(_mm256_cmp_ps(tr, t, _CMP_GT_OS), _mm256_set1_ps(1.f)));
  }
  // 2^n for integral n in [-127, 128], built in the exponent field (in
  // 128-bit integer halves: AVX has no 256-bit integer arithmetic).
  static T Pow2(T n) {
    const __m256i ni = _mm256_cvttps_epi32(n);
    const __m128i bias = _mm_set1_epi32(127);
    const __m128i lo = _mm_slli_epi32(_mm_add_epi32(_mm256_castsi256_si128(ni), bias), 23);
    const __m128i hi = _mm_slli_epi32(_mm_add_epi32(_mm256_extractf128_si256(ni, 1), bias), 23);
    return _mm256_castsi256_ps(_mm256_insertf128_si256(_mm256_castsi128_si256(lo), hi, 1));
  }
  // Sum of the lanes: the two halves added, then as Sse4::Sum.
  static float Sum(T v) {
    __m128 s = _mm_add_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
    s = _mm_add_ps(s, _mm_movehl_ps(s, s));
    s = _mm_add_ss(s, _mm_shuffle_ps(s, s, 1));
    return _mm_cvtss_f32(s);
  }
};

#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx,fma")

struct Fma8 : Avx8 {
  // a * b + c, rounded once.
  static T MulAdd(T a, T b, T c) { return _mm256_fmadd_ps(a, b, c); }
};

struct Fma4 : Sse4 {
  static T MulAdd(T a, T b, T c) { return _mm_fmadd_ps(a, b, c); }
};

#pragma GCC pop_options

}  // namespace TAVROMATTING
