#include "engine/core/layer_registry.h"

#include "diagnostics/diagnostics.h"


namespace TAVROMATTING {

std::map<std::string, LayerCreator>* LayerRegistry::Maps() {
  static std::map<std::string, LayerCreator> maps[kKinds];
  return maps;
}

void LayerRegistry::Register(int kind, const std::string& type, LayerCreator creator) {
  if (kind < 0 || kind >= kKinds) return;
  auto& m = Maps()[kind];
  if (m.count(type)) tavro_diag::Line("Layer type " + type + " already registered.");
  m[type] = creator;
}

bool LayerRegistry::Has(int kind, const std::string& type) {
  return kind >= 0 && kind < kKinds && Maps()[kind].count(type) != 0;
}

Layer* LayerRegistry::Create(int kind, const LayerRecord& rec, TensorMap& blobs,
                             TensorMap& weights) {
  const std::string type = rec.type ? rec.type : "";
  if (kind >= 0 && kind < kKinds) {
    auto& m = Maps()[kind];
    auto it = m.find(type);
    if (it != m.end()) return it->second(rec, blobs, weights);
  }
  tavro_diag::Line("Implementation not exists: [" + std::to_string(kind) + "," + type + "]");
  return nullptr;
}

}  // namespace TAVROMATTING
