#include "impl_x86/half_float.h"

#include <immintrin.h>

#include <cstring>

#include "cpu/cpu_info.h"

namespace TAVROMATTING {

float HalfToFloatScalar(uint16_t h) {
  uint32_t sign = uint32_t(h & 0x8000) << 16;
  uint32_t exp = (h >> 10) & 0x1f;
  uint32_t man = h & 0x3ff;
  uint32_t bits;
  if (exp == 0) {
    if (man == 0) {
      bits = sign;
    } else {  // subnormal: normalise
      int e = -1;
      do {
        ++e;
        man <<= 1;
      } while (!(man & 0x400));
      bits = sign | (uint32_t(127 - 15 - e) << 23) | ((man & 0x3ff) << 13);
    }
  } else if (exp == 31) {
    bits = sign | 0x7f800000u | (man << 13);
  } else {
    bits = sign | ((exp + 112) << 23) | (man << 13);
  }
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

uint16_t FloatToHalfScalar(float f) {
  uint32_t x;
  std::memcpy(&x, &f, 4);
  uint16_t sign = uint16_t((x >> 16) & 0x8000);
  uint32_t ax = x & 0x7fffffffu;
  if (ax >= 0x7f800000u) return uint16_t(sign | 0x7c00 | (ax > 0x7f800000u ? 0x200 : 0));
  if (ax >= 0x477ff000u) return uint16_t(sign | 0x7c00);  // rounds to infinity
  if (ax < 0x38800000u) {                                 // subnormal or zero
    if (ax < 0x33000000u) return sign;
    uint32_t e = ax >> 23;
    uint32_t m = (ax & 0x7fffff) | 0x800000;
    uint32_t shift = 126 - e;  // 14 + (113 - e) - 1
    uint32_t half = m >> (shift - 0);
    // round to nearest even on the dropped bits
    uint32_t rem = m & ((1u << shift) - 1);
    uint32_t mid = 1u << (shift - 1);
    uint32_t res = half;
    if (rem > mid || (rem == mid && (half & 1))) ++res;
    return uint16_t(sign | res);
  }
  uint32_t res = ((ax - 0x38000000u) >> 13);
  uint32_t rem = ax & 0x1fff;
  if (rem > 0x1000 || (rem == 0x1000 && (res & 1))) ++res;
  return uint16_t(sign | res);
}

namespace {

__attribute__((target("f16c"))) void HalfToFloatF16c(const uint16_t* src, float* dst,
                                                       uint64_t count) {
  uint64_t i = 0;
  for (; i + 8 <= count; i += 8) {
    __m128i h = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    __m256 f = _mm256_cvtph_ps(h);
    _mm256_storeu_ps(dst + i, f);
  }
  for (; i < count; ++i) dst[i] = HalfToFloatScalar(src[i]);
}

__attribute__((target("f16c"))) void FloatToHalfF16c(const float* src, uint16_t* dst,
                                                       uint64_t count) {
  uint64_t i = 0;
  for (; i + 8 <= count; i += 8) {
    __m128i h = _mm256_cvtps_ph(_mm256_loadu_ps(src + i), _MM_FROUND_TO_NEAREST_INT);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), h);
  }
  for (; i < count; ++i) dst[i] = FloatToHalfScalar(src[i]);
}

}  // namespace

void HalfToFloatArray(const uint16_t* src, float* dst, uint64_t count) {
  if (CpuInfo::Get().HasF16c()) {
    HalfToFloatF16c(src, dst, count);
    return;
  }
  for (uint64_t i = 0; i < count; ++i) dst[i] = HalfToFloatScalar(src[i]);
}

void FloatToHalfArray(const float* src, uint16_t* dst, uint64_t count) {
  if (CpuInfo::Get().HasF16c()) {
    FloatToHalfF16c(src, dst, count);
    return;
  }
  for (uint64_t i = 0; i < count; ++i) dst[i] = FloatToHalfScalar(src[i]);
}

}  // namespace TAVROMATTING
