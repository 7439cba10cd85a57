#include "engine/core/simple_layers.h"
#include "engine/core/record_slots.h"

#include <cmath>

namespace TAVROMATTING {
namespace core {

namespace {
void SameShape(Layer& l) {
  if (l.inputs.empty() || l.outputs.empty() || l.inputs[0] == l.outputs[0]) return;
  const Tensor& in = *l.inputs[0];
  l.outputs[0]->SetShape(in.n, in.h, in.w, in.c, in.format);
}
}  // namespace

Batchnorm::Batchnorm(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights) {
  LinkRecord(rec, blobs, 1);
  const int wc = RecordWeightCount(rec, weights);
  if (wc >= 4) {
    scale = RecordWeight(rec, weights, 0);
    bias = RecordWeight(rec, weights, 1);
    mean = RecordWeight(rec, weights, 2);
    variance = RecordWeight(rec, weights, 3);
  }
  epsilon = SlotFloat(rec, slot::kEpsilon);
}

void Batchnorm::Setup() { SameShape(*this); }

Concat::Concat(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights) {
  LinkRecord(rec, blobs, RecordBlobCount(rec) - 1);
}

void Concat::Setup() {
  if (inputs.empty() || outputs.empty()) return;
  uint32_t c = 0;
  for (Tensor* t : inputs) c += t->c;
  const Tensor& in = *inputs[0];
  outputs[0]->SetShape(in.n, in.h, in.w, c, in.format);
}

Normalize::Normalize(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights) {
  LinkRecord(rec, blobs, 1);
  channels = rec.params[slot::kChannels];
  for (int i = 0; i < 3; ++i) {
    mean[i] = SlotFloat(rec, slot::kNormMean + i);
    scale[i] = SlotFloat(rec, slot::kNormScale + i);
  }
  fourth = SlotFloat(rec, slot::kNormFourth);
}

void Normalize::Setup() {
  if (inputs.empty() || outputs.empty()) return;
  const Tensor& in = *inputs[0];
  outputs[0]->SetShape(in.n, in.h, in.w, channels, in.format);
}

Resize::Resize(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights) {
  LinkRecord(rec, blobs, 1);
  mode = rec.params[slot::kResizeMode];
  alignCorners = rec.params[slot::kResizeFlag] != 0;
  scaleW = SlotFloat(rec, slot::kScaleWidth);
  scaleH = SlotFloat(rec, slot::kScaleHeight);
}

void Resize::Setup() {
  if (inputs.empty() || outputs.empty()) return;
  const Tensor& in = *inputs[0];
  const float h = std::round(float(in.h) * scaleH), w = std::round(float(in.w) * scaleW);
  outputs[0]->SetShape(in.n, h > 0.f ? uint32_t(h) : 0, w > 0.f ? uint32_t(w) : 0, in.c,
                       in.format);
}

ShuffleSplit2::ShuffleSplit2(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights) {
  LinkRecord(rec, blobs, 2);
  groups = rec.params[slot::kShuffleGroups];
}

void ShuffleSplit2::Setup() {
  if (inputs.empty() || outputs.empty()) return;
  const Tensor& in = *inputs[0];
  if (outputs.size() >= 2) {
    for (Tensor* o : outputs) o->SetShape(in.n, in.h, in.w, in.c, in.format);
  } else {
    outputs[0]->SetShape(in.n, in.h, in.w, 2 * in.c, in.format);
  }
}

Softmax::Softmax(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights) {
  LinkRecord(rec, blobs, 1);
}

void Softmax::Setup() { SameShape(*this); }

}  // namespace core
}  // namespace TAVROMATTING
