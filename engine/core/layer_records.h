// Record formats of a compiled-in network: one WeightRecord per weight tensor
// and one LayerRecord per layer, both plain static tables.
#pragma once

#include <cstddef>
#include <cstdint>

namespace TAVROMATTING {

struct WeightRecord {
  const char* name;     // key of the weight map
  uint32_t n, h, w, c;  // filters, kernel rows, kernel columns, channels
  uint32_t format;      // layout code of the data (1 = planar source)
  uint32_t elementKind; // 0 float32, 1 half, 2 u8, 3..5 further kinds
  const void* data;     // element data, 64-byte aligned
  uint64_t reserved;
};

struct LayerRecord {
  const char* name;
  const char* type;        // registry key
  uint32_t params[32];     // slots read as u32/i32/f32 by the layer type
  const char* blobs[8];    // inputs then outputs; ends at null or ""
  const char* weights[8];  // weight names; ends at null or ""
};

static_assert(sizeof(WeightRecord) == 48, "WeightRecord is 48 bytes");
static_assert(offsetof(WeightRecord, n) == 8, "WeightRecord layout");
static_assert(offsetof(WeightRecord, format) == 24, "WeightRecord layout");
static_assert(offsetof(WeightRecord, elementKind) == 28, "WeightRecord layout");
static_assert(offsetof(WeightRecord, data) == 32, "WeightRecord layout");
static_assert(offsetof(WeightRecord, reserved) == 40, "WeightRecord layout");
static_assert(sizeof(LayerRecord) == 272, "LayerRecord is 272 bytes");
static_assert(offsetof(LayerRecord, params) == 16, "LayerRecord layout");
static_assert(offsetof(LayerRecord, blobs) == 144, "LayerRecord layout");
static_assert(offsetof(LayerRecord, weights) == 208, "LayerRecord layout");

// Reads parameter slot k of a record as f32.
inline float SlotFloat(const LayerRecord& r, int k) {
  float f;
  __builtin_memcpy(&f, &r.params[k], 4);
  return f;
}

}  // namespace TAVROMATTING
