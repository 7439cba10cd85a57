#include "engine/core/activation.h"
#include "engine/core/record_slots.h"

namespace TAVROMATTING {
namespace core {

Activation::Activation(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights) {
  LinkRecord(rec, blobs, 1);
  kind = rec.params[slot::kActivationKind];
  upper = SlotFloat(rec, slot::kActivationParam);
  slope = SlotFloat(rec, slot::kActivationParam);
  if (RecordWeightCount(rec, weights) >= 1) slopes = RecordWeight(rec, weights, 0);
}

void Activation::Setup() {
  if (inputs.empty() || outputs.empty() || inputs[0] == outputs[0]) return;
  const Tensor& in = *inputs[0];
  outputs[0]->SetShape(in.n, in.h, in.w, in.c, in.format);
}

}  // namespace core
}  // namespace TAVROMATTING
