// Dispatch tables of the portable forward passes other than convolution and
// depthwise (conv_table.cpp). Each table is read top to bottom and the first
// matching row wins; the AVX2+FMA (or AVX) column applies when the
// half-precision flag is clear and the features are present.
#include "engine/simd/kernel_choice.h"

#include "engine/core/tensor.h"
#include "cpu/cpu_info.h"
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

// Sets the features a member's code needs.
ConvMember Needs(uint32_t features, ConvMember m) {
  m.requires = features;
  return m;
}
constexpr uint32_t kTierAvx2 = kFeatureAvx | kFeatureAvx2 | kFeatureFma;

}  // namespace

ConvMember ChooseGroupedMember(int perGroup, bool half, const KernelFeatures& f) {
  if (!half && f.Avx2Fma()) {
    if (perGroup % 16 == 0)
      return Needs(kTierAvx2, {ConvDirectFma16, kBlock16, true, "grouped FMA 16"});
    if (perGroup % 8 == 0)
      return Needs(kTierAvx2, {ConvDirectFma8, kBlock8, true, "grouped FMA 8"});
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
    if (avx2 && C % 8 == 0)
      return Needs(kTierAvx2, {Deconv5x5S2Fma8, kPlanarBlock8, true, "5x5 stride-2 FMA 8"});
    if (C % 4 == 0) return {Deconv5x5S2Sse4, kPlanarBlock4, true, "5x5 stride-2 SSE 4"};
    if (avx2 && Cin % 8 == 0)
      return Needs(kTierAvx2, {Deconv5x5S2FmaByInput, kPlain, false, "5x5 stride-2 FMA by input"});
    if (Cin % 4 == 0) return {Deconv5x5S2SseByInput, kPlain, false, "5x5 stride-2 SSE by input"};
  }
  if (a.sw != 2 || a.sh != 2 || a.Wo % 4 != 0) return {DeconvReference, kPlain, false, "reference"};
  if (C == 2) {
    if (avx2 && Cin % 8 == 0)
      return Needs(kTierAvx2, {DeconvTwoOutputFma, kPlain, false, "two-output FMA"});
    if (Cin % 4 == 0) return {DeconvTwoOutputSse, kPlain, false, "two-output SSE"};
  }
  if (avx2 && C == 4 && a.kh == 2 && a.kw == 2 && a.padT == 0 && a.padL == 0)
    return Needs(kTierAvx2, {DeconvStride2PairsFma, kBlock4, true, "stride-2 FMA pairs", true});
  if (avx2 && C % 8 == 0)
    return Needs(kTierAvx2, {DeconvStride2Fma8, kBlock8, true, "stride-2 FMA 8", true});
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
