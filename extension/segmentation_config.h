// The stream's configuration record, held by the segmentation wrapper and
// edited by the filter's "configs" property.
#pragma once

#include <cstdint>

namespace tavro {

struct SegmentationConfig {
  int32_t inWidth = 0;
  int32_t inHeight = 0;
  int32_t outWidth = 0;
  int32_t outHeight = 0;
  int32_t netWidth = 320;
  int32_t netHeight = 224;
  bool bokeh = false;
  int32_t reset = 0;
  int32_t enableOpticalFlow = 1;
  int32_t enableMediaFilter = 0;
};

}  // namespace tavro
