#include "host/composite/masked_blur.h"

#include <algorithm>
#include <cmath>

#include <libyuv/scale.h>

namespace tavro_host {

namespace {

void Scale(const Plane& src, uint8_t* dst, int width, int height, libyuv::FilterMode filter) {
  libyuv::ScalePlane(src.data, src.stride, src.width, src.height, dst, width, width, height,
                     filter);
}

}  // namespace

void MaskedBlur::gaussian(std::vector<float>& image, int width, int height, float sigma) {
  const int radius = std::max(1, int(std::ceil(3 * sigma)));
  kernel_.resize(2 * radius + 1);
  float total = 0;
  for (int i = -radius; i <= radius; ++i)
    total += kernel_[i + radius] = std::exp(-0.5f * i * i / (sigma * sigma));
  for (float& k : kernel_) k /= total;
  // Rows, then columns; the edge pixel repeats past the border.
  line_.resize(std::max(width, height) + 2 * radius);
  for (int y = 0; y < height; ++y) {
    float* row = image.data() + size_t(y) * width;
    for (int x = -radius; x < width + radius; ++x)
      line_[x + radius] = row[std::clamp(x, 0, width - 1)];
    for (int x = 0; x < width; ++x) {
      float s = 0;
      for (int k = 0; k <= 2 * radius; ++k) s += kernel_[k] * line_[x + k];
      row[x] = s;
    }
  }
  for (int x = 0; x < width; ++x) {
    for (int y = -radius; y < height + radius; ++y)
      line_[y + radius] = image[size_t(std::clamp(y, 0, height - 1)) * width + x];
    for (int y = 0; y < height; ++y) {
      float s = 0;
      for (int k = 0; k <= 2 * radius; ++k) s += kernel_[k] * line_[y + k];
      image[size_t(y) * width + x] = s;
    }
  }
}

void MaskedBlur::run(const Plane& src, const Plane& weight, float sigma, const Plane& dst) {
  const int w = src.width, h = src.height;
  if (w <= 0 || h <= 0) return;
  // Cells of about sigma / 2: the gaussian then spans about two cells.
  const int cell = std::max(1, int(sigma / 2));
  const int sw = std::max(1, (w + cell - 1) / cell), sh = std::max(1, (h + cell - 1) / cell);
  const float smallSigma = std::max(0.5f, sigma / float(cell));

  premultiplied_.resize(size_t(w) * h);
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = src.row(y);
    const uint8_t* k = weight.row(y);
    uint8_t* p = premultiplied_.data() + size_t(y) * w;
    for (int x = 0; x < w; ++x) p[x] = uint8_t((s[x] * k[x] + 255) >> 8);
  }
  const size_t cells = size_t(sw) * sh;
  cellColour_.resize(cells);
  cellWeight_.resize(cells);
  cellPlain_.resize(cells);
  Scale(Plane{premultiplied_.data(), w, h, w}, cellColour_.data(), sw, sh, libyuv::kFilterBox);
  Scale(weight, cellWeight_.data(), sw, sh, libyuv::kFilterBox);
  Scale(src, cellPlain_.data(), sw, sh, libyuv::kFilterBox);

  sum_.resize(cells);
  weight_.resize(cells);
  plain_.resize(cells);
  for (size_t i = 0; i < cells; ++i) {
    const float share = cellWeight_[i] * (1.0f / 255);
    const float q = share * share * share;
    const float colour = cellWeight_[i] ? cellColour_[i] * 255.0f / cellWeight_[i] : 0.0f;
    sum_[i] = q * std::min(colour, 255.0f);
    weight_[i] = q;
    plain_[i] = cellPlain_[i];
  }
  gaussian(sum_, sw, sh, smallSigma);
  gaussian(weight_, sw, sh, smallSigma);
  gaussian(plain_, sw, sh, smallSigma);
  small_.resize(cells);
  constexpr float kEps = 1e-4f;
  for (size_t i = 0; i < cells; ++i) {
    const float v = (sum_[i] + kEps * plain_[i]) / (weight_[i] + kEps);
    small_[i] = uint8_t(std::clamp(v + 0.5f, 0.0f, 255.0f));
  }
  libyuv::ScalePlane(small_.data(), sw, sw, sh, dst.data, dst.stride, dst.width, dst.height,
                     libyuv::kFilterBilinear);
}

}  // namespace tavro_host
