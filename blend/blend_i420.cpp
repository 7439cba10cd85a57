#include "blend/blend_i420.h"

#include <emmintrin.h>

namespace tavro {

namespace {

inline uint8_t BlendPixel(int s0, int s1, int a) {
  return uint8_t((s0 * a + s1 * (255 - a) + 255) >> 8);
}

// Eight pixels in 16-bit lanes; every product and the sum stay below 65536.
inline __m128i Blend8(__m128i s0, __m128i s1, __m128i a) {
  const __m128i c255 = _mm_set1_epi16(255);
  __m128i r = _mm_mullo_epi16(s0, a);
  r = _mm_add_epi16(r, _mm_mullo_epi16(s1, _mm_sub_epi16(c255, a)));
  return _mm_srli_epi16(_mm_add_epi16(r, c255), 8);
}

}  // namespace

void blendPlaneRow(const uint8_t* src0, const uint8_t* src1,
                   const uint8_t* alpha, uint8_t* dst, int n) {
  const __m128i zero = _mm_setzero_si128();
  int x = 0;
  for (; x + 16 <= n; x += 16) {
    const __m128i s0 = _mm_loadu_si128((const __m128i*)(src0 + x));
    const __m128i s1 = _mm_loadu_si128((const __m128i*)(src1 + x));
    const __m128i a = _mm_loadu_si128((const __m128i*)(alpha + x));
    const __m128i lo = Blend8(_mm_unpacklo_epi8(s0, zero), _mm_unpacklo_epi8(s1, zero),
                              _mm_unpacklo_epi8(a, zero));
    const __m128i hi = Blend8(_mm_unpackhi_epi8(s0, zero), _mm_unpackhi_epi8(s1, zero),
                              _mm_unpackhi_epi8(a, zero));
    _mm_storeu_si128((__m128i*)(dst + x), _mm_packus_epi16(lo, hi));
  }
  for (; x < n; ++x) dst[x] = BlendPixel(src0[x], src1[x], alpha[x]);
}

void blendPlaneRowHalfAlpha(const uint8_t* src0, const uint8_t* src1,
                            const uint8_t* alphaRow, uint8_t* dst, int n) {
  const __m128i zero = _mm_setzero_si128();
  int x = 0;
  for (; x + 16 <= n; x += 16) {
    const __m128i s0 = _mm_loadu_si128((const __m128i*)(src0 + x));
    const __m128i s1 = _mm_loadu_si128((const __m128i*)(src1 + x));
    // Odd bytes of 32 mask bytes: the high byte of each 16-bit lane.
    const __m128i aLo = _mm_srli_epi16(_mm_loadu_si128((const __m128i*)(alphaRow + 2 * x)), 8);
    const __m128i aHi = _mm_srli_epi16(_mm_loadu_si128((const __m128i*)(alphaRow + 2 * x + 16)), 8);
    const __m128i lo = Blend8(_mm_unpacklo_epi8(s0, zero), _mm_unpacklo_epi8(s1, zero), aLo);
    const __m128i hi = Blend8(_mm_unpackhi_epi8(s0, zero), _mm_unpackhi_epi8(s1, zero), aHi);
    _mm_storeu_si128((__m128i*)(dst + x), _mm_packus_epi16(lo, hi));
  }
  for (; x < n; ++x) dst[x] = BlendPixel(src0[x], src1[x], alphaRow[2 * x + 1]);
}

int32_t blendI420(const uint8_t* src0Y, int src0StrideY, const uint8_t* src0U,
                  int src0StrideU, const uint8_t* src0V, int src0StrideV,
                  const uint8_t* src1Y, int src1StrideY, const uint8_t* src1U,
                  int src1StrideU, const uint8_t* src1V, int src1StrideV,
                  const uint8_t* alpha, int alphaStride, uint8_t* dstY,
                  int dstStrideY, uint8_t* dstU, int dstStrideU, uint8_t* dstV,
                  int dstStrideV, int width, int height) {
  if (!src0Y || !src0U || !src0V || !src1Y || !src1U || !src1V || !alpha ||
      !dstY || !dstU || !dstV || width <= 0 || height <= 0)
    return -1;
  if (src0StrideY == width && src1StrideY == width && alphaStride == width &&
      dstStrideY == width) {
    blendPlaneRow(src0Y, src1Y, alpha, dstY, width * height);
  } else {
    for (int y = 0; y < height; ++y)
      blendPlaneRow(src0Y + size_t(y) * src0StrideY, src1Y + size_t(y) * src1StrideY,
                    alpha + size_t(y) * alphaStride, dstY + size_t(y) * dstStrideY,
                    width);
  }
  if (width < 2 || height < 2) return 0;
  const int cw = width / 2, ch = height / 2;
  auto chroma = [&](const uint8_t* s0, int s0Stride, const uint8_t* s1,
                    int s1Stride, uint8_t* d, int dStride) {
    for (int y = 0; y < ch; ++y)
      blendPlaneRowHalfAlpha(s0 + size_t(y) * s0Stride, s1 + size_t(y) * s1Stride,
                             alpha + size_t(2 * y) * alphaStride,
                             d + size_t(y) * dStride, cw);
  };
  chroma(src0U, src0StrideU, src1U, src1StrideU, dstU, dstStrideU);
  chroma(src0V, src0StrideV, src1V, src1StrideV, dstV, dstStrideV);
  return 0;
}

}  // namespace tavro
