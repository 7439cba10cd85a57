#include "host/flicker_meter.h"

#include <cstdlib>

namespace tavro_host {

void FlickerMeter::add(const uint8_t* mask, int width, int height) {
  if (!mask || width <= 0 || height <= 0) return;
  const size_t n = size_t(width) * height;
  if (width == width_ && height == height_ && previous_.size() == n) {
    uint64_t total = 0;
    for (size_t i = 0; i < n; ++i) total += std::abs(int(mask[i]) - int(previous_[i]));
    sum_ += double(total) / double(n);
    ++pairs_;
  }
  previous_.assign(mask, mask + n);
  width_ = width;
  height_ = height;
}

}  // namespace tavro_host
