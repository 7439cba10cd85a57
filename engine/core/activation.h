// "Relu", "Sigmoid", "Activation": the kind and its parameter.
#pragma once

#include "engine/core/layer.h"

namespace TAVROMATTING {
namespace core {

class Activation : public virtual Layer {
 public:
  Activation(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights);
  void Setup() override;

  uint32_t kind = 0;
  float upper = 0.f;  // kActClippedRelu
  float slope = 0.f;  // kActLeakyRelu
  Tensor* slopes = nullptr;  // kind 3
};

}  // namespace core
}  // namespace TAVROMATTING
