// Parameters and shapes of the small layer types: "BatchNormalization",
// "Concat", "Normalize", "Resize"/"Upsample", "ShuffleSplit2", "Softmax".
#pragma once

#include "engine/core/layer.h"

namespace TAVROMATTING {
namespace core {

class Batchnorm : public virtual Layer {
 public:
  Batchnorm(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights);
  void Setup() override;

  Tensor* scale = nullptr;
  Tensor* bias = nullptr;
  Tensor* mean = nullptr;
  Tensor* variance = nullptr;
  float epsilon = 0.f;
};

class Concat : public virtual Layer {
 public:
  Concat(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights);
  bool PropertyQuery() const override { return true; }
  void Setup() override;
};

class Normalize : public virtual Layer {
 public:
  Normalize(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights);
  void Setup() override;

  float mean[3] = {};
  float scale[3] = {};
  float fourth = 0.f;
  uint32_t channels = 3;
};

class Resize : public virtual Layer {
 public:
  Resize(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights);
  void Setup() override;

  uint32_t mode = 0;  // 0 nearest, 1 bilinear
  float scaleW = 1.f, scaleH = 1.f;
  bool alignCorners = false;
};

class ShuffleSplit2 : public virtual Layer {
 public:
  ShuffleSplit2(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights);
  void Setup() override;

  uint32_t groups = 2;
};

class Softmax : public virtual Layer {
 public:
  Softmax(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights);
  void Setup() override;
};

}  // namespace core
}  // namespace TAVROMATTING
