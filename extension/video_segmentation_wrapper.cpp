#include "extension/video_segmentation_wrapper.h"

#include <cstring>
#include <iostream>
#include <system_error>

#include "extension/matting_adapter.h"

namespace tavro {

namespace {
// Unformatted output only: the warm-up thread prints while the video thread
// may be formatting its cost line, and unformatted writes leave the stream's
// width and flags alone.
void Say(const char* message) {
  std::cout.write(message, static_cast<std::streamsize>(std::strlen(message)));
  std::cout.put('\n');
  std::cout.flush();
}
}  // namespace

VideoSegmentationWrapper::VideoSegmentationWrapper()
    : VideoSegmentationWrapper(nullptr) {}

VideoSegmentationWrapper::VideoSegmentationWrapper(
    std::unique_ptr<MattingInterface> adapter)
    : adapter_(adapter ? std::move(adapter)
                       : std::unique_ptr<MattingInterface>(new MattingAdapter)) {}

VideoSegmentationWrapper::~VideoSegmentationWrapper() {
  for (auto& thread : warmupThreads_)
    if (thread->joinable()) thread->join();
  adapter_.reset();
}

int32_t VideoSegmentationWrapper::Process(FrameImage image, MaskBuffer& mask) {
  const bool changed = image.width != inWidth_.load() ||
                       image.height != inHeight_.load() ||
                       mask.width != outWidth_.load() ||
                       mask.height != outHeight_.load() ||
                       configChanged_.load();
  if (changed) {
    // Never re-initialise under a running warm-up; the change is seen again
    // with the next frame.
    if (state_.load() == kWarmingUp) return 1;
    inWidth_.exchange(image.width);
    inHeight_.exchange(image.height);
    outWidth_.exchange(mask.width);
    outHeight_.exchange(mask.height);
    Say("[VideoSegmentationWrapper::Process] resolution changed!");
    initialised_.exchange(false);
    if (adapter_->init(image.width, image.height, mask.width, mask.height) == 0)
      initialised_.exchange(true);
    if (state_.load() == kNotReady || configChanged_.load()) {
      configChanged_.exchange(false);
      doWarmupAsync();
      return 1;
    }
    if (!initialised_.load()) {
      Say("[VideoSegmentationWrapper::Process] init failed!");
      return 1;
    }
  }
  if (!initialised_.load() || state_.load() != kReady) return 1;
  return adapter_->process(image, mask);
}

int32_t VideoSegmentationWrapper::setConfig(SegmentationConfig newConfig) {
  if (newConfig.netWidth != config_.netWidth ||
      newConfig.netHeight != config_.netHeight)
    configChanged_.exchange(true);
  config_.netWidth = newConfig.netWidth;
  config_.netHeight = newConfig.netHeight;
  config_.bokeh = newConfig.bokeh;
  config_.reset = newConfig.reset;
  config_.enableOpticalFlow = newConfig.enableOpticalFlow;
  config_.enableMediaFilter = newConfig.enableMediaFilter;
  return adapter_->setConfig(config());
}

SegmentationConfig VideoSegmentationWrapper::config() const {
  SegmentationConfig copy = config_;
  copy.inWidth = inWidth_.load();
  copy.inHeight = inHeight_.load();
  copy.outWidth = outWidth_.load();
  copy.outHeight = outHeight_.load();
  return copy;
}

const char* VideoSegmentationWrapper::version() { return adapter_->version(); }

void VideoSegmentationWrapper::doWarmupAsync() {
  if (!initialised_.load())
    Say("[VideoSegmentationWrapper::doWarmupAsync] need init first!");
  state_.exchange(kWarmingUp);
  try {
    warmupThreads_.push_back(
        std::make_shared<std::thread>(&VideoSegmentationWrapper::warmupBody, this));
  } catch (const std::exception&) {
    // No thread: report it like a failed warm-up, so the next size or
    // network-size change tries again.
    Say("[VideoSegmentationWrapper::doWarmupAsync] warmup failed!");
    state_.exchange(kNotReady);
  }
}

void VideoSegmentationWrapper::warmupBody() {
  // Both warm-up runs always happen; either failing fails the warm-up.
  const int32_t first = adapter_->warmup();
  const int32_t second = adapter_->warmup();
  if ((first | second) == 0) {
    state_.exchange(kReady);
    Say("[VideoSegmentationWrapper::doWarmupAsync] warmuped!");
  } else {
    Say("[VideoSegmentationWrapper::doWarmupAsync] warmup failed!");
    state_.exchange(kNotReady);
  }
}

}  // namespace tavro
