// Portable forward pass of pooling (max, average, global average).
#pragma once

#include "engine/core/pooling.h"
#include "engine/core/run_env.h"

namespace TAVROMATTING {
namespace simd {

class Pooling : public core::Pooling {
 public:
  Pooling(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights)
      : core::Pooling(rec, blobs, weights) {}
  bool Forward(core::RunEnv* env) override;
};

}  // namespace simd
}  // namespace TAVROMATTING
