// Base of every layer: graph links, scheduling marks and the virtual
// operations the network drives (setup, forward, prepare, description).
#pragma once

#include <cfloat>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/core/tensor.h"
#include "engine/core/layer_records.h"

namespace TAVROMATTING {

using TensorMap = std::map<std::string, Tensor>;

namespace core {
class RunEnv;
}

// Each core:: class, simd::MMA and matting::Mask derive from Layer
// virtually: a fixed part of the engine's layer class shape, kept though no
// class inherits it twice (so layers are cast with dynamic_cast).
class Layer {
 public:
  explicit Layer(const std::string& layerName = "Unknown");
  virtual ~Layer();
  Layer(const Layer&) = delete;
  Layer& operator=(const Layer&) = delete;

  // Yes/no property: true for Concat and for 1x1 convolutions. Part of the
  // layer interface every type answers (slot 1), though nothing in this
  // system asks it yet.
  virtual bool PropertyQuery() const { return false; }
  // Computes output shapes (and flops) from the inputs.
  virtual void Setup() = 0;
  virtual bool Forward(core::RunEnv* env) = 0;
  virtual bool Prepare(core::RunEnv* env) {
    Setup();
    return true;
  }
  // Packs the weight layouts the kernel member this layer will run needs
  // into storage the layer owns; called after Prepare, so forward passes
  // only look them up. True when everything is packed; the net calls it
  // again before a run while it is not, or when the processor features the
  // members were chosen with have changed.
  virtual bool PackWeights(core::RunEnv* env) { return true; }
  virtual std::string Description() const { return std::string(); }
  virtual void AfterForward() {}
  // Part of the layer interface (the slot after AfterForward); every type
  // answers true and nothing in this system asks it.
  virtual bool SecondQuery() const { return true; }

  // Folds the output range of output 0 (plain floats) into min/max and
  // returns the range of this call.
  void UpdateRange(float* runMin, float* runMax);

  std::vector<Layer*> attached;
  bool fused = false;
  bool visited = false;
  bool folded = false;
  uint32_t index = 0;
  uint64_t flops = 0;
  std::string type;
  std::string name;
  std::vector<Tensor*> inputs;
  std::vector<Tensor*> outputs;
  // The running range of output 0. The maximum starts at the smallest
  // positive float, not at -FLT_MAX, as the statistics this engine reports
  // always have: a layer whose outputs are all negative reports that value.
  float minValue = FLT_MAX;
  float maxValue = FLT_MIN;

 protected:
  // Takes name and type from the record and links the blob names: the first
  // `numInputs` become inputs (this layer joins their consumers), the rest
  // outputs (this layer becomes their producer).
  void LinkRecord(const LayerRecord& rec, TensorMap& blobs, int numInputs);
};

// Number of blob names in a record (up to the first null or empty one).
int RecordBlobCount(const LayerRecord& rec);
// Leading weight names that are non-empty and present in the map, at most 8.
int RecordWeightCount(const LayerRecord& rec, const TensorMap& weights);
// Weight i of the record, or null when it does not exist.
Tensor* RecordWeight(const LayerRecord& rec, TensorMap& weights, int i);

// Replaces the first occurrence of `from` by `to` in a tensor list.
void ReplaceTensor(std::vector<Tensor*>& list, Tensor* from, Tensor* to);

}  // namespace TAVROMATTING
