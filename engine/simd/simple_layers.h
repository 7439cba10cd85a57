// Portable forward passes of the small layers: batch normalisation, concat,
// normalize, resize, ShuffleSplit2, softmax and MMA.
#pragma once

#include <vector>

#include "engine/core/run_env.h"
#include "engine/core/simple_layers.h"

namespace TAVROMATTING {
namespace simd {

class Batchnorm : public core::Batchnorm {
 public:
  Batchnorm(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights)
      : core::Batchnorm(rec, blobs, weights) {}
  bool Forward(core::RunEnv* env) override;

  // The layer as y = x * outScale()[c] + outShift()[c]: computes the coefficients
  // for C channels; false when a parameter is missing or too short.
  bool Coefficients(int C);
  const float* outScale() const { return a_.data(); }
  const float* outShift() const { return b_.data(); }
  // Applies the coefficients to `pixels` pixels of C channels (in may equal out).
  void Apply(core::RunEnv* env, const float* in, float* out, uint64_t pixels, int C) const;

 private:
  std::vector<float> a_, b_;
};

class Concat : public core::Concat {
 public:
  Concat(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights)
      : core::Concat(rec, blobs, weights) {}
  bool Forward(core::RunEnv* env) override;
};

class Normalize : public core::Normalize {
 public:
  Normalize(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights)
      : core::Normalize(rec, blobs, weights) {}
  bool Forward(core::RunEnv* env) override;
};

class Resize : public core::Resize {
 public:
  Resize(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights)
      : core::Resize(rec, blobs, weights) {}
  bool Forward(core::RunEnv* env) override;
};

class ShuffleSplit2 : public core::ShuffleSplit2 {
 public:
  ShuffleSplit2(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights)
      : core::ShuffleSplit2(rec, blobs, weights) {}
  bool Forward(core::RunEnv* env) override;
};

class Softmax : public core::Softmax {
 public:
  Softmax(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights)
      : core::Softmax(rec, blobs, weights) {}
  bool Forward(core::RunEnv* env) override;
};

// "MMA": three inputs, y = (v[c] + s[p]) * x[p, c].
class MMA : public virtual Layer {
 public:
  MMA(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights);
  void Setup() override;
  bool Prepare(core::RunEnv* env) override {
    Setup();
    return true;
  }
  bool Forward(core::RunEnv* env) override;
};

}  // namespace simd
}  // namespace TAVROMATTING
