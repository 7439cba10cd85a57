#include "host/i420_image.h"

#include <algorithm>

#include <opencv2/imgproc.hpp>

namespace tavro_host {

namespace {
inline uint8_t Clip(int v) { return static_cast<uint8_t>(std::min(255, std::max(0, v))); }
}  // namespace

I420Image::I420Image(int w, int h) : width(w), height(h), data(SizeFor(w, h)) {}

size_t I420Image::SizeFor(int w, int h) {
  if (w <= 0 || h <= 0) return 0;
  return size_t(w) * h + 2 * size_t(w / 2) * (h / 2);
}

I420Image BgrToI420(const cv::Mat& input) {
  cv::Mat bgr;
  if (input.channels() == 1)
    cv::cvtColor(input, bgr, cv::COLOR_GRAY2BGR);
  else if (input.channels() == 4)
    cv::cvtColor(input, bgr, cv::COLOR_BGRA2BGR);
  else
    bgr = input;
  I420Image out(bgr.cols, bgr.rows);
  for (int r = 0; r < bgr.rows; ++r) {
    const uint8_t* p = bgr.ptr<uint8_t>(r);
    uint8_t* y = out.y() + size_t(r) * out.width;
    for (int c = 0; c < bgr.cols; ++c, p += 3)
      y[c] = Clip(((66 * p[2] + 129 * p[1] + 25 * p[0] + 128) >> 8) + 16);
  }
  for (int r = 0; r < out.chromaHeight(); ++r) {
    const uint8_t* p0 = bgr.ptr<uint8_t>(2 * r);
    const uint8_t* p1 = bgr.ptr<uint8_t>(2 * r + 1);
    uint8_t* u = out.u() + size_t(r) * out.chromaWidth();
    uint8_t* v = out.v() + size_t(r) * out.chromaWidth();
    for (int c = 0; c < out.chromaWidth(); ++c) {
      const int i = 6 * c;
      const int b = (p0[i] + p0[i + 3] + p1[i] + p1[i + 3] + 2) >> 2;
      const int g = (p0[i + 1] + p0[i + 4] + p1[i + 1] + p1[i + 4] + 2) >> 2;
      const int rr = (p0[i + 2] + p0[i + 5] + p1[i + 2] + p1[i + 5] + 2) >> 2;
      u[c] = Clip(((-38 * rr - 74 * g + 112 * b + 128) >> 8) + 128);
      v[c] = Clip(((112 * rr - 94 * g - 18 * b + 128) >> 8) + 128);
    }
  }
  return out;
}

cv::Mat I420ToBgr(const I420Image& image) {
  cv::Mat bgr(image.height, image.width, CV_8UC3);
  const int cw = image.chromaWidth(), ch = image.chromaHeight();
  for (int r = 0; r < image.height; ++r) {
    const uint8_t* y = image.y() + size_t(r) * image.width;
    const int cr = std::min(r / 2, ch - 1);
    uint8_t* out = bgr.ptr<uint8_t>(r);
    for (int c = 0; c < image.width; ++c, out += 3) {
      int d = 0, e = 0;
      if (cw > 0 && ch > 0) {
        const size_t ci = size_t(cr) * cw + std::min(c / 2, cw - 1);
        d = image.u()[ci] - 128;
        e = image.v()[ci] - 128;
      }
      const int cc = 298 * (y[c] - 16);
      out[0] = Clip((cc + 516 * d + 128) >> 8);
      out[1] = Clip((cc - 100 * d - 208 * e + 128) >> 8);
      out[2] = Clip((cc + 409 * e + 128) >> 8);
    }
  }
  return bgr;
}

}  // namespace tavro_host
