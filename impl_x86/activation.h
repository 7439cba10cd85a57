// Activation functions over whole arrays (kinds 1..9; any other kind copies)
// and the helpers the producing kernels use to apply a fused activation.
#pragma once

#include <cstdint>

namespace TAVROMATTING {

enum ActivationKind : uint32_t {
  kActRelu = 1,
  kActClippedRelu = 2,
  kActChannelLeakyRelu = 3,
  kActTanh = 4,
  kActSigmoid = 5,
  kActLeakyRelu = 6,
  kActSwish = 7,
  kActHardSigmoid = 8,
  kActHardSwish = 9,
};

// Activation applied by a producer in its output loop; kind 0 = none.
struct FusedAct {
  uint32_t kind = 0;
  float upper = 0.f;
  float slope = 0.f;
};

// Kinds 1, 2 and 6 can be fused into the producing kernels.
inline bool IsFusibleKind(uint32_t kind) {
  return kind == kActRelu || kind == kActClippedRelu || kind == kActLeakyRelu;
}

inline float ApplyFusedScalar(const FusedAct& a, float v) {
  switch (a.kind) {
    case kActRelu: return v > 0.f ? v : 0.f;
    case kActClippedRelu: {
      float r = v > 0.f ? v : 0.f;
      return r < a.upper ? r : a.upper;
    }
    case kActLeakyRelu: return (v > 0.f ? v : 0.f) + a.slope * (v < 0.f ? v : 0.f);
    default: return v;
  }
}

struct ActivationArgs {
  uint32_t kind = 0;
  float upper = 0.f;       // kActClippedRelu
  float slope = 0.f;       // kActLeakyRelu
  const float* slopes = nullptr;  // kind 3, one per channel
  uint64_t pixels = 0;     // kind 3: pixels of `channels` values
  uint32_t channels = 0;
};

// Exact formulas, one element at a time (the tails of the vector members).
void ActivationScalar(const ActivationArgs& a, const float* in, float* out, uint64_t begin,
                      uint64_t end);
// SSE member: vector loop (approximate exp and reciprocal for kinds 5 and 7)
// over the largest multiple of 4, exact scalar formulas for the rest.
void ActivationSse(const ActivationArgs& a, const float* in, float* out, uint64_t count);
// AVX member (kinds 5 and 7, floor-form exp; other kinds go to the SSE
// member) and AVX2+FMA member (every kind, rounding-form exp), 8 wide.
void ActivationAvx(const ActivationArgs& a, const float* in, float* out, uint64_t count);
void ActivationAvx2Fma(const ActivationArgs& a, const float* in, float* out, uint64_t count);
// Reference: exact formulas everywhere.
void ActivationReference(const ActivationArgs& a, const float* in, float* out, uint64_t count);

}  // namespace TAVROMATTING
