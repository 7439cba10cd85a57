#include <cmath>
#include <cstring>

#include "impl_x86/activation.h"

namespace TAVROMATTING {

__m128 ExpSse(__m128 x) {
  x = _mm_min_ps(_mm_max_ps(x, _mm_set1_ps(-88.37626f)), _mm_set1_ps(88.37626f));
  __m128 t = _mm_add_ps(_mm_mul_ps(x, _mm_set1_ps(1.442695f)), _mm_set1_ps(0.5f));
  // floor(t): truncate, then subtract 1 where the truncation went up.
  __m128i ti = _mm_cvttps_epi32(t);
  __m128 tr = _mm_cvtepi32_ps(ti);
  __m128 corr = _mm_and_ps(_mm_cmpgt_ps(tr, t), _mm_set1_ps(1.f));
  __m128 n = _mm_sub_ps(tr, corr);
  __m128 r = _mm_sub_ps(_mm_sub_ps(x, _mm_mul_ps(n, _mm_set1_ps(0.693359375f))),
                        _mm_mul_ps(n, _mm_set1_ps(-2.1219444e-4f)));
  __m128 p = _mm_set1_ps(1.9875691e-4f);
  p = _mm_add_ps(_mm_mul_ps(p, r), _mm_set1_ps(1.3981999e-3f));
  p = _mm_add_ps(_mm_mul_ps(p, r), _mm_set1_ps(8.3334519e-3f));
  p = _mm_add_ps(_mm_mul_ps(p, r), _mm_set1_ps(4.1665796e-2f));
  p = _mm_add_ps(_mm_mul_ps(p, r), _mm_set1_ps(1.6666666e-1f));
  p = _mm_add_ps(_mm_mul_ps(p, r), _mm_set1_ps(0.5f));
  __m128 y = _mm_add_ps(_mm_add_ps(_mm_mul_ps(p, _mm_mul_ps(r, r)), r), _mm_set1_ps(1.f));
  __m128i e = _mm_slli_epi32(_mm_add_epi32(_mm_cvttps_epi32(n), _mm_set1_epi32(127)), 23);
  return _mm_mul_ps(y, _mm_castsi128_ps(e));
}

static inline float ScalarKind(uint32_t kind, float v, float upper, float slope) {
  switch (kind) {
    case kActRelu: return v > 0.f ? v : 0.f;  // NaN -> 0 like the max instruction
    case kActClippedRelu: {
      float r = v > 0.f ? v : 0.f;
      return r < upper ? r : upper;
    }
    case kActTanh: return std::tanh(v);
    case kActSigmoid: return 1.f / (1.f + std::exp(-v));
    case kActLeakyRelu: return (v > 0.f ? v : 0.f) + (v < 0.f ? v : 0.f) * slope;
    case kActSwish: return v / (1.f + std::exp(-v));
    case kActHardSigmoid: {
      float r = v * 0.16666667f + 0.5f;
      r = r > 0.f ? r : 0.f;
      return r < 1.f ? r : 1.f;
    }
    case kActHardSwish: {
      float r = v * 0.16666667f + 0.5f;
      r = r > 0.f ? r : 0.f;
      return v * (r < 1.f ? r : 1.f);
    }
    default: return v;
  }
}

static void ChannelLeaky(const ActivationArgs& a, const float* in, float* out) {
  if (!a.slopes) {
    return;  // no slopes: nothing is done
  }
  const uint32_t C = a.channels;
  for (uint64_t p = 0; p < a.pixels; ++p)
    for (uint32_t c = 0; c < C; ++c) {
      float v = in[p * C + c];
      out[p * C + c] = v < 0.f ? v * a.slopes[c] : v;
    }
}

void ActivationScalar(const ActivationArgs& a, const float* in, float* out, uint64_t begin,
                      uint64_t end) {
  for (uint64_t i = begin; i < end; ++i) out[i] = ScalarKind(a.kind, in[i], a.upper, a.slope);
}

void ActivationReference(const ActivationArgs& a, const float* in, float* out, uint64_t count) {
  if (a.kind == kActChannelLeakyRelu) {
    ChannelLeaky(a, in, out);
    return;
  }
  if (a.kind < kActRelu || a.kind > kActHardSwish) {
    if (in != out) std::memmove(out, in, count * 4);
    return;
  }
  ActivationScalar(a, in, out, 0, count);
}

void ActivationSse(const ActivationArgs& a, const float* in, float* out, uint64_t count) {
  const uint64_t vec = count / 4 * 4;
  const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.f);
  uint64_t i = 0;
  switch (a.kind) {
    case kActRelu:
      for (; i < vec; i += 4) _mm_storeu_ps(out + i, _mm_max_ps(_mm_loadu_ps(in + i), zero));
      break;
    case kActClippedRelu: {
      const __m128 up = _mm_set1_ps(a.upper);
      for (; i < vec; i += 4)
        _mm_storeu_ps(out + i, _mm_min_ps(_mm_max_ps(_mm_loadu_ps(in + i), zero), up));
      break;
    }
    case kActChannelLeakyRelu:
      ChannelLeaky(a, in, out);
      return;
    case kActSigmoid:
      for (; i < vec; i += 4) {
        __m128 e = ExpSse(_mm_sub_ps(zero, _mm_loadu_ps(in + i)));
        _mm_storeu_ps(out + i, _mm_rcp_ps(_mm_add_ps(one, e)));
      }
      break;
    case kActLeakyRelu: {
      const __m128 s = _mm_set1_ps(a.slope);
      for (; i < vec; i += 4) {
        __m128 v = _mm_loadu_ps(in + i);
        _mm_storeu_ps(out + i,
                      _mm_add_ps(_mm_max_ps(v, zero), _mm_mul_ps(_mm_min_ps(v, zero), s)));
      }
      break;
    }
    case kActSwish:
      for (; i < vec; i += 4) {
        __m128 v = _mm_loadu_ps(in + i);
        __m128 e = ExpSse(_mm_sub_ps(zero, v));
        _mm_storeu_ps(out + i, _mm_mul_ps(v, _mm_rcp_ps(_mm_add_ps(one, e))));
      }
      break;
    case kActHardSigmoid:
    case kActHardSwish: {
      const __m128 k6 = _mm_set1_ps(0.16666667f), half = _mm_set1_ps(0.5f);
      for (; i < vec; i += 4) {
        __m128 v = _mm_loadu_ps(in + i);
        __m128 r = _mm_min_ps(_mm_max_ps(_mm_add_ps(_mm_mul_ps(v, k6), half), zero), one);
        _mm_storeu_ps(out + i, a.kind == kActHardSwish ? _mm_mul_ps(v, r) : r);
      }
      break;
    }
    case kActTanh:
      break;  // standard library tanh for every element
    default:
      if (in != out) std::memmove(out, in, count * 4);
      return;
  }
  ActivationScalar(a, in, out, i, count);
}

}  // namespace TAVROMATTING
