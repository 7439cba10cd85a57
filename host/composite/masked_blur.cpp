#include "host/composite/masked_blur.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <libyuv/scale.h>

#include "host/composite/pixel_rows.h"

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

void MaskedBlur::run(const Plane& src, const Plane& mask, const uint8_t weightLut[256],
                     float sigma, const Plane& dst) {
  const int w = src.width, h = src.height;
  if (w <= 0 || h <= 0) return;
  // Cells of about sigma / 2: the gaussian then spans about two cells.
  const int cell = std::max(1, int(sigma / 2));
  const int sw = std::max(1, (w + cell - 1) / cell), sh = std::max(1, (h + cell - 1) / cell);
  const float smallSigma = std::max(0.5f, sigma / float(cell));

  // The plane and the mask at an eighth of a cell, where the weighting runs.
  const int step = std::max(1, cell / 8);
  const int dw = (w + step - 1) / step, dh = (h + step - 1) / step;
  const size_t area = size_t(dw) * dh;
  Plane source = src;
  if (step > 1) {
    source_.resize(area);
    Scale(src, source_.data(), dw, dh, libyuv::kFilterBox);
    source = Plane{source_.data(), dw, dh, dw};
  }
  mask_.resize(area);
  if (mask.width == dw && mask.height == dh) {
    for (int y = 0; y < dh; ++y) std::memcpy(mask_.data() + size_t(y) * dw, mask.row(y), dw);
  } else {
    Scale(mask, mask_.data(), dw, dh, libyuv::kFilterBox);
  }
  weight_.resize(area);
  for (size_t i = 0; i < area; ++i) weight_[i] = weightLut[mask_[i]];
  premultiplied_.resize(area);
  for (int y = 0; y < dh; ++y)
    ScaleRow(source.row(y), weight_.data() + size_t(y) * dw, premultiplied_.data() + size_t(y) * dw,
             dw);

  const size_t cells = size_t(sw) * sh;
  cellColour_.resize(cells);
  cellWeight_.resize(cells);
  cellPlain_.resize(cells);
  Scale(Plane{premultiplied_.data(), dw, dh, dw}, cellColour_.data(), sw, sh, libyuv::kFilterBox);
  Scale(Plane{weight_.data(), dw, dh, dw}, cellWeight_.data(), sw, sh, libyuv::kFilterBox);
  Scale(source, cellPlain_.data(), sw, sh, libyuv::kFilterBox);

  // A cell counts with the cube of its background share, with the colour
  // of its background pixels alone.
  sum_.resize(cells);
  weightSum_.resize(cells);
  plain_.resize(cells);
  for (size_t i = 0; i < cells; ++i) {
    const float share = cellWeight_[i] * (1.0f / 255);
    const float q = share * share * share;
    const float colour = cellWeight_[i] ? cellColour_[i] * 255.0f / cellWeight_[i] : 0.0f;
    sum_[i] = q * std::min(colour, 255.0f);
    weightSum_[i] = q;
    plain_[i] = cellPlain_[i];
  }
  gaussian(sum_, sw, sh, smallSigma);
  gaussian(weightSum_, sw, sh, smallSigma);
  gaussian(plain_, sw, sh, smallSigma);
  small_.resize(cells);
  constexpr float kEps = 1e-4f;
  for (size_t i = 0; i < cells; ++i) {
    const float v = (sum_[i] + kEps * plain_[i]) / (weightSum_[i] + kEps);
    small_[i] = uint8_t(std::clamp(v + 0.5f, 0.0f, 255.0f));
  }
  libyuv::ScalePlane(small_.data(), sw, sw, sh, dst.data, dst.stride, dst.width, dst.height,
                     libyuv::kFilterBilinear);
}

}  // namespace tavro_host
