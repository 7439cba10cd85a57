#include "matting/edge_refine.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace TavroMatting {

namespace {

// Mean over a (2r+1) square window, clipped at the borders, of `src`
// (width x height) into `dst`; `rows` holds width floats of scratch.
void BoxMean(const float* src, float* dst, float* rows, int32_t width, int32_t height,
             int32_t r) {
  // Vertical pass into dst, then horizontal pass through rows.
  for (int32_t x = 0; x < width; ++x) rows[x] = 0.0f;
  for (int32_t y = 0; y < std::min(r, height); ++y)
    for (int32_t x = 0; x < width; ++x) rows[x] += src[size_t(y) * width + x];
  for (int32_t y = 0; y < height; ++y) {
    const int32_t add = y + r, drop = y - r - 1;
    if (add < height)
      for (int32_t x = 0; x < width; ++x) rows[x] += src[size_t(add) * width + x];
    if (drop >= 0)
      for (int32_t x = 0; x < width; ++x) rows[x] -= src[size_t(drop) * width + x];
    const float inv = 1.0f / float(std::min(height - 1, y + r) - std::max(0, y - r) + 1);
    float* d = dst + size_t(y) * width;
    for (int32_t x = 0; x < width; ++x) d[x] = rows[x] * inv;
  }
  for (int32_t y = 0; y < height; ++y) {
    float* d = dst + size_t(y) * width;
    float run = 0.0f;
    for (int32_t x = 0; x < std::min(r, width); ++x) run += d[x];
    // The row is rewritten in place, so the values leaving the window are
    // kept in `rows`.
    for (int32_t x = 0; x < width; ++x) rows[x] = d[x];
    for (int32_t x = 0; x < width; ++x) {
      const int32_t add = x + r, drop = x - r - 1;
      if (add < width) run += rows[add];
      if (drop >= 0) run -= rows[drop];
      d[x] = run / float(std::min(width - 1, x + r) - std::max(0, x - r) + 1);
    }
  }
}

template <class T>
std::unique_ptr<T[]> Make(size_t n) {
  return std::unique_ptr<T[]>(new (std::nothrow) T[n]);
}

}  // namespace

bool EdgeRefiner::Reserve(int32_t width, int32_t height, int32_t outWidth) {
  if (width == width_ && height == height_ && outWidth == outWidth_) return true;
  width_ = height_ = outWidth_ = 0;
  const size_t n = size_t(width) * height, wide = size_t(outWidth) * height;
  a_ = Make<float>(n);
  b_ = Make<float>(n);
  // Four planes for the window sums plus one row of scratch.
  sums_ = Make<float>(4 * n + size_t(width));
  wideA_ = Make<float>(wide);
  wideB_ = Make<float>(wide);
  x0_ = Make<int32_t>(size_t(outWidth));
  fx_ = Make<float>(size_t(outWidth));
  if (!a_ || !b_ || !sums_ || !wideA_ || !wideB_ || !x0_ || !fx_) return false;
  width_ = width;
  height_ = height;
  outWidth_ = outWidth;
  return true;
}

void EdgeRefiner::Coefficients(const uint8_t* mask, const uint8_t* luma, int32_t width,
                               int32_t height) {
  const size_t n = size_t(width) * height;
  const int32_t r = std::max(1, width / kRadiusDivisor);
  float* I = sums_.get();
  float* p = I + n;
  float* Ip = p + n;
  float* II = Ip + n;
  float* rows = II + n;
  for (size_t i = 0; i < n; ++i) {
    const float li = luma[i] * (1.0f / 255.0f), pi = mask[i] * (1.0f / 255.0f);
    I[i] = li;
    p[i] = pi;
    Ip[i] = li * pi;
    II[i] = li * li;
  }
  for (float* plane : {I, p, Ip, II}) {
    BoxMean(plane, a_.get(), rows, width, height, r);
    std::copy(a_.get(), a_.get() + n, plane);
  }
  for (size_t i = 0; i < n; ++i) {
    const float var = II[i] - I[i] * I[i], cov = Ip[i] - I[i] * p[i];
    const float a = cov / (var + kEps);
    a_[i] = a;
    b_[i] = p[i] - a * I[i];
  }
  BoxMean(a_.get(), I, rows, width, height, r);
  BoxMean(b_.get(), p, rows, width, height, r);
  // mask = gain * (a * luma + b - 1/2) + 1/2, folded into a and b.
  for (size_t i = 0; i < n; ++i) {
    a_[i] = kGain * I[i];
    b_[i] = kGain * (p[i] - 0.5f) + 0.5f;
  }
}

bool EdgeRefiner::Refine(const uint8_t* mask, const uint8_t* luma, int32_t width,
                         int32_t height, const uint8_t* fullLuma, int32_t fullStride,
                         uint8_t* out, int32_t outWidth, int32_t outHeight) {
  if (!mask || !luma || !fullLuma || !out || width < 1 || height < 1 || outWidth < 1 ||
      outHeight < 1)
    return false;
  if (!Reserve(width, height, outWidth)) return false;
  Coefficients(mask, luma, width, height);

  // Centre-aligned bilinear geometry, as the mask's own scaling uses.
  const float sx = float(width) / float(outWidth), sy = float(height) / float(outHeight);
  for (int32_t x = 0; x < outWidth; ++x) {
    const float fx = std::clamp((x + 0.5f) * sx - 0.5f, 0.0f, float(width - 1));
    x0_[x] = std::min(int32_t(fx), width - 2 < 0 ? 0 : width - 2);
    fx_[x] = width > 1 ? fx - float(x0_[x]) : 0.0f;
  }
  const int32_t x1Step = width > 1 ? 1 : 0;
  for (int32_t y = 0; y < height; ++y) {
    const float* ar = a_.get() + size_t(y) * width;
    const float* br = b_.get() + size_t(y) * width;
    float* wa = wideA_.get() + size_t(y) * outWidth;
    float* wb = wideB_.get() + size_t(y) * outWidth;
    for (int32_t x = 0; x < outWidth; ++x) {
      const int32_t i = x0_[x];
      const float f = fx_[x];
      wa[x] = ar[i] + f * (ar[i + x1Step] - ar[i]);
      wb[x] = br[i] + f * (br[i + x1Step] - br[i]);
    }
  }
  for (int32_t y = 0; y < outHeight; ++y) {
    const float fy = std::clamp((y + 0.5f) * sy - 0.5f, 0.0f, float(height - 1));
    const int32_t y0 = std::min(int32_t(fy), height > 1 ? height - 2 : 0);
    const int32_t y1 = height > 1 ? y0 + 1 : y0;
    const float wy = height > 1 ? fy - float(y0) : 0.0f;
    const float* a0 = wideA_.get() + size_t(y0) * outWidth;
    const float* a1 = wideA_.get() + size_t(y1) * outWidth;
    const float* b0 = wideB_.get() + size_t(y0) * outWidth;
    const float* b1 = wideB_.get() + size_t(y1) * outWidth;
    const uint8_t* g = fullLuma + size_t(y) * fullStride;
    uint8_t* o = out + size_t(y) * outWidth;
    for (int32_t x = 0; x < outWidth; ++x) {
      const float a = a0[x] + wy * (a1[x] - a0[x]);
      const float b = b0[x] + wy * (b1[x] - b0[x]);
      const float q = (a * (g[x] * (1.0f / 255.0f)) + b) * 255.0f + 0.5f;
      o[x] = uint8_t(std::clamp(q, 0.0f, 255.0f));
    }
  }
  return true;
}

}  // namespace TavroMatting
