// VideoSegmentationWrapper: sits between one video filter and its matting
// adapter. It notices frame-size and network-size changes, re-initialises the
// adapter then, warms it up on a thread of its own, and hands frames on only
// once initialisation and warm-up have both succeeded. A failed
// initialisation is tried again with the next frame, a failed warm-up
// kWarmupRetryFrames frames later, so masks come back by themselves.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <thread>

#include "extension/frame_image.h"
#include "extension/matting_interface.h"
#include "extension/segmentation_config.h"

namespace tavro {

class VideoSegmentationWrapper {
 public:
  // Warm-up states.
  static constexpr int32_t kNotReady = -1;  // not warmed up, or warm-up failed
  static constexpr int32_t kWarmingUp = 0;
  static constexpr int32_t kReady = 1;
  // A warm-up that ran and failed is tried again on the frame that comes
  // this many frames after its verdict (about a second of camera frames),
  // at the same size: a camera stream may never change size.
  static constexpr int32_t kWarmupRetryFrames = 30;

  // Drives a new MattingAdapter.
  VideoSegmentationWrapper();
  // Drives the given matting implementation (a new MattingAdapter if null).
  explicit VideoSegmentationWrapper(std::unique_ptr<MattingInterface> adapter);
  // Joins every warm-up thread started, in order, then destroys the adapter.
  virtual ~VideoSegmentationWrapper();

  VideoSegmentationWrapper(const VideoSegmentationWrapper&) = delete;
  VideoSegmentationWrapper& operator=(const VideoSegmentationWrapper&) = delete;

  // The adapter's process result when the frame was handed on, otherwise 1.
  virtual int32_t Process(FrameImage image, MaskBuffer& mask);
  // Takes the network size and switches of newConfig (not its frame sizes).
  virtual int32_t setConfig(SegmentationConfig newConfig);
  virtual const char* version();

  // A copy of the current configuration.
  SegmentationConfig config() const;
  int32_t state() const { return state_.load(); }
  bool initialised() const { return initialised_.load(); }
  // Warm-up threads started so far.
  size_t warmupThreadCount() const { return warmupsStarted_; }
  // Warm-up threads not yet joined: the running one and those that ended
  // since the last warm-up was started.
  size_t heldWarmupThreadCount() const { return warmupThreads_.size(); }

 private:
  struct WarmupThread {
    std::thread thread;
    std::atomic<bool> finished{false};
  };

  void doWarmupAsync();
  void warmupBody(WarmupThread* self);
  // Joins the warm-up threads whose body has returned and drops them, so
  // that their stacks do not pile up over many network-size changes.
  void reapFinishedWarmups();

  // The network size and switches; written by setConfig on the host's
  // property thread. The four sizes live in the atomics below instead,
  // because Process writes them on the video thread while the property
  // thread copies the configuration.
  SegmentationConfig config_;
  std::atomic<int32_t> inWidth_{0}, inHeight_{0}, outWidth_{0}, outHeight_{0};
  std::unique_ptr<MattingInterface> adapter_;
  std::atomic<bool> initialised_{false};
  std::atomic<int32_t> state_{kNotReady};
  std::atomic<bool> configChanged_{false};
  // Set when a warm-up thread could not be created: the next frame tries
  // again even though no size changed.
  std::atomic<bool> warmupStartFailed_{false};
  // Touched only on the video thread (Process) and in the destructor.
  std::list<std::shared_ptr<WarmupThread>> warmupThreads_;
  // Frames left before a failed warm-up is tried again.
  int32_t warmupRetryIn_ = 0;
  size_t warmupsStarted_ = 0;
};

}  // namespace tavro
