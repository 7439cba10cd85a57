#include "extension/seg_video_filter.h"

#include <cstring>
#include <limits>
#include <new>
#include <sstream>
#include <vector>

#include "extension/cost_timer.h"

namespace tavro {

namespace {
constexpr char kStartMessage[] = "segmentation: SEGVideoFilter start";
constexpr char kCostMessage[] =
    "segmentation: SEGVideoFilter adaptVideoFrame costtime: ";
}  // namespace

SEGVideoFilter::SEGVideoFilter() : SEGVideoFilter(nullptr) {}

SEGVideoFilter::SEGVideoFilter(std::unique_ptr<VideoSegmentationWrapper> wrapper)
    : wrapper_(wrapper ? std::move(wrapper)
                       : std::unique_ptr<VideoSegmentationWrapper>(
                             new VideoSegmentationWrapper)) {}

SEGVideoFilter::~SEGVideoFilter() {
  wrapper_.reset();
  if (eventSink_) eventSink_->release();
}

void SEGVideoFilter::getProcessingOptions(int32_t* mode, bool* flag) {
  if (mode) *mode = 0;
  if (flag) *flag = false;
}

void SEGVideoFilter::getFrameRequirements(int32_t* a, int32_t* b) {
  if (a) *a = 0;
  if (b) *b = 1;
}

int32_t SEGVideoFilter::start(tavro_rtc::EventSink* sink) {
  tavro_rtc::EventSink* previous = nullptr;
  {
    std::lock_guard<std::mutex> lock(sinkMutex_);
    if (sink != eventSink_) {
      if (sink) sink->addRef();
      previous = eventSink_;
      eventSink_ = sink;
    }
  }
  if (previous) previous->release();
  if (sink) sink->postEvent("log", kStartMessage);
  frameCounter_.store(0);
  if (sink) sink->release();  // the by-value reference
  return 0;
}

int32_t SEGVideoFilter::stop() {
  frameCounter_.store(-1);
  return 0;
}

int32_t SEGVideoFilter::releaseFrame(tavro_rtc::VideoFrame* frame) {
  if (frame) frame->release();
  return 1;
}

int32_t SEGVideoFilter::adaptVideoFrame(tavro_rtc::VideoFrame* in,
                                        tavro_rtc::VideoFrame** out) {
  if (!in) return 2;
  // Work in place: the frame given back is the frame received.
  if (out && *out != in) {
    in->addRef();
    if (*out) (*out)->release();
    *out = in;
  }
  int32_t result = 1;
  if (enabled_.load()) {
    try {
      result = processFrame(in) ? 0 : 2;
    } catch (...) {  // nothing may escape to the host
      result = 2;
    }
  }
  in->release();  // the by-value reference
  return result;
}

bool SEGVideoFilter::processFrame(tavro_rtc::VideoFrame* frame) {
  CostTimer timer("Process");
  frameCounter_.fetch_add(1);

  tavro_rtc::FrameDataRecord record;
  std::memset(&record, 0, sizeof(record));
  record.bufferType = 2;
  record.pixelFormat = 2;
  record.memoryType = 2;
  record.rotation = 0;
  frame->getVideoFrameData(&record);

  const int32_t w = record.width, h = record.height;
  uint8_t* p = record.pixels;
  // A frame without pixels or with a size the mask length cannot express is
  // not processed.
  if (!p || w <= 0 || h <= 0 ||
      static_cast<int64_t>(w) * h > std::numeric_limits<int32_t>::max())
    return false;
  const int32_t area = w * h;

  FrameImage image;
  image.width = w;
  image.height = h;
  image.strideY = w;
  image.strideU = w / 2;
  image.strideV = w / 2;
  image.dataY = p;
  image.dataU = p + area;
  image.dataV = p + area + area / 4;

  std::vector<uint8_t> maskData(static_cast<size_t>(area), 0);
  MaskBuffer mask;
  mask.width = w;
  mask.height = h;
  mask.reserved = 0;
  mask.data = maskData.data();

  wrapper_->Process(image, mask);  // not ready: the mask stays all zero

  tavro_rtc::AlphaBufferRecord alpha;
  alpha.data = mask.data;
  alpha.size = area;
  frame->attachAlphaBuffer(0, &alpha);  // the host copies the bytes
  maskData = std::vector<uint8_t>();

  // The mask is attached: the frame is processed whatever happens to the
  // diagnostics, which need memory of their own.
  try {
    const float ms = timer.elapsedMs();
    PrintCostLine(timer.name(), ms);
    if (frameCounter_.load() % kCostReportPeriod == 0) {
      frameCounter_.store(0);
      reportCost(ms);
    }
  } catch (...) {
  }
  return true;
}

void SEGVideoFilter::reportCost(float ms) {
  std::ostringstream text;
  text << kCostMessage << ms;
  tavro_rtc::EventSink* sink;
  {
    std::lock_guard<std::mutex> lock(sinkMutex_);
    sink = eventSink_;
    if (sink) sink->addRef();
  }
  if (!sink) return;
  sink->postEvent("log", text.str().c_str());
  sink->release();
}

}  // namespace tavro
