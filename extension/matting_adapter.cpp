#include "extension/matting_adapter.h"

#include <cstring>
#include <memory>
#include <new>

#include "blend/blend_i420.h"
#include "extension/version.h"
#include "matting/matting_frame.h"

namespace tavro {

namespace {

// A zero-filled contiguous I420 picture of width x height.
struct BlankI420 {
  std::unique_ptr<uint8_t[]> y, u, v;
  TavroMatting::PlanarImage image{};

  bool Make(int32_t width, int32_t height) {
    const int32_t cw = width / 2, ch = height / 2;
    y.reset(new (std::nothrow) uint8_t[size_t(width) * height]());
    u.reset(new (std::nothrow) uint8_t[size_t(cw) * ch + 1]());
    v.reset(new (std::nothrow) uint8_t[size_t(cw) * ch + 1]());
    if (!y || !u || !v) return false;
    image = {{y.get(), u.get(), v.get()},
             {width, cw, cw},
             {height, ch, ch},
             {width, cw, cw}};
    return true;
  }
};

}  // namespace

MattingAdapter::MattingAdapter() = default;

MattingAdapter::~MattingAdapter() { TavroMatting::DestroyMattingFrame(matting_); }

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
  // A pipeline that could not be made (no memory for it) is made again by
  // the next init: the wrapper calls it with every frame until it succeeds.
  if (!matting_) matting_ = TavroMatting::CreateMattingFrame(netWidth_, netHeight_);
  created_ = matting_ != nullptr;
  return created_ ? 0 : -1;
}

int32_t MattingAdapter::warmup() {
  if (!created_) return -1;
  BlankI420 blank;
  std::unique_ptr<uint8_t[]> maskData(
      new (std::nothrow) uint8_t[size_t(outWidth_) * outHeight_]());
  int32_t result = -1;
  if (blank.Make(inWidth_, inHeight_) && maskData) {
    const TavroMatting::MaskView mask{maskData.get(), outWidth_, outHeight_};
    const TavroMatting::MattingSettings settings{
        netWidth_, netHeight_, reset_, tavro_rtc::UnpackFilterSettings(switches_)};
    result = TavroMatting::ProcessMattingFrame(matting_, &blank.image, &mask,
                                               &settings);
  }
  firstFrame_ = true;
  return result;
}

int32_t MattingAdapter::process(FrameImage image, MaskBuffer& mask) {
  if (!created_ || image.width != inWidth_ || image.height != inHeight_ ||
      mask.width != outWidth_ || mask.height != outHeight_)
    return 1;
  const int32_t cw = image.width / 2, ch = image.height / 2;
  const TavroMatting::PlanarImage frame{{image.dataY, image.dataU, image.dataV},
                                        {image.width, cw, cw},
                                        {image.height, ch, ch},
                                        {image.strideY, image.strideU, image.strideV}};
  const TavroMatting::MaskView view{mask.data, mask.width, mask.height};
  const bool first = firstFrame_;
  if (first) reset_ = 1;
  const TavroMatting::MattingSettings settings{
      netWidth_, netHeight_, reset_, tavro_rtc::UnpackFilterSettings(switches_)};
  const int32_t r =
      TavroMatting::ProcessMattingFrame(matting_, &frame, &view, &settings);
  if (first) {
    reset_ = 0;
    firstFrame_ = false;
  }

  if (settings.switches.bokeh && mask.data) {
    // The blend reads the mask as the frame's alpha: only a mask that covers
    // the frame can be used.
    const bool maskCoversFrame =
        mask.width >= image.width && mask.height >= image.height;
    BlankI420 blurred;
    // A blur that could not get its memory leaves the frame unblurred
    // rather than blending in a half-written background.
    if (maskCoversFrame && blurred.Make(image.width, image.height) &&
        TavroMatting::BlurMattingImage(matting_, &frame, &blurred.image) == 0) {
      blendI420(image.dataY, image.strideY, image.dataU, image.strideU,
                image.dataV, image.strideV, blurred.image.data[0],
                blurred.image.stride[0], blurred.image.data[1],
                blurred.image.stride[1], blurred.image.data[2],
                blurred.image.stride[2], mask.data, mask.width, image.dataY,
                image.strideY, image.dataU, image.strideU, image.dataV,
                image.strideV, image.width, image.height);
    }
    // The background blur is in the pixels; the delivered alpha is opaque.
    std::memset(mask.data, 255, size_t(mask.width) * mask.height);
  }
  return r != 0 ? 1 : 0;
}

int32_t MattingAdapter::setConfig(SegmentationConfig config) {
  netWidth_ = config.netWidth;
  netHeight_ = config.netHeight;
  reset_ = config.reset;
  switches_ = tavro_rtc::PackFilterSettings(config.settings);
  return 0;
}

const char* MattingAdapter::version() { return GetMattingVersionText(); }

}  // namespace tavro
