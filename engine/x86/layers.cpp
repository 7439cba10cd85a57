#include "engine/x86/layers.h"

#include <cstring>
#include <vector>

#include "engine/simd/kernel_choice.h"
#include "impl_x86/elementwise_kernels.h"

namespace TAVROMATTING {
namespace x86 {

const Tensor* Conv::NormalizedBytes(const ConvArgs& a) const {
  if (!inputNormalize || inputNormalize->inputs.empty() || inputNormalize->outputs.empty())
    return nullptr;
  const Tensor& bytes = *inputNormalize->inputs[0];
  const Tensor& floats = *inputNormalize->outputs[0];
  if (!bytes.byteData() || int(bytes.c) != a.Cin || floats.c != bytes.c ||
      int(bytes.h) != a.H || int(bytes.w) != a.W)
    return nullptr;
  return &bytes;
}

float* Conv::ConcatSlice(const ConvArgs& a, int* stride) const {
  if (!concatOutput || concatOutput->outputs.empty()) return nullptr;
  Tensor& joined = *concatOutput->outputs[0];
  if (int(joined.h) != a.Ho || int(joined.w) != a.Wo || sliceOffset + a.C > int(joined.c))
    return nullptr;
  float* p = joined.data();
  if (!p) return nullptr;
  *stride = int(joined.c);
  return p + sliceOffset;
}

bool Conv::Forward(core::RunEnv* env) {
  bool filled = false;
  if (!Run(env, &filled)) return false;
  if (filled || !concatOutput) return true;
  // The member wrote this layer's own output: copy it into the slice.
  const Tensor& own = *outputs[0];
  ConvArgs shape;
  shape.Ho = int(own.h);
  shape.Wo = int(own.w);
  shape.C = int(own.c);
  int stride = 0;
  float* slice = ConcatSlice(shape, &stride);
  const float* src = outputs[0]->data();
  if (!slice || !src) return false;
  const size_t pixels = size_t(own.h) * own.w;
  for (size_t p = 0; p < pixels; ++p)
    std::memcpy(slice + p * stride, src + p * own.c, sizeof(float) * own.c);
  return true;
}

ConvMember Conv::Member(const ConvArgs& a) const {
  if (int(weightC) != a.Cin || int(weightN) != a.C) return {};
  const Tensor& in = *inputs[0];
  const bool hasFloat = in.floatData() != nullptr || in.byteData() == nullptr;
  return ChooseConvMember(a, hasFloat, KernelFeatures::Current());
}

// The x86 member's layout; the portable member's as well when the x86 path
// declines or its layout could not be made (the forward pass then falls
// back), and a failed x86 pack is tried again on the next call.
bool Conv::PackWeights(core::RunEnv* env) {
  ConvArgs a;
  const ConvMember m = simd::FillConvShape(*this, &a) ? Member(a) : ConvMember();
  if (m.kernel && weight->Pack({m.code})) return true;
  return simd::Conv::PackWeights(env) && !m.kernel;
}

// The x86 path ignores the half-precision flag; when it declines (or the
// layer is malformed) the portable forward pass decides.
bool Conv::Run(core::RunEnv* env, bool* filled) {
  ConvArgs a;
  ConvMember m;
  if (MakeArgs(&a)) m = Member(a);
  const Tensor* bytes = m.kernel && m.readsBytes ? NormalizedBytes(a) : nullptr;
  // Without a member that reads the bytes, a folded normalisation writes
  // this layer's input first.
  if (inputNormalize && !bytes && !inputNormalize->Forward(env)) return false;
  if (!m.kernel) return simd::Conv::Forward(env);
  std::vector<float> converted;
  a.weight = weight->Packed({m.code});
  if (bytes) {
    a.inBytes = bytes->byteData();
    a.inMean = inputNormalize->mean;
    a.inScale = inputNormalize->scale;
  } else {
    a.in = InputFloats(&converted);
  }
  if ((!a.in && !a.inBytes) || !a.weight) {
    if (bytes && !inputNormalize->Forward(env)) return false;
    return simd::Conv::Forward(env);
  }
  a.act = FuseAttachedRelu(this);
  int stride = 0;
  float* slice = m.strided ? ConcatSlice(a, &stride) : nullptr;
  if (slice) {
    a.out = slice;
    a.outStride = stride;
    *filled = true;
  }
  bool joined;
  if (RunOnConcatInputs(env, m, a, &joined)) return true;
  if (!joined) return false;
  m.kernel(a);
  return true;
}

// The members compute one filter per channel only ("out_channel ==
// in_channel"); anything else is left to the portable pass.
ConvMember DepthwiseConv::Member(const ConvArgs& a) const {
  if (group != weightN) return {};
  const ConvMember m = ChooseDepthwiseMember(a, KernelFeatures::Current());
  if (a.Cin != a.C || weightC != 1) return {};
  return m;
}

// As Conv::PackWeights: the portable member's layout too when needed.
bool DepthwiseConv::PackWeights(core::RunEnv* env) {
  ConvArgs a;
  const ConvMember m = simd::FillConvShape(*this, &a) ? Member(a) : ConvMember();
  if (m.kernel && weight->Pack({m.code})) return true;
  return simd::DepthwiseConv::PackWeights(env) && !m.kernel;
}

bool DepthwiseConv::Forward(core::RunEnv* env) {
  ConvArgs a;
  if (group != weightN || !simd::FillConvArgs(*this, &a))
    return simd::DepthwiseConv::Forward(env);
  const ConvMember m = Member(a);
  if (!m.kernel) return simd::DepthwiseConv::Forward(env);
  a.in = inputs[0]->data();
  a.weight = weight->Packed({m.code});
  if (!a.in || !a.weight) return simd::DepthwiseConv::Forward(env);
  a.act = FuseAttachedRelu(this);
  m.kernel(a);
  return true;
}

bool Activation::Forward(core::RunEnv* env) {
  if (kind != kActSigmoid && kind != kActSwish) {
    if (!simd::Activation::Forward(env)) return false;
    return !maskOutput || maskOutput->Forward(env);
  }
  if (SkipFused()) return !maskOutput || maskOutput->Forward(env);
  if (inputs.empty() || outputs.empty()) return false;
  const uint64_t count = inputs[0]->ElementCount();
  float* in = inputs[0]->data();
  float* out = outputs[0]->data();
  if (!in || !out) return false;
  const simd::ActivationMember m =
      simd::ChooseActivationMember(true, kind, env->halfPrecision, KernelFeatures::Current());
  const ActivationArgs args = Args(count);
  Tensor* mask = maskOutput && !maskOutput->outputs.empty() ? maskOutput->outputs[0] : nullptr;
  uint8_t* bytes = mask ? mask->byteData() : nullptr;
  if (!maskOutput || env->halfPrecision || !bytes || outputs[0]->c != 1 ||
      uint64_t(mask->h) * mask->w != count) {
    m.kernel(args, in, out, count);
    return !maskOutput || maskOutput->Forward(env);
  }
  // The floats of one chunk stay in the first-level cache between the two
  // steps; each value goes through the same member and the same conversion
  // as in the two layers.
  constexpr uint64_t kChunk = 2048;
  alignas(32) float chunk[kChunk];
  for (uint64_t i = 0; i < count; i += kChunk) {
    const uint64_t n = count - i < kChunk ? count - i : kChunk;
    m.kernel(args, in + i, chunk, n);
    MaskToBytes(chunk, n, bytes + i);
  }
  return true;
}

bool Concat::Forward(core::RunEnv* env) {
  if (inputs.size() == 3 && inputs[0]->c == 8 && inputs[1]->c == 2 && inputs[2]->c == 2 &&
      !outputs.empty() && inputs[0]->h == inputs[1]->h && inputs[0]->h == inputs[2]->h &&
      inputs[0]->w == inputs[1]->w && inputs[0]->w == inputs[2]->w &&
      outputs[0]->h == inputs[0]->h && outputs[0]->w == inputs[0]->w && outputs[0]->c == 12) {
    const float* a = inputs[0]->data();
    const float* b = inputs[1]->data();
    const float* c = inputs[2]->data();
    float* out = outputs[0]->data();
    if (!a || !b || !c || !out) return false;
    const Tensor& t = *inputs[0];
    Concat822(a, b, c, out, uint64_t(t.n ? t.n : 1) * t.h * t.w);
    return true;
  }
  return simd::Concat::Forward(env);
}

}  // namespace x86
}  // namespace TAVROMATTING
