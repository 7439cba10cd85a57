// "MaxPool" (and average / global average by type name): window parameters.
#pragma once

#include "engine/core/layer.h"

namespace TAVROMATTING {
namespace core {

class Pooling : public virtual Layer {
 public:
  Pooling(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights);
  void Setup() override;
  std::string Description() const override;
  bool IsGlobalAverage() const { return type == "GlobalAveragePool"; }
  bool IsAverage() const { return type == "AveragePool"; }

  uint32_t kernelW = 1, kernelH = 1;
  uint32_t padLeft = 0, padRight = 0, padTop = 0, padBottom = 0;
  uint32_t strideX = 1, strideY = 1;
  uint32_t dilationX = 1, dilationY = 1;
  uint32_t extra = 0;  // record slot 13
};

}  // namespace core
}  // namespace TAVROMATTING
