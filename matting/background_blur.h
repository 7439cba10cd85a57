// The strong blur behind the person for "bokeh": a float gaussian applied to
// a small copy of each plane.
#pragma once

#include <cstdint>

namespace TavroMatting {

constexpr int kMaxBlurKernel = 31;

// Fills table ((k + 1) * k floats, row pitch k + 1, last float of each row 0)
// with the normalised k x k gaussian. sigma <= 0 picks
// ((k - 1) * 0.5 - 1) * 0.3 + 0.8. Returns -1 for a null table or a k that is
// even, below 1 or above 31 (table untouched), else 0.
int32_t MakeGaussianKernel2D(float* table, int k, float sigma);

// dst(x, y) := min(255, sum kernel(j, i) * src(y + j - r, x + i - r)) with the
// fraction dropped, replicated borders. rows: scratch of (width + k) * k bytes.
// src and dst may be the same buffer. Returns -1 under MakeGaussianKernel2D's
// conditions on kernel and k (or a missing buffer), else 0.
int32_t Filter2D(const float* kernel, int k, const uint8_t* src, int width,
                 int height, int srcStride, uint8_t* dst, int dstStride,
                 uint8_t* rows);

}  // namespace TavroMatting
