// The interface through which the segmentation wrapper drives the matting
// pipeline. MattingAdapter is its one production implementation; tests
// substitute doubles.
#pragma once

#include <cstdint>

#include "extension/frame_image.h"
#include "extension/segmentation_config.h"

namespace tavro {

class MattingInterface {
 public:
  virtual ~MattingInterface() = default;
  // 0 on success, -1 when any size is not positive or the pipeline could
  // not be made (the next init tries again).
  virtual int32_t init(int32_t inWidth, int32_t inHeight, int32_t outWidth,
                       int32_t outHeight) = 0;
  // Runs the pipeline once on a blank frame; 0 on success.
  virtual int32_t warmup() = 0;
  // Writes the mask of image into mask.data; 0 on success, 1 otherwise.
  virtual int32_t process(FrameImage image, MaskBuffer& mask) = 0;
  virtual int32_t setConfig(SegmentationConfig config) = 0;
  virtual const char* version() = 0;
};

}  // namespace tavro
