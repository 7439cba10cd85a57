#include "engine/core/pooling.h"
#include "engine/core/record_slots.h"

#include "engine/core/conv.h"

namespace TAVROMATTING {
namespace core {

Pooling::Pooling(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights) {
  LinkRecord(rec, blobs, 1);
  ReadWindowParams(rec.params);
  extra = rec.params[slot::kOutputTag];
}

void Pooling::Setup() {
  if (inputs.empty() || outputs.empty()) return;
  Tensor& in = *inputs[0];
  if (IsGlobalAverage()) {
    kernelW = in.w;
    kernelH = in.h;
    strideX = strideY = dilationX = dilationY = 1;
    padLeft = padRight = padTop = padBottom = 0;
  }
  outputs[0]->SetShape(1, WindowExtent(in.h, padTop, padBottom, kernelH, dilationY, strideY),
                       WindowExtent(in.w, padLeft, padRight, kernelW, dilationX, strideX), in.c,
                       in.format);
}

std::string Pooling::Description() const {
  return WindowDescription(kernelH, kernelW, strideY, strideX,
                           inputs.empty() ? nullptr : inputs[0],
                           outputs.empty() ? nullptr : outputs[0]);
}

}  // namespace core
}  // namespace TAVROMATTING
