// Pooling dispatch: by operation, then by channel count. The AVX column is
// reserved; until its members exist the SSE column serves.
#include "engine/simd/pooling.h"

#include "engine/x86/cpu_info.h"
#include "impl_x86/pooling_kernels.h"

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
  if (!env->halfPrecision && CpuInfo::Get().HasAvx()) {
    // AVX column (16-wide members) goes here; until then the SSE column.
  }
  if (IsGlobalAverage()) {
    const int pixels = int(inT.h * inT.w);
    if (pixels <= 0) return false;
    if (C % 8 == 0)
      GlobalAverageSse8(in, pixels, C, out);
    else if (C >= 4)
      GlobalAverageSse4(in, pixels, C, out);
    else
      GlobalAverageReference(in, pixels, C, out);
    return true;
  }
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
  if (op == PoolOp::kMax && a.kh == 3 && a.kw == 3 && a.sw == 2 && a.padL == 1 &&
      (C % 8 == 0 || C % 4 == 0)) {
    if (C % 8 == 0)
      MaxPool3x3S2Sse8(a);
    else
      MaxPool3x3S2Sse4(a);
    return true;
  }
  if (C % 8 == 0)
    PoolSse8(a, op);
  else if (C % 4 == 0)
    PoolSse4(a, op);
  else
    PoolReference(a, op);
  return true;
}

}  // namespace simd
}  // namespace TAVROMATTING
