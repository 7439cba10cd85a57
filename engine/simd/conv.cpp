// Dispatch tables of the convolution family. Each table is read top to
// bottom, the first matching row wins. The AVX2+FMA columns are reserved:
// their members are not built yet, so those rows use the SSE column.
#include "engine/simd/conv.h"

#include <vector>

#include "engine/simd/activation.h"
#include "engine/x86/cpu_info.h"
#include "impl_x86/conv_kernels.h"

namespace TAVROMATTING {
namespace simd {

namespace {

using Kernel = void (*)(const ConvArgs&);

struct Member {
  Kernel kernel = nullptr;
  uint32_t code = 0;  // packed weight layout
  bool fuses = false; // applies an attached activation of kind 1, 2, 6
};

bool Avx2Column(const core::RunEnv* env) {
  const CpuInfo& cpu = CpuInfo::Get();
  return !env->halfPrecision && cpu.HasAvx2() && cpu.HasFma();
}

// Convolution, SSE column.
Member ConvSseMember(const ConvArgs& a) {
  const bool dil1 = a.dw <= 1 && a.dh <= 1;
  const int C = a.C;
  const bool firstLayerShape = a.kh == 3 && a.kw == 3 && a.sw == 2 && a.sh == 2 && a.padL == 1;
  if (dil1 && firstLayerShape && a.Cin == 3) return {ConvFirstLayerSse, kBlock4, true};
  if (dil1 && firstLayerShape && a.Cin == 1) return {ConvFirstLayerSse, kBlock4, true};
  if (dil1 && C == 1) return {ConvSingleOutput, kPlain, false};
  if (dil1 && a.kh == 1 && a.kw == 1 && a.sw == 1 && a.sh == 1) {
    if (C >= 8) return {Conv1x1Sse8, kBlock8, true};
    if (C >= 4) return {Conv1x1Sse4, kBlock4, true};
  }
  if (dil1 && C % 8 == 0) return {ConvDirectSse8, kBlock8, true};
  if (dil1) return {ConvDirectSse4, kBlock4, true};
  // dilated
  if (C % 8 == 0) return {ConvDirectSse8, kBlock8, true};
  if (C % 4 == 0) return {ConvDirectSse4, kBlock4, true};
  return {ConvReference, kPlain, false};
}

// Depthwise (groups == channels), SSE column.
Member DepthwiseSseMember(const ConvArgs& a) {
  const int C = a.C;
  if (a.kh == 3 && a.kw == 3 && a.sw == 1 && a.sh == 1) {
    if (C % 8 == 0) return {Depthwise3x3S1Sse8, kBlock8, true};
    if (C % 4 == 0) return {Depthwise3x3S1Sse4, kBlock4, true};
    return {DepthwiseReference, kWholeBlock, false};
  }
  if (C % 8 == 0) return {DepthwiseSse8, kBlock8, true};
  if (C % 4 == 0) return {DepthwiseSse4, kBlock4, true};
  return {DepthwiseReference, kWholeBlock, false};
}

// Grouped convolution (groups < channels), SSE column, by channels per group.
Member GroupedSseMember(int perGroup) {
  if (perGroup % 8 == 0) return {ConvDirectSse8, kBlock8, true};
  if (perGroup % 4 == 0) return {ConvDirectSse4, kBlock4, true};
  return {};  // no member
}

// Transposed convolution, SSE column. The 5x5 stride-2 members are not
// built; the reference member computes the same values for those rows.
Member DeconvSseMember(const ConvArgs& a) {
  if (a.kh == 5 && a.kw == 5 && a.sw == 2 && a.sh == 2 && a.padL == 1 && a.padR == 2)
    return {DeconvReference, kPlain, false};
  if (a.sw != 2 || a.sh != 2 || a.Wo % 4 != 0) return {DeconvReference, kPlain, false};
  if (a.C == 2) {
    if (a.Cin % 4 == 0) return {DeconvTwoOutputSse, kPlain, false};
    return {DeconvStride2Sse4, kBlock4, false};
  }
  return {DeconvStride2Sse4, kBlock4, false};
}

}  // namespace

bool FillConvArgs(core::Conv& l, ConvArgs* a) {
  if (l.inputs.empty() || l.outputs.empty() || !l.weight) return false;
  Tensor& in = *l.inputs[0];
  Tensor& out = *l.outputs[0];
  a->H = int(in.h);
  a->W = int(in.w);
  a->Cin = int(in.c);
  a->inStride = a->Cin;
  a->Ho = int(out.h);
  a->Wo = int(out.w);
  a->C = int(out.c);
  a->outStride = a->C;
  a->kh = int(l.kernelH);
  a->kw = int(l.kernelW);
  a->padL = int(l.padLeft);
  a->padR = int(l.padRight);
  a->padT = int(l.padTop);
  a->padB = int(l.padBottom);
  a->sh = int(l.strideY);
  a->sw = int(l.strideX);
  a->dh = int(l.dilationY);
  a->dw = int(l.dilationX);
  // A bias shorter than the output channels (a mismatched record) reads as zeros.
  a->bias = (l.bias && l.bias->ElementCount() >= uint64_t(a->C)) ? l.bias->data() : nullptr;
  a->out = out.data();
  return a->out != nullptr && a->Ho > 0 && a->Wo > 0;
}

bool Conv::MakeArgs(ConvArgs* a) { return FillConvArgs(*this, a); }

bool Conv::Forward(core::RunEnv* env) {
  ConvArgs a;
  if (!MakeArgs(&a)) return false;
  if (int(weightC) != a.Cin || int(weightN) != a.C) return false;
  Tensor& in = *inputs[0];
  // An 8-bit input (no float data) is read as (q - zero point) * scale.
  std::vector<float> converted;
  if (!in.floatData() && in.byteData()) {
    const uint64_t n = in.ElementCount();
    converted.resize(n);
    for (uint64_t i = 0; i < n; ++i)
      converted[i] = (float(in.byteData()[i]) - in.mean[0]) * in.scale[0];
    a.in = converted.data();
  } else {
    a.in = in.data();
  }
  if (!a.in) return false;

  Member m;
  if (!env->halfPrecision && a.C == 1 && a.Cin == 2) {
    m = {ConvSingleOutput, kPlain, false};
  } else {
    if (Avx2Column(env)) {
      // AVX2+FMA column (first-layer FMA, 1x1 FMA 16/8, direct and dilated
      // FMA 16/8, single-output FMA) goes here; until then the SSE column.
    }
    m = ConvSseMember(a);
  }
  a.weight = weight->data(m.code);
  if (!a.weight) return false;
  if (m.fuses) a.act = FuseAttachedActivation(this);
  m.kernel(a);
  return true;
}

bool DepthwiseConv::Forward(core::RunEnv* env) {
  ConvArgs a;
  if (!FillConvArgs(*this, &a)) return false;
  a.in = inputs[0]->data();
  if (!a.in) return false;
  const int C = a.C, Cin = a.Cin, G = int(group);
  if (G <= 0 || C % G || Cin % G) return false;
  if (Avx2Column(env)) {
    // AVX2+FMA column (3x3 stride-1 FMA 16/8, general FMA 16/8, grouped FMA
    // 16/8) goes here; until then the SSE column.
  }
  if (G == C) {
    if (Cin != C || weightC != 1) return false;
    Member m = DepthwiseSseMember(a);
    a.weight = weight->data(m.code);
    if (!a.weight) return false;
    if (m.fuses) a.act = FuseAttachedActivation(this);
    m.kernel(a);
    return true;
  }
  const int perOut = C / G, perIn = Cin / G;
  Member m = GroupedSseMember(perOut);
  if (!m.kernel) return false;
  const float* packed = weight->data(m.code);
  if (!packed) return false;
  const int block = m.code == kBlock8 ? 8 : 4;
  const size_t blockFloats = size_t(a.kh) * a.kw * perIn * block;
  if (m.fuses) a.act = FuseAttachedActivation(this);
  const float* in = a.in;
  float* out = a.out;
  const float* bias = a.bias;
  for (int g = 0; g < G; ++g) {
    ConvArgs ga = a;
    ga.in = in + g * perIn;
    ga.inStride = Cin;
    ga.Cin = perIn;
    ga.out = out + g * perOut;
    ga.outStride = C;
    ga.C = perOut;
    ga.bias = bias ? bias + g * perOut : nullptr;
    ga.weight = packed + size_t(g) * (perOut / block) * blockFloats;
    m.kernel(ga);
  }
  return true;
}

bool DeConv::Forward(core::RunEnv* env) {
  ConvArgs a;
  if (!FillConvArgs(*this, &a)) return false;
  a.in = inputs[0]->data();
  if (!a.in) return false;
  if (int(weightN) != a.Cin || int(weightC) != a.C) return false;
  if (Avx2Column(env)) {
    // AVX2+FMA column (5x5 stride-2 FMA, two-output FMA, stride-2 FMA 8)
    // goes here; until then the SSE column.
  }
  Member m = DeconvSseMember(a);
  a.weight = weight->data(m.code, /*swapNC=*/true);
  if (!a.weight) return false;
  if (m.fuses) a.act = FuseAttachedActivation(this);
  m.kernel(a);
  return true;
}

}  // namespace simd
}  // namespace TAVROMATTING
