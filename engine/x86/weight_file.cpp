#include "engine/x86/weight_file.h"

#include <fstream>

#include "diagnostics/diagnostics.h"
#include "engine/core/net.h"
#include "model/portrait_tables.h"

namespace TAVROMATTING {

bool BindWeightFile(Net* net, const std::string& path, std::vector<float>* storage) {
  if (!net || !storage) return false;
  std::ifstream f(path, std::ios::binary | std::ios::ate);
  if (!f) {
    tavro_diag::Line("cannot open weight file " + path);
    return false;
  }
  const std::streamoff bytes = f.tellg();
  const std::streamoff want = std::streamoff(model::kPortraitWeightBlobFloats) * 4;
  if (bytes != want) {
    tavro_diag::Line("weight file " + path + " has " + std::to_string(bytes) +
                     " bytes, expected " + std::to_string(want));
    return false;
  }
  // 64-byte aligned start: over-allocate and offset.
  storage->assign(model::kPortraitWeightBlobFloats + 16, 0.f);
  float* base = storage->data();
  while (reinterpret_cast<uintptr_t>(base) % 64) ++base;
  f.seekg(0);
  f.read(reinterpret_cast<char*>(base), want);
  if (!f) return false;
  for (size_t i = 0; i < model::kPortraitWeightCount; ++i) {
    const WeightRecord& r = model::kPortraitWeightRecords[i];
    Tensor* t = net->Weight(r.name);
    if (!t) continue;
    const size_t offset = static_cast<const float*>(r.data) - tavro_portrait_weight_data;
    t->BindRecord(r.n, r.h, r.w, r.c, r.format, int(r.elementKind), base + offset);
  }
  return true;
}

}  // namespace TAVROMATTING
