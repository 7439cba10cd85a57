// Stand-in adapter until the matting pipeline is wired in: it accepts every
// configuration and leaves the caller's mask untouched (all zero).
#include "extension/matting_adapter.h"

#include "extension/version.h"

namespace tavro {

MattingAdapter::MattingAdapter() = default;
MattingAdapter::~MattingAdapter() = default;

int32_t MattingAdapter::init(int32_t inWidth, int32_t inHeight,
                             int32_t outWidth, int32_t outHeight) {
  if (inWidth <= 0 || inHeight <= 0 || outWidth <= 0 || outHeight <= 0)
    return -1;
  inWidth_ = inWidth;
  inHeight_ = inHeight;
  outWidth_ = outWidth;
  outHeight_ = outHeight;
  netWidth_ = 320;
  netHeight_ = 224;
  firstFrame_ = true;
  created_ = true;
  return 0;
}

int32_t MattingAdapter::warmup() { return created_ ? 0 : -1; }

int32_t MattingAdapter::process(FrameImage image, MaskBuffer& mask) {
  if (!created_ || image.width != inWidth_ || image.height != inHeight_ ||
      mask.width != outWidth_ || mask.height != outHeight_)
    return 1;
  firstFrame_ = false;
  return 0;
}

int32_t MattingAdapter::setConfig(SegmentationConfig config) {
  netWidth_ = config.netWidth;
  netHeight_ = config.netHeight;
  reset_ = config.reset;
  enableOpticalFlow_ = config.enableOpticalFlow;
  enableMediaFilter_ = config.enableMediaFilter;
  bokeh_ = config.bokeh;
  return 0;
}

const char* MattingAdapter::version() { return GetMattingVersionText(); }

}  // namespace tavro
