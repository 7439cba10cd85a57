// Dispatch tables of the portable forward passes. Each table is read top to
// bottom and the first matching row wins; the AVX2+FMA (or AVX) column
// applies when the half-precision flag is clear and the features are present.
#include "engine/simd/kernel_choice.h"

#include "engine/core/tensor.h"
#include "engine/x86/cpu_info.h"
#include "impl_x86/conv_kernels.h"

namespace TAVROMATTING {

KernelFeatures KernelFeatures::Current() {
  const CpuInfo& cpu = CpuInfo::Get();
  KernelFeatures f;
  f.avx = cpu.HasAvx();
  f.avx2 = cpu.HasAvx2();
  f.fma = cpu.HasFma();
  return f;
}

namespace simd {
namespace {

bool Dil1(const ConvArgs& a) { return a.dw <= 1 && a.dh <= 1; }
bool FirstLayerShape(const ConvArgs& a) {
  return a.kh == 3 && a.kw == 3 && a.sw == 2 && a.sh == 2 && a.padL == 1 &&
         (a.Cin == 3 || a.Cin == 1);
}
bool OneByOne(const ConvArgs& a) { return a.kh == 1 && a.kw == 1 && a.sw == 1 && a.sh == 1; }

ConvMember ConvAvx2(const ConvArgs& a) {
  const int C = a.C;
  if (Dil1(a) && FirstLayerShape(a)) {
    if (C % 8 == 0) return {ConvFirstLayerFma, kBlock8, true, "first-layer FMA"};
    return {ConvFirstLayerSse, kBlock4, true, "first-layer SSE"};
  }
  if (Dil1(a) && C == 1) {
    if (a.Cin < 8) return {ConvSingleOutput, kPlain, false, "single-output"};
    return {ConvSingleOutputFma, kPlain, false, "single-output FMA"};
  }
  if (Dil1(a) && OneByOne(a)) {
    if (C >= 16) return {Conv1x1Fma16, kBlock16, true, "1x1 FMA 16"};
    if (C >= 8) return {Conv1x1Fma8, kBlock8, true, "1x1 FMA 8"};
    if (C >= 4) return {Conv1x1Sse4, kBlock4, true, "1x1 SSE 4"};
  }
  if (Dil1(a)) {
    if (C % 16 == 0) return {ConvDirectFma16, kBlock16, true, "direct FMA 16"};
    if (C >= 8) return {ConvDirectFma8, kBlock8, true, "direct FMA 8"};
    return {ConvDirectSse4, kBlock4, true, "direct SSE 4"};
  }
  if (C % 16 == 0) return {ConvDirectFma16, kBlock16, true, "dilated FMA 16"};
  if (C % 8 == 0) return {ConvDirectFma8, kBlock8, true, "dilated FMA 8"};
  if (C % 4 == 0) return {ConvDirectSse4, kBlock4, true, "dilated SSE 4"};
  return {ConvReference, kPlain, false, "reference"};
}

ConvMember ConvSse(const ConvArgs& a) {
  const int C = a.C;
  if (Dil1(a) && FirstLayerShape(a)) return {ConvFirstLayerSse, kBlock4, true, "first-layer SSE"};
  if (Dil1(a) && C == 1) return {ConvSingleOutput, kPlain, false, "single-output"};
  if (Dil1(a) && OneByOne(a)) {
    if (C >= 8) return {Conv1x1Sse8, kBlock8, true, "1x1 SSE 8"};
    if (C >= 4) return {Conv1x1Sse4, kBlock4, true, "1x1 SSE 4"};
  }
  if (Dil1(a) && C % 8 == 0) return {ConvDirectSse8, kBlock8, true, "direct SSE 8"};
  if (Dil1(a)) return {ConvDirectSse4, kBlock4, true, "direct SSE 4"};
  if (C % 8 == 0) return {ConvDirectSse8, kBlock8, true, "dilated SSE 8"};
  if (C % 4 == 0) return {ConvDirectSse4, kBlock4, true, "dilated SSE 4"};
  return {ConvReference, kPlain, false, "reference"};
}

}  // namespace

ConvMember ChooseConvMember(const ConvArgs& a, bool half, const KernelFeatures& f) {
  if (!half && a.C == 1 && a.Cin == 2) return {ConvSingleOutput, kPlain, false, "single-output"};
  return !half && f.Avx2Fma() ? ConvAvx2(a) : ConvSse(a);
}

ConvMember ChooseDepthwiseMember(const ConvArgs& a, bool half, const KernelFeatures& f) {
  const int C = a.C;
  const bool s1 = a.kh == 3 && a.kw == 3 && a.sw == 1 && a.sh == 1;
  if (!half && f.Avx2Fma()) {
    if (s1) {
      if (C % 16 == 0) return {Depthwise3x3S1Fma16, kBlock16, true, "3x3 stride-1 FMA 16"};
      if (C % 8 == 0) return {Depthwise3x3S1Fma8, kBlock8, true, "3x3 stride-1 FMA 8"};
      if (C % 4 == 0) return {Depthwise3x3S1Sse4, kBlock4, true, "3x3 stride-1 SSE 4"};
      return {DepthwiseReference, kWholeBlock, false, "reference"};
    }
    if (C % 16 == 0) return {DepthwiseFma16, kBlock16, true, "general FMA 16"};
    if (C % 8 == 0) return {DepthwiseFma8, kBlock8, true, "general FMA 8"};
    if (C % 4 == 0) return {DepthwiseSse4, kBlock4, true, "general SSE 4"};
    return {DepthwiseReference, kWholeBlock, false, "reference"};
  }
  if (s1) {
    if (C % 8 == 0) return {Depthwise3x3S1Sse8, kBlock8, true, "3x3 stride-1 SSE 8"};
    if (C % 4 == 0) return {Depthwise3x3S1Sse4, kBlock4, true, "3x3 stride-1 SSE 4"};
    return {DepthwiseReference, kWholeBlock, false, "reference"};
  }
  if (C % 8 == 0) return {DepthwiseSse8, kBlock8, true, "general SSE 8"};
  if (C % 4 == 0) return {DepthwiseSse4, kBlock4, true, "general SSE 4"};
  return {DepthwiseReference, kWholeBlock, false, "reference"};
}

ConvMember ChooseGroupedMember(int perGroup, bool half, const KernelFeatures& f) {
  if (!half && f.Avx2Fma()) {
    if (perGroup % 16 == 0) return {ConvDirectFma16, kBlock16, true, "grouped FMA 16"};
    if (perGroup % 8 == 0) return {ConvDirectFma8, kBlock8, true, "grouped FMA 8"};
  } else if (perGroup % 8 == 0) {
    return {ConvDirectSse8, kBlock8, true, "grouped SSE 8"};
  }
  if (perGroup % 4 == 0) return {ConvDirectSse4, kBlock4, true, "grouped SSE 4"};
  return {};
}

ConvMember ChooseDeconvMember(const ConvArgs& a, bool half, const KernelFeatures& f) {
  const bool avx2 = !half && f.Avx2Fma();
  const int C = a.C, Cin = a.Cin;
  if (a.kh == 5 && a.kw == 5 && a.sw == 2 && a.sh == 2 && a.padL == 1 && a.padR == 2) {
    if (a.W % 2 == 1) return {Deconv5x5S2SseByInput, kPlain, false, "5x5 stride-2 general"};
    if (avx2 && C % 8 == 0) return {Deconv5x5S2Fma8, kPlanarBlock8, true, "5x5 stride-2 FMA 8"};
    if (C % 4 == 0) return {Deconv5x5S2Sse4, kPlanarBlock4, true, "5x5 stride-2 SSE 4"};
    if (avx2 && Cin % 8 == 0)
      return {Deconv5x5S2FmaByInput, kPlain, false, "5x5 stride-2 FMA by input"};
    if (Cin % 4 == 0) return {Deconv5x5S2SseByInput, kPlain, false, "5x5 stride-2 SSE by input"};
  }
  if (a.sw != 2 || a.sh != 2 || a.Wo % 4 != 0) return {DeconvReference, kPlain, false, "reference"};
  if (C == 2) {
    if (avx2 && Cin % 8 == 0) return {DeconvTwoOutputFma, kPlain, false, "two-output FMA"};
    if (Cin % 4 == 0) return {DeconvTwoOutputSse, kPlain, false, "two-output SSE"};
  }
  if (avx2 && C == 4 && a.kh == 2 && a.kw == 2 && a.padT == 0 && a.padL == 0)
    return {DeconvStride2PairsFma, kBlock4, true, "stride-2 FMA pairs", true};
  if (avx2 && C % 8 == 0) return {DeconvStride2Fma8, kBlock8, true, "stride-2 FMA 8", true};
  return {DeconvStride2Sse4, kBlock4, true, "stride-2 SSE 4", true};
}

PoolMember ChoosePoolMember(bool global, PoolOp op, const ConvArgs& a, bool half,
                            const KernelFeatures& f) {
  const int C = a.C;
  PoolMember m;
  const bool avx = !half && f.avx;
  if (global) {
    if (avx && C % 16 == 0) return m.global = GlobalAverageAvx16, m.name = "global AVX 16", m;
    if (avx && C >= 8) return m.global = GlobalAverageAvx8, m.name = "global AVX 8", m;
    if (C % 8 == 0) return m.global = GlobalAverageSse8, m.name = "global SSE 8", m;
    if (C >= 4) return m.global = GlobalAverageSse4, m.name = "global SSE 4", m;
    return m.global = GlobalAverageReference, m.name = "global reference", m;
  }
  if (op == PoolOp::kMax && a.kh == 3 && a.kw == 3 && a.sw == 2 && a.padL == 1) {
    if (avx && C % 16 == 0) return m.fixed = MaxPool3x3S2Avx16, m.name = "max 3x3 s2 AVX 16", m;
    if (avx && C % 8 == 0) return m.fixed = MaxPool3x3S2Avx8, m.name = "max 3x3 s2 AVX 8", m;
    if (!avx && C % 8 == 0) return m.fixed = MaxPool3x3S2Sse8, m.name = "max 3x3 s2 SSE 8", m;
    if (C % 4 == 0) return m.fixed = MaxPool3x3S2Sse4, m.name = "max 3x3 s2 SSE 4", m;
  }
  if (avx && C % 16 == 0) return m.windowed = PoolAvx16, m.name = "pool AVX 16", m;
  if (avx && C % 8 == 0) return m.windowed = PoolAvx8, m.name = "pool AVX 8", m;
  if (!avx && C % 8 == 0) return m.windowed = PoolSse8, m.name = "pool SSE 8", m;
  if (C % 4 == 0) return m.windowed = PoolSse4, m.name = "pool SSE 4", m;
  return m.windowed = PoolReference, m.name = "pool reference", m;
}

ActivationMember ChooseActivationMember(bool x86, uint32_t kind, bool half,
                                        const KernelFeatures& f) {
  if (x86 && (kind == kActSigmoid || kind == kActSwish)) {
    if (f.Avx2Fma()) return {ActivationAvx2Fma, "AVX2+FMA"};
    if (f.avx) return {ActivationAvx, "AVX"};
    return {ActivationSse, "SSE"};
  }
  if (!half && f.Avx2Fma()) return {ActivationAvx2Fma, "AVX2+FMA"};
  return {ActivationSse, "SSE"};
}

bool UseBatchnormAvx2(int C, bool half, const KernelFeatures& f) {
  return !half && f.Avx2Fma() && C % 8 == 0;
}
bool UseResizeAvx2(int C, bool half, const KernelFeatures& f) {
  return !half && f.Avx2Fma() && C % 8 == 0;
}
bool UseConcatAvx(bool half, const KernelFeatures& f) { return !half && f.avx; }
bool UseMmaAvx(int C, bool half, const KernelFeatures& f) { return !half && f.avx && C % 8 == 0; }

}  // namespace simd
}  // namespace TAVROMATTING
