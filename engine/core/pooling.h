// "MaxPool" (and average / global average by type name): window parameters.
#pragma once

#include "engine/core/layer.h"
#include "engine/core/window_params.h"

namespace TAVROMATTING {
namespace core {

class Pooling : public virtual Layer, public WindowParams {
 public:
  Pooling(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights);
  void Setup() override;
  std::string Description() const override;
  bool IsGlobalAverage() const { return type == "GlobalAveragePool"; }
  bool IsAverage() const { return type == "AveragePool"; }

  uint32_t extra = 0;  // record slot 13
};

}  // namespace core
}  // namespace TAVROMATTING
