// A contiguous I420 picture as the filter reads it: Y plane of width x
// height, then U and V planes of (width / 2) x (height / 2) (integer halves,
// no row padding), plus conversions from and to OpenCV BGR images.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

namespace tavro_host {

struct I420Image {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> data;

  I420Image() = default;
  I420Image(int w, int h);

  int chromaWidth() const { return width / 2; }
  int chromaHeight() const { return height / 2; }
  size_t lumaSize() const { return size_t(width) * height; }
  size_t chromaSize() const { return size_t(chromaWidth()) * chromaHeight(); }
  static size_t SizeFor(int w, int h);

  uint8_t* y() { return data.data(); }
  uint8_t* u() { return data.data() + lumaSize(); }
  uint8_t* v() { return data.data() + lumaSize() + chromaSize(); }
  const uint8_t* y() const { return data.data(); }
  const uint8_t* u() const { return data.data() + lumaSize(); }
  const uint8_t* v() const { return data.data() + lumaSize() + chromaSize(); }
};

// BT.601 studio range. Chroma is the average of each full 2 x 2 block; an odd
// last column or row has no chroma sample of its own.
I420Image BgrToI420(const cv::Mat& bgr);
// Pixels of an odd last column or row reuse the nearest chroma sample; a
// frame without chroma (width or height 1) comes out grey-toned.
cv::Mat I420ToBgr(const I420Image& image);

}  // namespace tavro_host
