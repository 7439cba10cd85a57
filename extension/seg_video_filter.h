// SEGVideoFilter: the "PortraitSegmentation" video filter the host drives for
// one stream. Per enabled frame it reads the picture as contiguous I420, asks
// its segmentation wrapper for a mask, attaches that mask to the same frame
// as its alpha buffer and prints the frame's cost line.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "extension/video_segmentation_wrapper.h"
#include "sdk/tavro_rtc_sdk.h"

namespace tavro {

class SEGVideoFilter : public tavro_rtc::VideoFilter {
 public:
  // Every 59th processed frame composes the cost text posted to the sink.
  static constexpr int32_t kCostReportPeriod = 59;

  SEGVideoFilter();
  // Uses the given wrapper (a new default one if null).
  explicit SEGVideoFilter(std::unique_ptr<VideoSegmentationWrapper> wrapper);
  // Destroys the wrapper (joining its warm-ups), then drops the event sink.
  ~SEGVideoFilter() override;

  bool hostQuery4() override { return true; }
  void setEnabled(bool enabled) override { enabled_.store(enabled); }
  bool isEnabled() const override { return enabled_.load(); }
  int32_t setProperty(const char* key, const char* value) override;
  int32_t hostQuery8() override { return 0; }
  bool hostQuery9() override { return true; }
  void hostNotify10() override {}
  bool hostQuery11() override { return true; }
  bool hostQuery12() override { return true; }
  void getProcessingOptions(int32_t* mode, bool* flag) override;
  int32_t start(tavro_rtc::EventSink* sink) override;
  int32_t stop() override;
  void getFrameRequirements(int32_t* a, int32_t* b) override;
  int32_t releaseFrame(tavro_rtc::VideoFrame* frame) override;
  int32_t adaptVideoFrame(tavro_rtc::VideoFrame* in,
                          tavro_rtc::VideoFrame** out) override;

  VideoSegmentationWrapper& wrapper() { return *wrapper_; }
  int32_t frameCounter() const { return frameCounter_.load(); }

 private:
  // Applies a "configs" JSON document; see filter_configs.cpp.
  void applyConfigs(const char* json);
  // Steps 4 to 11 of a processed frame; false when the host gave no usable
  // picture.
  bool processFrame(tavro_rtc::VideoFrame* frame);
  void reportCost(float ms);

  // start runs on a host thread of its choosing while the video thread may
  // post the periodic cost report to the sink; the lock covers only taking
  // a reference to, or replacing, the stored sink.
  std::mutex sinkMutex_;
  // "configs" edits a copy of the wrapper's configuration and writes it back;
  // two property threads doing that at once would lose one of the edits.
  // Held for a whole property call; the video thread never takes it.
  std::mutex configsMutex_;
  tavro_rtc::EventSink* eventSink_ = nullptr;
  std::atomic<bool> enabled_{false};
  std::atomic<int32_t> frameCounter_{0};
  std::unique_ptr<VideoSegmentationWrapper> wrapper_;
};

}  // namespace tavro
