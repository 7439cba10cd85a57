#include "engine/core/activation.h"

namespace TAVROMATTING {
namespace core {

Activation::Activation(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights) {
  LinkRecord(rec, blobs, 1);
  kind = rec.params[0];
  upper = SlotFloat(rec, 16);
  slope = SlotFloat(rec, 16);
  if (RecordWeightCount(rec, weights) >= 1) slopes = RecordWeight(rec, weights, 0);
}

void Activation::Setup() {
  if (inputs.empty() || outputs.empty() || inputs[0] == outputs[0]) return;
  const Tensor& in = *inputs[0];
  outputs[0]->SetShape(in.n, in.h, in.w, in.c, in.format);
}

}  // namespace core
}  // namespace TAVROMATTING
