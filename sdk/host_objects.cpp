// The stand-in host's video frame and event sink.
#include <cstdio>
#include <cstring>

#include "sdk/sdk_host.h"

namespace tavro_rtc {

size_t HostVideoFrame::VOffset(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return 0;
  const size_t area = static_cast<size_t>(width) * static_cast<size_t>(height);
  return area + area / 4;
}

size_t HostVideoFrame::I420Size(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return 0;
  const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
  return VOffset(width, height) + (w / 2) * (h / 2);
}

void HostVideoFrame::setPlanes(const std::vector<uint8_t>& tight) {
  const size_t area = size_t(width_) * size_t(height_);
  const size_t chroma = size_t(width_ / 2) * size_t(height_ / 2);
  if (pixels_.empty() || tight.size() < area + 2 * chroma) return;
  std::memcpy(pixels_.data(), tight.data(), area + chroma);
  std::memcpy(pixels_.data() + VOffset(width_, height_),
              tight.data() + area + chroma, chroma);
}

void HostVideoFrame::getPlanes(std::vector<uint8_t>& tight) const {
  const size_t area = size_t(width_) * size_t(height_);
  const size_t chroma = size_t(width_ / 2) * size_t(height_ / 2);
  tight.resize(pixels_.empty() ? 0 : area + 2 * chroma);
  if (pixels_.empty()) return;
  std::memcpy(tight.data(), pixels_.data(), area + chroma);
  std::memcpy(tight.data() + area + chroma,
              pixels_.data() + VOffset(width_, height_), chroma);
}

HostVideoFrame* HostVideoFrame::Create(int32_t width, int32_t height) {
  auto* frame = new HostVideoFrame(width, height);
  frame->addRef();
  return frame;
}

HostVideoFrame::HostVideoFrame(int32_t width, int32_t height)
    : width_(width), height_(height), pixels_(I420Size(width, height)) {}

HostVideoFrame::~HostVideoFrame() = default;

void HostVideoFrame::addRef() const { count_.fetch_add(1); }

int32_t HostVideoFrame::release() const {
  if (count_.fetch_sub(1) == 1) {
    delete this;
    return 0;
  }
  return 1;
}

bool HostVideoFrame::hasOneRef() const { return count_.load() == 1; }

int32_t HostVideoFrame::getVideoFrameData(FrameDataRecord* data) const {
  if (!data) return -1;
  lastRequest_ = *data;
  data->pixels = pixels_.empty() ? nullptr : pixels_.data();
  data->width = width_;
  data->height = height_;
  return 0;
}

int32_t HostVideoFrame::attachAlphaBuffer(int32_t index,
                                          const AlphaBufferRecord* alpha) {
  if (index != 0 || !alpha || alpha->size < 0 ||
      (alpha->size > 0 && !alpha->data))
    return -1;
  alpha_.assign(alpha->data, alpha->data + alpha->size);
  ++attachCount_;
  return 0;
}

HostEventSink* HostEventSink::Create(bool echo) {
  auto* sink = new HostEventSink(echo);
  sink->addRef();
  return sink;
}

HostEventSink::~HostEventSink() = default;

void HostEventSink::addRef() const { count_.fetch_add(1); }

int32_t HostEventSink::release() const {
  if (count_.fetch_sub(1) == 1) {
    delete this;
    return 0;
  }
  return 1;
}

bool HostEventSink::hasOneRef() const { return count_.load() == 1; }

void HostEventSink::postEvent(const char* key, const char* value) {
  std::string k = key ? key : "", v = value ? value : "";
  if (echo_) std::fprintf(stderr, "[host event %s] %s\n", k.c_str(), v.c_str());
  std::lock_guard<std::mutex> lock(mutex_);
  events_.emplace_back(std::move(k), std::move(v));
}

std::vector<std::pair<std::string, std::string>> HostEventSink::events() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

}  // namespace tavro_rtc
