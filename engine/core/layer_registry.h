// Process-wide map from (backend kind, layer type name) to a layer creator.
#pragma once

#include <map>
#include <string>

#include "engine/core/layer.h"
#include "engine/core/run_env.h"

namespace TAVROMATTING {

using LayerCreator = Layer* (*)(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights);

class LayerRegistry {
 public:
  static constexpr int kKinds = core::kBackendKinds;
  // Registers a creator; a duplicate name prints a notice and replaces it.
  static void Register(int kind, const std::string& type, LayerCreator creator);
  // Builds a layer for the record, or prints why not and returns null.
  static Layer* Create(int kind, const LayerRecord& rec, TensorMap& blobs, TensorMap& weights);
  static bool Has(int kind, const std::string& type);

 private:
  static std::map<std::string, LayerCreator>* Maps();
};

// Static registration helper: `static LayerRegistrar r(2, "Conv", &Make);`
struct LayerRegistrar {
  LayerRegistrar(int kind, const char* type, LayerCreator creator) {
    LayerRegistry::Register(kind, type, creator);
  }
};

}  // namespace TAVROMATTING
