// The stream's configuration record, held by the segmentation wrapper and
// edited by the filter's "configs" property.
#pragma once

#include <cstdint>

#include "sdk/filter_settings.h"

namespace tavro {

struct SegmentationConfig {
  int32_t inWidth = 0;
  int32_t inHeight = 0;
  int32_t outWidth = 0;
  int32_t outHeight = 0;
  int32_t netWidth = 320;
  int32_t netHeight = 224;
  int32_t reset = 0;
  // The "configs" switches (bokeh, enable_optical_flow, enable_media_filter,
  // ...), one record from the filter to the matting pipeline.
  tavro_rtc::FilterSettings settings;
};

}  // namespace tavro
