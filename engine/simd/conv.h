// Portable forward passes of the convolution family: the dispatchers choose
// a kernel member from the layer's shape and the processor's features.
#pragma once

#include <vector>

#include "engine/core/conv.h"
#include "engine/core/run_env.h"
#include "engine/simd/kernel_choice.h"
#include "impl_x86/conv_args.h"

namespace TAVROMATTING {
namespace simd {

// One input of a layer that reads its input in channel slices: `c` channels
// per pixel, pixels `c` floats apart.
struct ChannelSlice {
  const float* data;
  int c;
};

// Runs member m of a 1x1 convolution over its input given as consecutive
// channel slices (their channel counts summing to a.Cin), one pass per
// slice, each adding its share of the filters onto the output; the fused
// activation is applied by the last pass. The result is the same as running
// m on the joined input. False (nothing run) when m is not a member of the
// 1x1 family or its channel blocks would overlap (C above the block and not
// a multiple of it).
bool RunOnChannelSlices(const ConvMember& m, const ConvArgs& a, const ChannelSlice* slices, int n);

class Conv : public core::Conv {
 public:
  Conv(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights)
      : core::Conv(rec, blobs, weights) {}
  bool PackWeights(core::RunEnv* env) override;
  bool Forward(core::RunEnv* env) override;

  // Set by the graph optimisation when the concat that produces this 1x1
  // layer's input is read by nothing else: the concat is skipped and this
  // layer reads the concat's inputs in place.
  Layer* concatInput = nullptr;

 protected:
  // With a folded concat: true when m ran over the concat's inputs in place.
  // Otherwise the concat first joins its inputs into this layer's input
  // (*joined false when that failed) and the caller runs m as usual.
  bool RunOnConcatInputs(core::RunEnv* env, const ConvMember& m, const ConvArgs& a, bool* joined);
  // Input, output, window and bias of this layer for a kernel (weights and
  // activation are filled by the dispatcher). False when a buffer is missing.
  bool MakeArgs(ConvArgs* a);
  // The input as floats: the float buffer, or an 8-bit input converted into
  // `converted` as (q - zero point) * scale. Null when unavailable.
  const float* InputFloats(std::vector<float>* converted);
};

class DepthwiseConv : public core::DepthwiseConv {
 public:
  DepthwiseConv(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights)
      : core::DepthwiseConv(rec, blobs, weights) {}
  bool PackWeights(core::RunEnv* env) override;
  bool Forward(core::RunEnv* env) override;

 private:
  ConvMember Member(const ConvArgs& a, bool halfPrecision) const;
};

class Batchnorm;

class DeConv : public core::DeConv {
 public:
  DeConv(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights)
      : core::DeConv(rec, blobs, weights) {}
  bool PackWeights(core::RunEnv* env) override;
  bool Forward(core::RunEnv* env) override;

  // Set by the graph optimisation when a batch normalisation reads this
  // layer's output and nothing else does: the normalisation is skipped and
  // applied here, in the member's store when it can (ConvMember::scales),
  // otherwise in place after it; an activation attached to the normalisation
  // moves to this layer. That saves writing the output once more and reading
  // it back (twice with the activation).
  Batchnorm* outputBatchnorm = nullptr;
};

// Fills the shape fields shared by the family (no buffer is touched).
bool FillConvShape(const core::Conv& layer, ConvArgs* a);
// The shape fields, the bias and the output buffer (allocated when absent).
bool FillConvArgs(core::Conv& layer, ConvArgs* a);

}  // namespace simd
}  // namespace TAVROMATTING
