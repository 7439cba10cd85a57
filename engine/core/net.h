// A built network: layers in record order, the blob and weight maps, the run
// environment, and the diagnostics switches of a run.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/layer.h"
#include "engine/core/run_env.h"

namespace TAVROMATTING {

class Net {
 public:
  Net();
  virtual ~Net();
  Net(const Net&) = delete;
  Net& operator=(const Net&) = delete;

  // Runs every layer once in record order; false if some forward failed.
  // The first failure of each layer is reported on standard error by name,
  // since the caller of a frame ignores the result and would otherwise hand
  // on whatever the failed layer's output held before.
  virtual bool Run();
  // One-time preparation (shapes for the bound input, weight precision).
  virtual bool Warmup();
  // Destroys layers, blobs and weights.
  virtual void Release();

  Tensor* Blob(const std::string& blobName);
  Tensor* Weight(const std::string& weightName);

  bool timing = false;
  bool range = false;
  bool dump = false;
  bool prepared = false;
  uint64_t totalFlops = 0;
  std::unique_ptr<core::RunEnv> env;
  uint32_t diagnosticMode = 7;  // bit 0 name, bit 1 type, bit 2 description
  uint32_t dumpRowFirst = 0;
  uint32_t dumpRowEnd = 1;
  std::vector<std::string> dumpNames;
  std::vector<std::string> inputNames;
  std::vector<std::string> outputNames;
  std::vector<Layer*> layers;
  TensorMap blobs;
  TensorMap weights;

 private:
  // Lets every layer pack its weights (Layer::PackWeights) for the processor
  // features of now; remembers whether all of them could.
  void PackWeights();
  bool packsComplete_ = false;
  bool packedPortable_ = false;  // CpuInfo::PortableForced() when packed

  std::string Label(Layer* layer) const;
  void ReportFailure(const Layer* layer);
  std::vector<const Layer*> reportedFailures_;
  void DumpOutputs(Layer* layer, const std::string& label);
};

// Builds a network from record tables with the given run environment.
Net* BuildNet(std::unique_ptr<core::RunEnv> env, const WeightRecord* weightRecords,
              size_t weightCount, const LayerRecord* layerRecords, size_t layerCount);

}  // namespace TAVROMATTING
