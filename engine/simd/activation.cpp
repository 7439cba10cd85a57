#include "engine/simd/activation.h"

#include "engine/simd/kernel_choice.h"

namespace TAVROMATTING {
namespace simd {

namespace {
Activation* AttachedActivation(const Layer* producer) {
  if (!producer || producer->attached.empty()) return nullptr;
  auto* act = dynamic_cast<Activation*>(producer->attached[0]);
  return act && IsFusibleKind(act->kind) ? act : nullptr;
}
}  // namespace

bool HasFusibleActivation(const Layer* producer) { return AttachedActivation(producer) != nullptr; }

FusedAct FuseAttachedActivation(Layer* producer) {
  FusedAct f;
  Activation* act = AttachedActivation(producer);
  if (!act) return f;
  act->fused = true;
  f.kind = act->kind;
  f.upper = act->upper;
  f.slope = act->slope;
  return f;
}

FusedAct FuseAttachedRelu(Layer* producer) {
  FusedAct f;
  Activation* act = AttachedActivation(producer);
  if (!act) return f;
  act->fused = act->kind == kActRelu;
  if (!act->fused) return f;
  f.kind = kActRelu;
  return f;
}

FusedAct KeepAttachedActivation(Layer* producer) {
  if (Activation* act = AttachedActivation(producer)) act->fused = false;
  return FusedAct();
}

bool Activation::SkipFused() {
  if (fused && !inputs.empty() && !outputs.empty() && inputs[0] == outputs[0]) {
    fused = false;
    return true;
  }
  return false;
}

ActivationArgs Activation::Args(uint64_t count) {
  ActivationArgs a;
  a.kind = kind;
  a.upper = upper;
  a.slope = slope;
  a.slopes = slopes ? slopes->EnsureFloat() : nullptr;  // a vector: any layout reads alike
  const Tensor& in = *inputs[0];
  a.channels = in.c;
  a.pixels = in.c ? count / in.c : 0;
  return a;
}

bool Activation::Forward(core::RunEnv* env) {
  if (SkipFused()) return true;
  if (inputs.empty() || outputs.empty()) return false;
  const uint64_t count = inputs[0]->ElementCount();
  float* in = inputs[0]->data();
  float* out = outputs[0]->data();
  if (!in || !out) return false;
  const ActivationMember m =
      ChooseActivationMember(false, kind, env->halfPrecision, KernelFeatures::Current());
  m.kernel(Args(count), in, out, count);
  return true;
}

}  // namespace simd
}  // namespace TAVROMATTING
