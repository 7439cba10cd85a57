#include "engine/core/layer.h"

namespace TAVROMATTING {

Layer::Layer(const std::string& layerName) : name(layerName) {}

Layer::~Layer() = default;

void Layer::UpdateRange(float* runMin, float* runMax) {
  float lo = 1e6f, hi = -1e6f;
  if (!outputs.empty() && outputs[0] && outputs[0]->floatData()) {
    const float* p = outputs[0]->floatData();
    uint64_t n = outputs[0]->ElementCount();
    for (uint64_t i = 0; i < n; ++i) {
      if (p[i] < lo) lo = p[i];
      if (p[i] > hi) hi = p[i];
    }
  }
  if (lo < minValue) minValue = lo;
  if (hi > maxValue) maxValue = hi;
  *runMin = lo;
  *runMax = hi;
}

void Layer::LinkRecord(const LayerRecord& rec, TensorMap& blobs, int numInputs) {
  type = rec.type ? rec.type : "";
  name = rec.name ? rec.name : "";
  int count = RecordBlobCount(rec);
  for (int i = 0; i < count; ++i) {
    Tensor& t = blobs[rec.blobs[i]];
    t.name = rec.blobs[i];
    if (i < numInputs) {
      inputs.push_back(&t);
      t.AddConsumer(this);
    } else {
      outputs.push_back(&t);
      t.producer = this;
    }
  }
}

int RecordBlobCount(const LayerRecord& rec) {
  int n = 0;
  while (n < 8 && rec.blobs[n] && rec.blobs[n][0]) ++n;
  return n;
}

int RecordWeightCount(const LayerRecord& rec, const TensorMap& weights) {
  int n = 0;
  while (n < 8 && rec.weights[n] && rec.weights[n][0] && weights.count(rec.weights[n])) ++n;
  return n;
}

Tensor* RecordWeight(const LayerRecord& rec, TensorMap& weights, int i) {
  if (i < 0 || i >= 8 || !rec.weights[i] || !rec.weights[i][0]) return nullptr;
  auto it = weights.find(rec.weights[i]);
  return it == weights.end() ? nullptr : &it->second;
}

void ReplaceTensor(std::vector<Tensor*>& list, Tensor* from, Tensor* to) {
  for (auto& t : list) {
    if (t == from) {
      t = to;
      return;
    }
  }
}

}  // namespace TAVROMATTING
