// Portable forward passes of the convolution family: the dispatchers choose
// a kernel member from the layer's shape and the processor's features.
#pragma once

#include <vector>

#include "engine/core/conv.h"
#include "engine/core/run_env.h"
#include "impl_x86/conv_args.h"

namespace TAVROMATTING {
namespace simd {

class Conv : public core::Conv {
 public:
  Conv(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights)
      : core::Conv(rec, blobs, weights) {}
  bool Forward(core::RunEnv* env) override;

 protected:
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
  bool Forward(core::RunEnv* env) override;
};

class DeConv : public core::DeConv {
 public:
  DeConv(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights)
      : core::DeConv(rec, blobs, weights) {}
  bool Forward(core::RunEnv* env) override;
};

// Fills the shape fields shared by the family.
bool FillConvArgs(core::Conv& layer, ConvArgs* a);

}  // namespace simd
}  // namespace TAVROMATTING
