// Records the matting adapter hands to the matting pipeline.
#pragma once

#include <cstdint>

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

// Per-call settings; non-zero means on for the last three.
struct MattingSettings {
  int32_t netWidth;
  int32_t netHeight;
  int32_t reset;
  int32_t enableOpticalFlow;
  int32_t enableMediaFilter;
};

}  // namespace TavroMatting
