// Pooling forward pass: the member comes from the dispatch table (by
// operation, then by channel count; engine/simd/kernel_choice.cpp).
#include "engine/simd/pooling.h"

#include "engine/simd/kernel_choice.h"

namespace TAVROMATTING {
namespace simd {

bool Pooling::Forward(core::RunEnv* env) {
  if (inputs.empty() || outputs.empty()) return false;
  Tensor& inT = *inputs[0];
  Tensor& outT = *outputs[0];
  const float* in = inT.data();
  float* out = outT.data();
  if (!in || !out) return false;
  const int C = int(outT.c);
  ConvArgs a;
  a.in = in;
  a.H = int(inT.h);
  a.W = int(inT.w);
  a.Cin = a.C = C;
  a.out = out;
  a.Ho = int(outT.h);
  a.Wo = int(outT.w);
  a.kh = int(kernelH);
  a.kw = int(kernelW);
  a.padL = int(padLeft);
  a.padR = int(padRight);
  a.padT = int(padTop);
  a.padB = int(padBottom);
  a.sh = int(strideY);
  a.sw = int(strideX);
  a.dh = int(dilationY);
  a.dw = int(dilationX);
  const PoolOp op = IsAverage() ? PoolOp::kAverage : PoolOp::kMax;
  const PoolMember m =
      ChoosePoolMember(IsGlobalAverage(), op, a, env->halfPrecision, KernelFeatures::Current());
  if (m.global) {
    const int pixels = int(inT.h * inT.w);
    if (pixels <= 0) return false;
    m.global(in, pixels, C, out);
  } else if (m.fixed) {
    m.fixed(a);
  } else {
    m.windowed(a, op);
  }
  return true;
}

}  // namespace simd
}  // namespace TAVROMATTING
