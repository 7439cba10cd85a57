// Edge refinement: a fast guided filter that lets the mask's edges follow the
// frame's own edges (hair, shoulders) instead of the network's coarse grid.
//
// The filter's linear coefficients (mask = a * luma + b, per window) are
// computed at the work size from the work-size mask and luma, smoothed, and
// then applied at the output size with the full-resolution luma: the cost at
// the output size is one interpolation and one multiply-add per pixel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace TavroMatting {

class EdgeRefiner {
 public:
  // Window radius as a share of the work width (4 at 320: measured on the
  // validation stills, wider windows smear the edges), and the regulariser on
  // the luma variance (luma in 0..1): flat regions keep the mask's own value,
  // strong luma edges pull the mask edge onto them.
  static constexpr int kRadiusDivisor = 80;
  static constexpr float kEps = 1e-3f;
  // The filtered mask's contrast about one half: the filter softens what was
  // decided, the gain gives that back without moving the half-way line.
  static constexpr float kGain = 1.5f;

  // Writes the refined mask (outWidth x outHeight, stride outWidth) from the
  // work-size mask and luma (width x height, stride width) and the frame's
  // luma at the output size. Returns false, with `out` untouched, when its
  // scratch could not be allocated.
  bool Refine(const uint8_t* mask, const uint8_t* luma, int32_t width, int32_t height,
              const uint8_t* fullLuma, int32_t fullStride, uint8_t* out,
              int32_t outWidth, int32_t outHeight);

 private:
  bool Reserve(int32_t width, int32_t height, int32_t outWidth);
  void Coefficients(const uint8_t* mask, const uint8_t* luma, int32_t width,
                    int32_t height);

  int32_t width_ = 0, height_ = 0, outWidth_ = 0;
  // Work-size planes: a and b; box-filter scratch; a and b spread to the
  // output width, one row per work row.
  std::unique_ptr<float[]> a_, b_, sums_, wideA_, wideB_;
  std::unique_ptr<int32_t[]> x0_;
  std::unique_ptr<float[]> fx_;
};

}  // namespace TavroMatting
