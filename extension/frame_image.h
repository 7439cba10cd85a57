// Per-frame records exchanged between the video filter, the segmentation
// wrapper and the matting adapter.
#pragma once

#include <cstdint>

namespace tavro {

// One I420 picture as the filter reads it from the host frame.
struct FrameImage {
  int32_t width = 0;
  int32_t height = 0;
  int32_t strideY = 0;
  int32_t strideU = 0;
  int32_t strideV = 0;
  uint8_t* dataY = nullptr;
  uint8_t* dataU = nullptr;
  uint8_t* dataV = nullptr;
};

// The alpha mask made for each frame: width x height bytes, stride = width.
struct MaskBuffer {
  int32_t width = 0;
  int32_t height = 0;
  int64_t reserved = 0;
  uint8_t* data = nullptr;
};

}  // namespace tavro
