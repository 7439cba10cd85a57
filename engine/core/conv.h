// Convolution family parameters and shapes: "Conv", "DepthwiseConv",
// "ConvTranspose".
#pragma once

#include "engine/core/layer.h"
#include "engine/core/pack_cache.h"  // PackRequest for the layers
#include "engine/core/window_params.h"

namespace TAVROMATTING {
namespace core {

class Conv : public virtual Layer, public WindowParams {
 public:
  Conv(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights);
  bool PropertyQuery() const override { return kernelW == 1 && kernelH == 1; }
  void Setup() override;
  bool Prepare(RunEnv* env) override {
    Setup();
    return true;
  }
  std::string Description() const override;

  uint32_t group = 1;
  Tensor* weight = nullptr;
  Tensor* bias = nullptr;
  uint8_t auxMode = 0;  // 0 none, 1 three tensors, 2 six tensors
  Tensor* aux[6] = {};
  uint8_t dequantizeOutput = 0;
  // Weight dimensions as recorded.
  uint32_t weightN = 0, weightH = 0, weightW = 0, weightC = 0;

 protected:
  // Output h, w of a correlation window over the input.
  void WindowOutput(const Tensor& in, uint32_t* oh, uint32_t* ow) const;
};

class DepthwiseConv : public Conv {
 public:
  DepthwiseConv(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights);
};

class DeConv : public Conv {
 public:
  DeConv(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights);
  void Setup() override;

  uint32_t outHeight = 0, outWidth = 0;  // 0: derived from the input
};

// "KhxKw[_sSyxSx]_CxHxWxCin" of a window layer.
std::string WindowDescription(uint32_t kh, uint32_t kw, uint32_t sy, uint32_t sx,
                              const Tensor* in, const Tensor* out);
// Output size of a window along one axis; 0 when the window does not fit.
uint32_t WindowExtent(uint32_t in, uint32_t padA, uint32_t padB, uint32_t k, uint32_t d,
                      uint32_t s);

}  // namespace core
}  // namespace TAVROMATTING
