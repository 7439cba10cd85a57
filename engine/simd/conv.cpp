// Forward passes of the convolution family: fill the kernel arguments, ask
// the dispatch tables (engine/simd/conv_table.cpp, kernel_choice.cpp) for a
// member and run it on the weights packed for it when the layer was
// prepared (PackWeights asks the same tables).
#include "engine/simd/conv.h"

#include <vector>

#include "engine/simd/activation.h"
#include "engine/simd/kernel_choice.h"
#include "engine/simd/simple_layers.h"
#include "impl_x86/conv_kernels.h"

namespace TAVROMATTING {
namespace simd {

bool FillConvShape(const core::Conv& l, ConvArgs* a) {
  if (l.inputs.empty() || l.outputs.empty() || !l.weight) return false;
  const Tensor& in = *l.inputs[0];
  const Tensor& out = *l.outputs[0];
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
  return a->Ho > 0 && a->Wo > 0;
}

bool FillConvArgs(core::Conv& l, ConvArgs* a) {
  if (!FillConvShape(l, a)) return false;
  // A bias shorter than the output channels (a mismatched record) reads as
  // zeros. A vector reads the same in the plain and the planar source layout:
  // its buffer is used as it is.
  a->bias = (l.bias && l.bias->ElementCount() >= uint64_t(a->C)) ? l.bias->EnsureFloat() : nullptr;
  a->out = l.outputs[0]->data();
  return a->out != nullptr;
}

bool Conv::MakeArgs(ConvArgs* a) { return FillConvArgs(*this, a); }

const float* Conv::InputFloats(std::vector<float>* converted) {
  Tensor& in = *inputs[0];
  // An 8-bit input (no float data) is read as (q - zero point) * scale.
  if (!in.floatData() && in.byteData()) {
    const uint64_t n = in.ElementCount();
    converted->resize(n);
    for (uint64_t i = 0; i < n; ++i)
      (*converted)[i] = (float(in.byteData()[i]) - in.mean[0]) * in.scale[0];
    return converted->data();
  }
  return in.data();
}

namespace {

// The members built on the 1x1 body, which can start from the output's
// values and step over a slice of the packed filters.
bool OneByOneMember(ConvKernel k) {
  return k == Conv1x1Sse4 || k == Conv1x1Sse8 || k == Conv1x1Fma8 || k == Conv1x1Fma16 ||
         k == Conv1x1X86Block4 || k == Conv1x1X86Block24 || k == Conv1x1X86Block32;
}

}  // namespace

bool RunOnChannelSlices(const ConvMember& m, const ConvArgs& a, const ChannelSlice* slices, int n) {
  if (!OneByOneMember(m.kernel) || n < 1) return false;
  const int block = int(kLayoutFormats[m.code].block);
  if (block <= 0 || (a.C > block && a.C % block != 0)) return false;
  int total = 0;
  for (int i = 0; i < n; ++i) total += slices[i].c;
  if (total != a.Cin) return false;
  int k0 = 0;
  for (int i = 0; i < n; ++i) {
    ConvArgs s = a;
    s.in = slices[i].data;
    s.Cin = s.inStride = slices[i].c;
    s.weight = a.weight + size_t(k0) * block;
    s.weightBlockStride = size_t(a.Cin) * block;
    s.accumulate = i > 0;
    if (i + 1 < n) s.act = FusedAct();
    m.kernel(s);
    k0 += slices[i].c;
  }
  return true;
}

bool Conv::RunOnConcatInputs(core::RunEnv* env, const ConvMember& m, const ConvArgs& a,
                             bool* joined) {
  *joined = true;
  if (!concatInput) return false;
  std::vector<ChannelSlice> slices;
  bool usable = !env->halfPrecision;
  for (Tensor* t : concatInput->inputs) {
    const float* p = t->data();
    usable = usable && p && int(t->h) * int(t->w) == a.H * a.W;
    slices.push_back({p, int(t->c)});
  }
  if (usable && RunOnChannelSlices(m, a, slices.data(), int(slices.size()))) return true;
  *joined = concatInput->Forward(env);
  return false;
}

// A layer whose shapes do not match its weight packs nothing: its forward
// pass fails as it always has.
bool Conv::PackWeights(core::RunEnv* env) {
  ConvArgs a;
  if (!FillConvShape(*this, &a) || int(weightC) != a.Cin || int(weightN) != a.C) return true;
  const ConvMember m = ChooseConvMember(a, env->halfPrecision, KernelFeatures::Current());
  return weight->Pack({m.code}) != nullptr;
}

bool Conv::Forward(core::RunEnv* env) {
  ConvArgs a;
  if (!MakeArgs(&a)) return false;
  if (int(weightC) != a.Cin || int(weightN) != a.C) return false;
  std::vector<float> converted;
  a.in = InputFloats(&converted);
  if (!a.in) return false;

  const ConvMember m = ChooseConvMember(a, env->halfPrecision, KernelFeatures::Current());
  a.weight = weight->Packed({m.code});
  if (!a.weight) return false;
  a.act = m.fuses ? FuseAttachedActivation(this) : KeepAttachedActivation(this);
  bool joined;
  if (RunOnConcatInputs(env, m, a, &joined)) return true;
  if (!joined) return false;
  m.kernel(a);
  return true;
}

// The member the forward pass below runs; null kernel when it fails first.
ConvMember DepthwiseConv::Member(const ConvArgs& a, bool half) const {
  const int C = a.C, Cin = a.Cin, G = int(group);
  if (G <= 0 || C % G || Cin % G) return {};
  if (G != C) return ChooseGroupedMember(C / G, half, KernelFeatures::Current());
  if (Cin != C || weightC != 1) return {};
  return ChooseDepthwiseMember(a, half, KernelFeatures::Current());
}

bool DepthwiseConv::PackWeights(core::RunEnv* env) {
  ConvArgs a;
  if (!FillConvShape(*this, &a)) return true;
  const ConvMember m = Member(a, env->halfPrecision);
  return !m.kernel || weight->Pack({m.code}) != nullptr;
}

bool DepthwiseConv::Forward(core::RunEnv* env) {
  ConvArgs a;
  if (!FillConvArgs(*this, &a)) return false;
  a.in = inputs[0]->data();
  if (!a.in) return false;
  const ConvMember m = Member(a, env->halfPrecision);
  if (!m.kernel) return false;
  a.weight = weight->Packed({m.code});
  if (!a.weight) return false;
  a.act = m.fuses ? FuseAttachedActivation(this) : KeepAttachedActivation(this);
  const int C = a.C, Cin = a.Cin, G = int(group);
  if (G == C) {
    m.kernel(a);
    return true;
  }
  // Grouped: one pass per group over its slice of channels and filters.
  const int perOut = C / G, perIn = Cin / G;
  const int block = int(kLayoutFormats[m.code].block);
  const size_t blockFloats = size_t(a.kh) * a.kw * perIn * block;
  for (int g = 0; g < G; ++g) {
    ConvArgs ga = a;
    ga.in = a.in + g * perIn;
    ga.inStride = Cin;
    ga.Cin = perIn;
    ga.out = a.out + g * perOut;
    ga.outStride = C;
    ga.C = perOut;
    ga.bias = a.bias ? a.bias + g * perOut : nullptr;
    ga.weight = a.weight + size_t(g) * (perOut / block) * blockFloats;
    m.kernel(ga);
  }
  return true;
}

bool DeConv::PackWeights(core::RunEnv* env) {
  ConvArgs a;
  if (!FillConvShape(*this, &a) || int(weightN) != a.Cin || int(weightC) != a.C) return true;
  const ConvMember m = ChooseDeconvMember(a, env->halfPrecision, KernelFeatures::Current());
  return weight->Pack({m.code, /*swapNC=*/true}) != nullptr;
}

bool DeConv::Forward(core::RunEnv* env) {
  ConvArgs a;
  if (!FillConvArgs(*this, &a)) return false;
  a.in = inputs[0]->data();
  if (!a.in) return false;
  if (int(weightN) != a.Cin || int(weightC) != a.C) return false;
  const ConvMember m = ChooseDeconvMember(a, env->halfPrecision, KernelFeatures::Current());
  a.weight = weight->Packed({m.code, /*swapNC=*/true});
  if (!a.weight) return false;
  Batchnorm* bn = outputBatchnorm;
  if (bn && !bn->Coefficients(a.C)) return false;
  if (bn && !m.scales) {
    // The member cannot apply it: normalise in place afterwards, and let the
    // activation run on its own after that.
    KeepAttachedActivation(this);
    m.kernel(a);
    bn->Apply(env, a.out, a.out, uint64_t(a.Ho) * a.Wo, a.C);
    return true;
  }
  if (bn) {
    a.outScale = bn->outScale();
    a.outShift = bn->outShift();
  }
  a.act = m.fuses ? FuseAttachedActivation(this) : KeepAttachedActivation(this);
  m.kernel(a);
  return true;
}

}  // namespace simd
}  // namespace TAVROMATTING
