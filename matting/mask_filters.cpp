#include "matting/mask_filters.h"

#include <emmintrin.h>

#include <algorithm>

namespace TavroMatting {

int Reflect101(int p, int len) {
  if (len <= 1) return 0;
  while (p < 0 || p >= len) p = p < 0 ? -p : 2 * len - p - 2;
  return p;
}

namespace {

// Horizontal (1, 2, 1) sums of one row.
void HorizontalSum3(const uint8_t* s, uint16_t* h, int w) {
  if (w < 3) {
    for (int x = 0; x < w; ++x)
      h[x] = uint16_t(s[Reflect101(x - 1, w)] + 2 * s[x] + s[Reflect101(x + 1, w)]);
    return;
  }
  h[0] = uint16_t(2 * (s[0] + s[1]));
  int x = 1;
  const __m128i zero = _mm_setzero_si128();
  for (; x + 8 <= w - 1; x += 8) {
    __m128i a = _mm_unpacklo_epi8(_mm_loadl_epi64((const __m128i*)(s + x - 1)), zero);
    __m128i b = _mm_unpacklo_epi8(_mm_loadl_epi64((const __m128i*)(s + x)), zero);
    __m128i c = _mm_unpacklo_epi8(_mm_loadl_epi64((const __m128i*)(s + x + 1)), zero);
    __m128i r = _mm_add_epi16(_mm_add_epi16(a, c), _mm_slli_epi16(b, 1));
    _mm_storeu_si128((__m128i*)(h + x), r);
  }
  for (; x < w - 1; ++x) h[x] = uint16_t(s[x - 1] + 2 * s[x] + s[x + 1]);
  h[w - 1] = uint16_t(2 * (s[w - 1] + s[w - 2]));
}

// Horizontal (1, 4, 6, 4, 1) sums of one row.
void HorizontalSum5(const uint8_t* s, uint16_t* h, int w) {
  auto at = [&](int x) { return int(s[Reflect101(x, w)]); };
  auto edge = [&](int x) {
    h[x] = uint16_t(at(x - 2) + 4 * at(x - 1) + 6 * s[x] + 4 * at(x + 1) + at(x + 2));
  };
  if (w < 5) {
    for (int x = 0; x < w; ++x) edge(x);
    return;
  }
  edge(0);
  edge(1);
  int x = 2;
  const __m128i zero = _mm_setzero_si128();
  for (; x + 8 <= w - 2; x += 8) {
    __m128i a = _mm_unpacklo_epi8(_mm_loadl_epi64((const __m128i*)(s + x - 2)), zero);
    __m128i b = _mm_unpacklo_epi8(_mm_loadl_epi64((const __m128i*)(s + x - 1)), zero);
    __m128i c = _mm_unpacklo_epi8(_mm_loadl_epi64((const __m128i*)(s + x)), zero);
    __m128i d = _mm_unpacklo_epi8(_mm_loadl_epi64((const __m128i*)(s + x + 1)), zero);
    __m128i e = _mm_unpacklo_epi8(_mm_loadl_epi64((const __m128i*)(s + x + 2)), zero);
    __m128i r = _mm_add_epi16(a, e);
    r = _mm_add_epi16(r, _mm_slli_epi16(_mm_add_epi16(b, d), 2));
    r = _mm_add_epi16(r, _mm_add_epi16(_mm_slli_epi16(c, 2), _mm_slli_epi16(c, 1)));
    _mm_storeu_si128((__m128i*)(h + x), r);
  }
  for (; x < w - 2; ++x)
    h[x] = uint16_t(s[x - 2] + 4 * s[x - 1] + 6 * s[x] + 4 * s[x + 1] + s[x + 2]);
  edge(w - 2);
  edge(w - 1);
}

// out = (a + 2b + c + 8) >> 4
void VerticalSum3(const uint16_t* a, const uint16_t* b, const uint16_t* c,
                  uint8_t* out, int w) {
  int x = 0;
  const __m128i eight = _mm_set1_epi16(8);
  for (; x + 8 <= w; x += 8) {
    __m128i va = _mm_loadu_si128((const __m128i*)(a + x));
    __m128i vb = _mm_loadu_si128((const __m128i*)(b + x));
    __m128i vc = _mm_loadu_si128((const __m128i*)(c + x));
    __m128i r = _mm_add_epi16(_mm_add_epi16(va, vc), _mm_slli_epi16(vb, 1));
    r = _mm_srli_epi16(_mm_add_epi16(r, eight), 4);
    _mm_storel_epi64((__m128i*)(out + x), _mm_packus_epi16(r, r));
  }
  for (; x < w; ++x) out[x] = uint8_t((a[x] + 2 * b[x] + c[x] + 8) >> 4);
}

// out = (a + 4b + 6c + 4d + e + 128) >> 8; the sum stays below 65536.
void VerticalSum5(const uint16_t* a, const uint16_t* b, const uint16_t* c,
                  const uint16_t* d, const uint16_t* e, uint8_t* out, int w) {
  int x = 0;
  const __m128i round = _mm_set1_epi16(128);
  for (; x + 8 <= w; x += 8) {
    __m128i va = _mm_loadu_si128((const __m128i*)(a + x));
    __m128i vb = _mm_loadu_si128((const __m128i*)(b + x));
    __m128i vc = _mm_loadu_si128((const __m128i*)(c + x));
    __m128i vd = _mm_loadu_si128((const __m128i*)(d + x));
    __m128i ve = _mm_loadu_si128((const __m128i*)(e + x));
    __m128i r = _mm_add_epi16(va, ve);
    r = _mm_add_epi16(r, _mm_slli_epi16(_mm_add_epi16(vb, vd), 2));
    r = _mm_add_epi16(r, _mm_add_epi16(_mm_slli_epi16(vc, 2), _mm_slli_epi16(vc, 1)));
    r = _mm_srli_epi16(_mm_add_epi16(r, round), 8);
    _mm_storel_epi64((__m128i*)(out + x), _mm_packus_epi16(r, r));
  }
  for (; x < w; ++x)
    out[x] = uint8_t((a[x] + 4 * b[x] + 6 * c[x] + 4 * d[x] + e[x] + 128) >> 8);
}

}  // namespace

// Row r's horizontal sums live in slot r % 3 (r % 5 for the 5 x 5 filter);
// every row an output row needs lies within +-1 (+-2) of it, so the slots
// never collide, and all of them are summed before the output row is
// written, which makes the 5 x 5 filter safe in place.
void GaussianBlur3x3(const uint8_t* src, uint8_t* dst, uint16_t* rows,
                     int width, int height) {
  if (!src || !dst || !rows || width < 1 || height < 1) return;
  auto slot = [&](int r) { return rows + size_t(r % 3) * width; };
  int summed = 0;
  for (int y = 0; y < height; ++y) {
    const int last = std::min(y + 1, height - 1);
    for (; summed <= last; ++summed)
      HorizontalSum3(src + size_t(summed) * width, slot(summed), width);
    VerticalSum3(slot(Reflect101(y - 1, height)), slot(y),
                 slot(Reflect101(y + 1, height)), dst + size_t(y) * width, width);
  }
}

void GaussianBlur5x5(const uint8_t* src, uint8_t* dst, uint16_t* rows,
                     int width, int height) {
  if (!src || !dst || !rows || width < 1 || height < 1) return;
  auto slot = [&](int r) { return rows + size_t(r % 5) * width; };
  int summed = 0;
  for (int y = 0; y < height; ++y) {
    const int last = std::min(y + 2, height - 1);
    for (; summed <= last; ++summed)
      HorizontalSum5(src + size_t(summed) * width, slot(summed), width);
    VerticalSum5(slot(Reflect101(y - 2, height)), slot(Reflect101(y - 1, height)),
                 slot(y), slot(Reflect101(y + 1, height)),
                 slot(Reflect101(y + 2, height)), dst + size_t(y) * width, width);
  }
}

void StretchMask(const uint8_t* src, uint8_t* dst, float low, float high,
                 int width, int height) {
  if (!src || !dst || width < 1 || height < 1) return;
  const float range = high - low;
  const float scale = float(1.0 / range);
  const float offset = float((low / range) * -255.0);
  uint8_t table[256];
  for (int v = 0; v < 256; ++v) {
    volatile float product = float(v) * scale;  // multiply, then add: no fusing
    const float f = product + offset;
    const int t = static_cast<int>(f);
    table[v] = uint8_t(std::clamp(t, 0, 255));
  }
  const size_t n = size_t(width) * height;
  for (size_t i = 0; i < n; ++i) dst[i] = table[src[i]];
}

void CutBelow(uint8_t* mask, size_t count, uint8_t limit) {
  if (!mask) return;
  size_t i = 0;
  const __m128i lim = _mm_set1_epi8(char(limit));
  for (; i + 16 <= count; i += 16) {
    __m128i v = _mm_loadu_si128((const __m128i*)(mask + i));
    __m128i keep = _mm_cmpeq_epi8(_mm_max_epu8(v, lim), v);  // v >= limit
    _mm_storeu_si128((__m128i*)(mask + i), _mm_and_si128(v, keep));
  }
  for (; i < count; ++i)
    if (mask[i] < limit) mask[i] = 0;
}

}  // namespace TavroMatting
