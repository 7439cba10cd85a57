#include "extension/video_segmentation_wrapper.h"

#include <pthread.h>

#include <system_error>

#include "diagnostics/diagnostics.h"
#include "extension/matting_adapter.h"
#include "matting/matting_frame.h"

namespace tavro {

namespace {
// One whole line: the diagnostics keep the warm-up thread's lines apart from
// a video thread's cost line.
void Say(const char* message) { tavro_diag::Line(message); }
}  // namespace

VideoSegmentationWrapper::VideoSegmentationWrapper()
    : VideoSegmentationWrapper(nullptr) {}

VideoSegmentationWrapper::VideoSegmentationWrapper(
    std::unique_ptr<MattingInterface> adapter)
    : adapter_(adapter ? std::move(adapter)
                       : std::unique_ptr<MattingInterface>(new MattingAdapter)) {}

VideoSegmentationWrapper::~VideoSegmentationWrapper() {
  for (auto& warmup : warmupThreads_)
    if (warmup->thread.joinable()) warmup->thread.join();
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
  if (state_.load() == kWarmingUp) return 1;
  if (!initialised_.load()) {
    // The last initialisation failed (no memory for the pipeline, say): try
    // again with every frame; once it succeeds, warm up if still needed.
    if (adapter_->init(image.width, image.height, mask.width, mask.height) != 0)
      return 1;
    initialised_.exchange(true);
    if (state_.load() == kNotReady) {
      doWarmupAsync();
      return 1;
    }
  }
  if (state_.load() == kNotReady) {
    // A warm-up whose thread could not be made is tried again with the next
    // frame; one that ran and failed, after kWarmupRetryFrames frames.
    if (warmupStartFailed_.load() || --warmupRetryIn_ <= 0) doWarmupAsync();
    return 1;
  }
  return adapter_->process(image, mask);
}

int32_t VideoSegmentationWrapper::setConfig(SegmentationConfig newConfig) {
  if (newConfig.netWidth != config_.netWidth ||
      newConfig.netHeight != config_.netHeight)
    configChanged_.exchange(true);
  config_.netWidth = newConfig.netWidth;
  config_.netHeight = newConfig.netHeight;
  config_.reset = newConfig.reset;
  config_.settings = newConfig.settings;
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

void VideoSegmentationWrapper::reapFinishedWarmups() {
  for (auto it = warmupThreads_.begin(); it != warmupThreads_.end();) {
    WarmupThread& warmup = **it;
    if (!warmup.finished.load()) {
      ++it;
      continue;
    }
    if (warmup.thread.joinable()) warmup.thread.join();
    it = warmupThreads_.erase(it);
  }
}

void VideoSegmentationWrapper::doWarmupAsync() {
  if (!initialised_.load())
    Say("[VideoSegmentationWrapper::doWarmupAsync] need init first!");
  reapFinishedWarmups();
  state_.exchange(kWarmingUp);
  try {
    auto warmup = std::make_shared<WarmupThread>();
    warmupThreads_.push_back(warmup);
    try {
      warmup->thread =
          std::thread(&VideoSegmentationWrapper::warmupBody, this, warmup.get());
    } catch (...) {
      warmupThreads_.pop_back();
      throw;
    }
  } catch (...) {
    // No thread (or no memory for its record). The warm-up has not failed,
    // it has not run: the next frame tries again. Said once per run of
    // failures.
    if (!warmupStartFailed_.exchange(true))
      Say("[VideoSegmentationWrapper::doWarmupAsync] warmup failed!");
    state_.exchange(kNotReady);
    return;
  }
  warmupStartFailed_.exchange(false);
  warmupRetryIn_ = kWarmupRetryFrames;
  ++warmupsStarted_;
}

void VideoSegmentationWrapper::warmupBody(WarmupThread* self) {
  // Named so that it can be told apart in a debugger or a fault plan; it
  // would otherwise carry the name of the video thread that made it.
  pthread_setname_np(pthread_self(), "TavroWarmup");
  // Both warm-up runs always happen; either failing fails the warm-up. An
  // exception counts as a failed run: nothing may end this thread but its
  // own return.
  auto run = [this]() -> int32_t {
    try {
      return adapter_->warmup();
    } catch (...) {
      return -1;
    }
  };
  const int32_t first = run();
  const int32_t second = run();
  try {
    if ((first | second) == 0) {
      state_.exchange(kReady);
      Say("[VideoSegmentationWrapper::doWarmupAsync] warmuped!");
    } else {
      Say("[VideoSegmentationWrapper::doWarmupAsync] warmup failed!");
      state_.exchange(kNotReady);
    }
  } catch (...) {
    state_.exchange((first | second) == 0 ? kReady : kNotReady);
  }
  // This thread ran the pipeline; its OpenCV data goes back here, where a
  // failing allocation cannot end the process.
  TavroMatting::ReleasePipelineThreadData();
  self->finished.store(true);
}

}  // namespace tavro
