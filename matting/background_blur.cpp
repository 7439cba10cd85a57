#include "matting/background_blur.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace TavroMatting {

namespace {
bool ValidKernelSize(int k) { return k >= 1 && k <= kMaxBlurKernel && (k & 1); }
}  // namespace

int32_t MakeGaussianKernel2D(float* table, int k, float sigma) {
  if (!table || !ValidKernelSize(k)) return -1;
  std::memset(table, 0, sizeof(float) * size_t(k + 1) * k);
  const float s = sigma > 0.f ? sigma : float(((k - 1) * 0.5 - 1) * 0.3 + 0.8);
  float g[kMaxBlurKernel];
  float sum = 0.f;
  const float centre = float(k - 1) / 2.f;
  for (int i = 0; i < k; ++i) {
    const float d = float(i) - centre;
    g[i] = std::exp(-(d * d) / (2.f * s * s));
    sum += g[i];
  }
  const float norm = sum * sum;
  for (int y = 0; y < k; ++y)
    for (int x = 0; x < k; ++x) table[y * (k + 1) + x] = g[y] * g[x] / norm;
  return 0;
}

int32_t Filter2D(const float* kernel, int k, const uint8_t* src, int width,
                 int height, int srcStride, uint8_t* dst, int dstStride,
                 uint8_t* rows) {
  if (!kernel || !ValidKernelSize(k) || !src || !dst || !rows) return -1;
  if (width < 1 || height < 1) return 0;
  const int r = (k - 1) / 2;
  const int pitch = width + k;
  // Ring of k extended rows; slot s holds source row (top + s) mod k.
  auto extend = [&](int srcRow, int slot) {
    const uint8_t* s = src + size_t(srcRow) * srcStride;
    uint8_t* d = rows + size_t(slot) * pitch;
    std::memset(d, s[0], r);
    std::memcpy(d + r, s, width);
    std::memset(d + r + width, s[width - 1], r);
  };
  // Window rows y - r .. y + r; ring slot of window row j is (first + j) % k.
  for (int j = 0; j < k; ++j) extend(std::clamp(j - r, 0, height - 1), j);
  int first = 0;
  for (int y = 0; y < height; ++y) {
    uint8_t* out = dst + size_t(y) * dstStride;
    for (int x = 0; x < width; ++x) {
      float acc = 0.f;
      for (int j = 0; j < k; ++j) {
        const uint8_t* e = rows + size_t((first + j) % k) * pitch + x;
        const float* kr = kernel + j * (k + 1);
        for (int i = 0; i < k; ++i) acc += kr[i] * float(e[i]);
      }
      out[x] = uint8_t(std::min(acc, 255.f));
    }
    // The oldest row leaves; the row entering at the bottom (y + 1 + r,
    // clamped) was not yet written as output, so in-place use is safe.
    if (y + 1 < height) {
      extend(std::min(y + 1 + r, height - 1), first);
      first = (first + 1) % k;
    }
  }
  return 0;
}

}  // namespace TavroMatting
