// MattingAdapter: owns one matting pipeline for one stream, hands it each
// frame with the stream's switches, and composites the blurred background
// when bokeh is on.
#pragma once

#include <atomic>
#include <cstdint>

#include "extension/matting_interface.h"

namespace TavroMatting {
class MattingFrame;
}

namespace tavro {

class MattingAdapter final : public MattingInterface {
 public:
  MattingAdapter();
  ~MattingAdapter() override;
  MattingAdapter(const MattingAdapter&) = delete;
  MattingAdapter& operator=(const MattingAdapter&) = delete;

  int32_t init(int32_t inWidth, int32_t inHeight, int32_t outWidth,
               int32_t outHeight) override;
  int32_t warmup() override;
  int32_t process(FrameImage image, MaskBuffer& mask) override;
  int32_t setConfig(SegmentationConfig config) override;
  const char* version() override;

  // The network size the next pipeline call will be given.
  int32_t netWidth() const { return netWidth_; }
  int32_t netHeight() const { return netHeight_; }

 private:
  bool created_ = false;
  bool firstFrame_ = true;
  int32_t inWidth_ = 640, inHeight_ = 360;
  int32_t outWidth_ = 640, outHeight_ = 360;
  // The network size and switches are written by setConfig on the host's
  // property thread while a frame or a warm-up may read them; each pipeline
  // call reads them once.
  std::atomic<int32_t> netWidth_{224}, netHeight_{224};
  std::atomic<int32_t> reset_{0};
  // The "configs" switches, packed (tavro_rtc::PackFilterSettings).
  std::atomic<uint32_t> switches_{tavro_rtc::PackFilterSettings({})};
  TavroMatting::MattingFrame* matting_ = nullptr;  // owned
};

}  // namespace tavro
