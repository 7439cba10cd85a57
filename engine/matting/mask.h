// "Mattingmask": the network's last stage, probabilities to mask bytes.
#pragma once

#include "engine/core/layer.h"
#include "engine/core/run_env.h"

namespace TAVROMATTING {
namespace matting {

class Mask : public virtual Layer {
 public:
  Mask(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights);
  void Setup() override;
  bool Prepare(core::RunEnv* env) override {
    Setup();
    return true;
  }
  // Writes trunc(v * 255) clamped to [0, 255] into the output's byte buffer;
  // fails when that buffer is missing.
  bool Forward(core::RunEnv* env) override;
};

}  // namespace matting
}  // namespace TAVROMATTING
