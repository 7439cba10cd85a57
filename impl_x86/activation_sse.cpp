// Activation kinds 1..9: the exact scalar formulas, the reference member and
// the SSE member (floor-form exponential, approximate reciprocal).
#include <cmath>
#include <cstring>

#include "impl_x86/activation.h"
#include "impl_x86/activation_body.h"
#include "impl_x86/vec_sse.h"

namespace TAVROMATTING {

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

// Kind 3 (per-channel slopes) and the kinds outside 1..9 (a copy) need no
// formula per element; returns whether `a` was one of them and is done.
static bool WithoutFormula(const ActivationArgs& a, const float* in, float* out, uint64_t count) {
  if (a.kind == kActChannelLeakyRelu) {
    ChannelLeaky(a, in, out);
    return true;
  }
  if (a.kind < kActRelu || a.kind > kActHardSwish) {
    if (in != out) std::memmove(out, in, count * 4);
    return true;
  }
  return false;
}

void ActivationReference(const ActivationArgs& a, const float* in, float* out, uint64_t count) {
  if (!WithoutFormula(a, in, out, count)) ActivationScalar(a, in, out, 0, count);
}

void ActivationSse(const ActivationArgs& a, const float* in, float* out, uint64_t count) {
  if (WithoutFormula(a, in, out, count)) return;
  // Tanh takes the standard library's formula for every element.
  ActivationScalar(a, in, out, ActivationVector<Sse4, ExpFloor<Sse4>>(a, in, out, count), count);
}

}  // namespace TAVROMATTING
