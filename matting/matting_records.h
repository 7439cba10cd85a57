// Records the matting adapter hands to the matting pipeline.
#pragma once

#include <cstdint>

#include "sdk/filter_settings.h"

namespace TavroMatting {

// One I420 frame: planes Y, U, V (chroma half width and half height).
struct PlanarImage {
  uint8_t* data[3];
  int32_t width[3];
  int32_t height[3];
  int32_t stride[3];
};

// The output mask: width x height bytes, stride = width.
struct MaskView {
  uint8_t* data;
  int32_t width;
  int32_t height;
};

// Per-call settings: the network size, the reset request, and the stream's
// "configs" switches as the host set them (enable_optical_flow,
// enable_media_filter, ...).
struct MattingSettings {
  int32_t netWidth;
  int32_t netHeight;
  int32_t reset;
  tavro_rtc::FilterSettings switches;
};

// Settings with the two switches the pipeline's callers most often choose;
// the others keep their initial values.
inline MattingSettings MakeMattingSettings(int32_t netWidth, int32_t netHeight, int32_t reset,
                                           bool opticalFlow, bool mediaFilter) {
  MattingSettings s{netWidth, netHeight, reset, {}};
  s.switches.enable_optical_flow = opticalFlow;
  s.switches.enable_media_filter = mediaFilter;
  return s;
}

}  // namespace TavroMatting
