#include "host/composite/pixel_rows.h"

#include <emmintrin.h>

#include <cstring>

namespace tavro_host {

namespace {

// (x * y + z * w + 255) >> 8 on 16 bytes, in two halves of 16-bit lanes; the
// sum is at most 255 * 255 + 255 and fits.
inline __m128i MulAdd(__m128i x, __m128i y, __m128i z, __m128i w) {
  const __m128i zero = _mm_setzero_si128(), round = _mm_set1_epi16(255);
  const auto half = [&](__m128i a, __m128i b, __m128i c, __m128i d) {
    __m128i s = _mm_add_epi16(_mm_mullo_epi16(a, b), _mm_mullo_epi16(c, d));
    return _mm_srli_epi16(_mm_add_epi16(s, round), 8);
  };
  const __m128i lo = half(_mm_unpacklo_epi8(x, zero), _mm_unpacklo_epi8(y, zero),
                          _mm_unpacklo_epi8(z, zero), _mm_unpacklo_epi8(w, zero));
  const __m128i hi = half(_mm_unpackhi_epi8(x, zero), _mm_unpackhi_epi8(y, zero),
                          _mm_unpackhi_epi8(z, zero), _mm_unpackhi_epi8(w, zero));
  return _mm_packus_epi16(lo, hi);
}

inline __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

}  // namespace

void BlendRow(const uint8_t* front, const uint8_t* back, const uint8_t* a, uint8_t* dst, int n) {
  const __m128i ones = _mm_set1_epi8(char(0xFF)), zero = _mm_setzero_si128();
  int x = 0;
  for (; x + 16 <= n; x += 16) {
    const __m128i alpha = Load(a + x);
    // Runs of the person (kept) and of the background (taken whole) are
    // the most of a frame.
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(alpha, ones)) == 0xFFFF) {
      if (dst != front) Store(dst + x, Load(front + x));
      continue;
    }
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(alpha, zero)) == 0xFFFF) {
      Store(dst + x, Load(back + x));
      continue;
    }
    Store(dst + x, MulAdd(Load(front + x), alpha, Load(back + x), _mm_xor_si128(alpha, ones)));
  }
  for (; x < n; ++x) dst[x] = uint8_t((front[x] * a[x] + back[x] * (255 - a[x]) + 255) >> 8);
}

void ScaleRow(const uint8_t* src, const uint8_t* k, uint8_t* dst, int n) {
  const __m128i zero = _mm_setzero_si128();
  int x = 0;
  for (; x + 16 <= n; x += 16) Store(dst + x, MulAdd(Load(src + x), Load(k + x), zero, zero));
  for (; x < n; ++x) dst[x] = uint8_t((src[x] * k[x] + 255) >> 8);
}

void MapMaskRow(const uint8_t* m, const uint8_t lut[256], uint8_t* a, int n) {
  const __m128i zero = _mm_setzero_si128(), full = _mm_set1_epi8(char(0xFF));
  int x = 0;
  while (x < n) {
    if (x + 16 <= n) {
      const __m128i v = Load(m + x);
      if (_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)) == 0xFFFF) {
        std::memset(a + x, lut[0], 16);
        x += 16;
        continue;
      }
      if (_mm_movemask_epi8(_mm_cmpeq_epi8(v, full)) == 0xFFFF) {
        std::memset(a + x, lut[255], 16);
        x += 16;
        continue;
      }
    }
    const int end = x + 16 <= n ? x + 16 : n;
    for (; x < end; ++x) a[x] = lut[m[x]];
  }
}

}  // namespace tavro_host
