// x86 tier of the heavy layers: each first offers the work to its x86
// AVX+FMA kernels and falls back to the portable forward pass.
#pragma once

#include "engine/simd/activation.h"
#include "engine/simd/conv.h"
#include "engine/simd/simple_layers.h"

namespace TAVROMATTING {
namespace x86 {

class Conv : public simd::Conv {
 public:
  Conv(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights)
      : simd::Conv(rec, blobs, weights) {}
  bool PackWeights(core::RunEnv* env) override;
  bool Forward(core::RunEnv* env) override;

  // Set by the graph optimisation when this layer alone reads the output of
  // an input normalisation: the normalisation is skipped, and a member that
  // reads bytes (ConvMember::readsBytes) normalises the network's input while
  // packing it; with any other member the normalisation runs first, as
  // before. That saves writing the normalised floats and reading them back.
  simd::Normalize* inputNormalize = nullptr;
  // Set by the graph optimisation when this layer's output is read only by a
  // concat that reads only convolutions: the concat is skipped and this layer
  // fills channels [sliceOffset, sliceOffset + C) of the concat's output, a
  // member that honours the output stride (ConvMember::strided) directly,
  // any other one through this layer's own output and a copy. (Directly
  // filled, the layer's own output blob is left as it was.)
  Layer* concatOutput = nullptr;
  int sliceOffset = 0;

 private:
  // The bytes the folded normalisation reads, when a member can take them
  // in its place for an input of the shape `a` describes; null otherwise.
  const Tensor* NormalizedBytes(const ConvArgs& a) const;
  // This layer's slice of the folded concat's output for an output of the
  // shape `a` describes (pixels Cconcat floats apart); null when absent or
  // mismatched.
  float* ConcatSlice(const ConvArgs& a, int* stride) const;
  // The x86 member for a layer of the shape `a` describes; null kernel when
  // the path declines or the weight does not match.
  ConvMember Member(const ConvArgs& a) const;
  // Runs the layer; *filled is set when it wrote into the concat's slice.
  bool Run(core::RunEnv* env, bool* filled);
};

class DepthwiseConv : public simd::DepthwiseConv {
 public:
  DepthwiseConv(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights)
      : simd::DepthwiseConv(rec, blobs, weights) {}
  bool PackWeights(core::RunEnv* env) override;
  bool Forward(core::RunEnv* env) override;

 private:
  ConvMember Member(const ConvArgs& a) const;
};

// The type the x86 run environment registers for "ConvTranspose": a layer
// of the x86:: tier of its own, with the portable transposed forward pass.
class DeConv : public simd::DeConv {
 public:
  DeConv(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights)
      : simd::DeConv(rec, blobs, weights) {}
  // Same forward pass as simd::DeConv.
};

class Activation : public simd::Activation {
 public:
  Activation(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights)
      : simd::Activation(rec, blobs, weights) {}
  bool Forward(core::RunEnv* env) override;

  // Set by the graph optimisation when the mask layer alone reads this
  // (sigmoid or swish) activation's output: the mask layer is skipped and
  // this layer turns its results into the mask bytes a cache-sized chunk at a
  // time, instead of writing all the floats and reading them back. The bytes
  // are the ones the mask layer would write.
  Layer* maskOutput = nullptr;
};

class Concat : public simd::Concat {
 public:
  Concat(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights)
      : simd::Concat(rec, blobs, weights) {}
  bool Forward(core::RunEnv* env) override;
};

}  // namespace x86
}  // namespace TAVROMATTING
