// Portable forward pass of the activation layers, and the fusion helper the
// producing layers use.
#pragma once

#include "engine/core/activation.h"
#include "engine/core/run_env.h"
#include "impl_x86/activation.h"

namespace TAVROMATTING {
namespace simd {

class Activation : public core::Activation {
 public:
  Activation(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights)
      : core::Activation(rec, blobs, weights) {}
  bool Forward(core::RunEnv* env) override;

 protected:
  // The fused-flag test shared by every activation forward: true when a
  // producer already applied this activation in place (the flag is cleared).
  bool SkipFused();
  ActivationArgs Args(uint64_t count);
};

// The activation a producer may apply itself: the first attached layer when
// it is a simd::Activation whose kind is fusible (kActRelu, kActClippedRelu, kActLeakyRelu). Marks that layer
// fused and returns its parameters; kind 0 when there is none.
FusedAct FuseAttachedActivation(Layer* producer);
// The same for producers that fuse a Relu (kActRelu) only; any other attached
// activation is left to run on its own.
FusedAct FuseAttachedRelu(Layer* producer);
// For a member that does not fuse: the attached activation runs on its own
// this time, whatever an earlier run's member decided. Returns kind 0.
FusedAct KeepAttachedActivation(Layer* producer);
// Without marking anything: would FuseAttachedActivation find one?
bool HasFusibleActivation(const Layer* producer);

}  // namespace simd
}  // namespace TAVROMATTING
