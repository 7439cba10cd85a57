#include "engine/simd/simple_layers.h"

#include "engine/simd/activation.h"
#include "engine/simd/kernel_choice.h"
#include "impl_x86/elementwise_kernels.h"

namespace TAVROMATTING {
namespace simd {

namespace {
uint64_t Pixels(const Tensor& t) { return uint64_t(t.n ? t.n : 1) * t.h * t.w; }
}  // namespace

bool Batchnorm::Coefficients(int C) {
  if (!scale || !bias || !mean || !variance) return false;
  if (scale->ElementCount() < uint64_t(C) || bias->ElementCount() < uint64_t(C) ||
      mean->ElementCount() < uint64_t(C) || variance->ElementCount() < uint64_t(C))
    return false;
  // Per-channel vectors read the same in the plain and the planar source
  // layout: their buffers are used as they are.
  const float *s = scale->EnsureFloat(), *b = bias->EnsureFloat(), *m = mean->EnsureFloat(),
              *v = variance->EnsureFloat();
  if (!s || !b || !m || !v) return false;
  a_.resize(C);
  b_.resize(C);
  BatchnormCoefficients(s, b, m, v, epsilon, C, a_.data(), b_.data());
  return true;
}

void Batchnorm::Apply(core::RunEnv* env, const float* in, float* out, uint64_t pixels,
                      int C) const {
  ChooseBatchnormMember(C, env->halfPrecision, KernelFeatures::Current())
      .kernel(in, out, pixels, C, a_.data(), b_.data());
}

bool Batchnorm::Forward(core::RunEnv* env) {
  if (inputs.empty() || outputs.empty()) return false;
  Tensor& inT = *inputs[0];
  const int C = int(inT.c);
  if (!Coefficients(C)) return false;
  const float* in = inT.data();
  float* out = outputs[0]->data();
  if (!in || !out) return false;
  Apply(env, in, out, Pixels(inT), C);
  return true;
}

bool Concat::Forward(core::RunEnv* env) {
  if (inputs.empty() || outputs.empty()) return false;
  std::vector<const float*> ins;
  std::vector<int> cs;
  const uint64_t pixels = Pixels(*inputs[0]);
  uint64_t channels = 0;
  for (Tensor* t : inputs) channels += t->c;
  // Inputs of different sizes (an input size the network cannot take) or an
  // output of the wrong size cannot be joined.
  for (Tensor* t : inputs)
    if (Pixels(*t) != pixels) return false;
  if (Pixels(*outputs[0]) != pixels || outputs[0]->c != channels) return false;
  for (Tensor* t : inputs) {
    const float* p = t->data();
    if (!p) return false;
    ins.push_back(p);
    cs.push_back(int(t->c));
  }
  float* out = outputs[0]->data();
  if (!out) return false;
  ChooseConcatMember(env->halfPrecision, KernelFeatures::Current())
      .kernel(ins.data(), cs.data(), int(ins.size()), out, pixels);
  return true;
}

bool Normalize::Forward(core::RunEnv* env) {
  if (inputs.empty() || outputs.empty()) return false;
  Tensor& inT = *inputs[0];
  if (!inT.byteData()) return false;
  Tensor& outT = *outputs[0];
  float* out = outT.data();
  if (!out) return false;
  NormalizeBytes(inT.byteData(), Pixels(inT), int(inT.c), int(outT.c), mean, scale, fourth, out);
  return true;
}

bool Resize::Forward(core::RunEnv* env) {
  if (inputs.empty() || outputs.empty()) return false;
  if (mode != 0 && mode != 1) return false;
  Tensor& inT = *inputs[0];
  Tensor& outT = *outputs[0];
  ResizeArgs a;
  a.in = inT.data();
  a.out = outT.data();
  if (!a.in || !a.out) return false;
  a.H = int(inT.h);
  a.W = int(inT.w);
  a.C = int(inT.c);
  a.Ho = int(outT.h);
  a.Wo = int(outT.w);
  a.alignCorners = alignCorners;
  if (a.H <= 0 || a.W <= 0) return false;
  if (mode == 0) {
    ResizeNearest(a);
    return true;
  }
  ChooseResizeMember(a.C, env->halfPrecision, KernelFeatures::Current()).kernel(a);
  return true;
}

bool ShuffleSplit2::Forward(core::RunEnv* env) {
  if (inputs.size() < 2 || outputs.empty()) return false;
  Tensor& A = *inputs[0];
  Tensor& B = *inputs[1];
  if (A.c != B.c || Pixels(A) != Pixels(B)) return false;
  const float* a = A.data();
  const float* b = B.data();
  float* o0 = outputs[0]->data();
  float* o1 = outputs.size() >= 2 ? outputs[1]->data() : nullptr;
  if (!a || !b || !o0 || (outputs.size() >= 2 && !o1)) return false;
  TAVROMATTING::ShuffleSplit2(a, b, Pixels(A), int(A.c), int(groups), o0, o1);
  return true;
}

bool Softmax::Forward(core::RunEnv* env) {
  if (inputs.empty() || outputs.empty()) return false;
  const float* in = inputs[0]->data();
  float* out = outputs[0]->data();
  if (!in || !out || inputs[0]->c == 0) return false;
  TAVROMATTING::Softmax(in, out, Pixels(*inputs[0]), int(inputs[0]->c));
  return true;
}

MMA::MMA(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights) {
  LinkRecord(rec, blobs, 3);
}

void MMA::Setup() {
  if (inputs.size() < 2 || outputs.empty()) return;
  const Tensor& a = *inputs[0];
  const Tensor& b = *inputs[1];
  outputs[0]->SetShape(a.n, a.h > b.h ? a.h : b.h, a.w > b.w ? a.w : b.w, a.c > b.c ? a.c : b.c,
                       a.format);
}

bool MMA::Forward(core::RunEnv* env) {
  if (inputs.size() < 3 || outputs.empty()) return false;
  Tensor& x = *inputs[0];
  // The input that is 1 x 1 is the per-channel vector; the other the map.
  Tensor* vec = inputs[1];
  Tensor* map = inputs[2];
  if (!(inputs[2]->h == 1 && inputs[2]->w == 1)) {
    vec = inputs[1];
    map = inputs[2];
  } else {
    vec = inputs[2];
    map = inputs[1];
  }
  const int C = int(x.c);
  const uint64_t pixels = Pixels(x);
  if (vec->ElementCount() < uint64_t(C) || map->ElementCount() < pixels) return false;
  const float* xp = x.data();
  const float* v = vec->data();
  const float* s = map->data();
  float* out = outputs[0]->data();
  if (!xp || !v || !s || !out) return false;
  const FusedAct act = FuseAttachedActivation(this);
  ChooseMmaMember(C, env->halfPrecision, KernelFeatures::Current())
      .kernel(xp, v, s, out, pixels, C, act);
  return true;
}

}  // namespace simd
}  // namespace TAVROMATTING
