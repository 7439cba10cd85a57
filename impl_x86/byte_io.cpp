// The network's two byte boundaries: normalised input and the 8-bit mask.
#include <emmintrin.h>

#include <cstring>

#include "impl_x86/elementwise_kernels.h"

namespace TAVROMATTING {

void NormalizeBytes(const uint8_t* in, uint64_t pixels, int Cin, int Cout, const float* mean,
                    const float* scale, float fill, float* out) {
  const int k = Cin < 3 ? Cin : 3;
  const bool addFourth = Cin == 3 && Cout == 4;
  uint64_t p = 0;
  if (addFourth) {
    // The network's input: one pixel per register, the three channels
    // computed as in the scalar loop (subtract, then multiply) and the fill
    // value put in the fourth lane. Each step reads 4 bytes, so the last
    // pixel takes the scalar loop.
    const __m128 m = _mm_setr_ps(mean[0], mean[1], mean[2], 0.f);
    const __m128 s = _mm_setr_ps(scale[0], scale[1], scale[2], 0.f);
    const __m128 keep = _mm_castsi128_ps(_mm_setr_epi32(-1, -1, -1, 0));
    const __m128 fourth = _mm_setr_ps(0.f, 0.f, 0.f, fill);
    const __m128i zero = _mm_setzero_si128();
    for (; p + 1 < pixels; ++p) {
      int32_t bytes;
      std::memcpy(&bytes, in + p * 3, 4);
      const __m128i b = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(bytes), zero), zero);
      const __m128 y = _mm_mul_ps(_mm_sub_ps(_mm_cvtepi32_ps(b), m), s);
      _mm_storeu_ps(out + p * 4, _mm_or_ps(_mm_and_ps(y, keep), fourth));
    }
  }
  if (Cin == 3 && Cout == 3) {
    // Three channels in, three out: four pixels (12 values, 3 registers)
    // per step, the channels' mean and scale rotating through the lanes;
    // each value computed as in the scalar loop (subtract, then multiply).
    // Each step reads 16 bytes, so the last pixels take the scalar loop.
    const __m128 m[3] = {_mm_setr_ps(mean[0], mean[1], mean[2], mean[0]),
                         _mm_setr_ps(mean[1], mean[2], mean[0], mean[1]),
                         _mm_setr_ps(mean[2], mean[0], mean[1], mean[2])};
    const __m128 s[3] = {_mm_setr_ps(scale[0], scale[1], scale[2], scale[0]),
                         _mm_setr_ps(scale[1], scale[2], scale[0], scale[1]),
                         _mm_setr_ps(scale[2], scale[0], scale[1], scale[2])};
    const __m128i zero = _mm_setzero_si128();
    for (; p + 6 <= pixels; p += 4) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + p * 3));
      const __m128i lo = _mm_unpacklo_epi8(v, zero), hi = _mm_unpackhi_epi8(v, zero);
      const __m128i w[3] = {_mm_unpacklo_epi16(lo, zero), _mm_unpackhi_epi16(lo, zero),
                            _mm_unpacklo_epi16(hi, zero)};
      for (int r = 0; r < 3; ++r)
        _mm_storeu_ps(out + p * 3 + 4 * r, _mm_mul_ps(_mm_sub_ps(_mm_cvtepi32_ps(w[r]), m[r]), s[r]));
    }
  }
  for (; p < pixels; ++p) {
    const uint8_t* q = in + p * k;
    float* y = out + p * Cout;
    for (int c = 0; c < k; ++c) y[c] = (float(q[c]) - mean[c]) * scale[c];
    if (addFourth) y[3] = fill;
  }
}

void MaskToBytes(const float* in, uint64_t count, uint8_t* out) {
  // 16 values per step, with the scalar loop's results: below 1 after the
  // scaling (and NaN, which fails every comparison) gives 0, the rest is
  // clamped to 255 before truncation (255 <= f < 256 truncates to 255 too).
  const __m128 k255 = _mm_set1_ps(255.f), one = _mm_set1_ps(1.f);
  uint64_t i = 0;
  for (; i + 16 <= count; i += 16) {
    __m128i v[4];
    for (int j = 0; j < 4; ++j) {
      const __m128 f = _mm_mul_ps(_mm_loadu_ps(in + i + 4 * j), k255);
      // min(f, 255) is 255 for NaN (the second operand); the mask clears it.
      const __m128 c = _mm_and_ps(_mm_min_ps(f, k255), _mm_cmpge_ps(f, one));
      v[j] = _mm_cvttps_epi32(c);
    }
    const __m128i w = _mm_packus_epi16(_mm_packs_epi32(v[0], v[1]), _mm_packs_epi32(v[2], v[3]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), w);
  }
  for (; i < count; ++i) {
    const float f = in[i] * 255.f;
    // Compare in float first so huge values and NaN cannot overflow the cast.
    if (!(f >= 1.f))
      out[i] = 0;
    else if (f >= 256.f)
      out[i] = 255;
    else
      out[i] = uint8_t(int(f));
  }
}

}  // namespace TAVROMATTING
