#include "matting/median_blur.h"

#include <algorithm>
#include <cstring>

namespace TavroMatting {

namespace {

// Two-level histogram of one window: 256 fine bins and 16 coarse bins of
// value >> 4, so finding the median walks at most 32 bins.
struct Histogram {
  uint16_t coarse[16];
  uint16_t fine[256];

  void Clear() {
    std::memset(coarse, 0, sizeof(coarse));
    std::memset(fine, 0, sizeof(fine));
  }
  void AddRow(const uint8_t* p, int k, int times) {
    for (int i = 0; i < k; ++i) {
      fine[p[i]] = uint16_t(fine[p[i]] + times);
      coarse[p[i] >> 4] = uint16_t(coarse[p[i] >> 4] + times);
    }
  }
  void Swap(const uint8_t* out, const uint8_t* in, int k) {
    for (int i = 0; i < k; ++i) {
      // Masks are mostly flat: a value replaced by itself changes nothing.
      if (out[i] == in[i]) continue;
      --fine[out[i]];
      --coarse[out[i] >> 4];
      ++fine[in[i]];
      ++coarse[in[i] >> 4];
    }
  }
  uint8_t Rank(int rank) const {
    int seen = 0, c = 0;
    while (seen + coarse[c] <= rank) seen += coarse[c++];
    int v = c << 4;
    while (seen + fine[v] <= rank) seen += fine[v++];
    return uint8_t(v);
  }
  // The same value found from the top: rank from the top is count-1-rank.
  // Cheaper when the median is high, which in a mask it often is.
  uint8_t RankFromTop(int rank, int count) const {
    const int top = count - 1 - rank;
    int seen = 0, c = 15;
    while (seen + coarse[c] <= top) seen += coarse[c--];
    int v = (c << 4) + 15;
    while (seen + fine[v] <= top) seen += fine[v--];
    return uint8_t(v);
  }
};

}  // namespace

void MedianBlur(const uint8_t* src, uint8_t* dst, int k, int srcPitch,
                int width, int height) {
  if (!src || !dst || width < 1 || height < 1 || k < 1 || k > 31 || !(k & 1))
    return;
  const int r = k / 2;
  const int rank = k * k / 2;
  auto row = [&](int y) {
    return src + size_t(std::clamp(y, 0, height - 1)) * srcPitch;
  };
  Histogram h;
  // One window per output column, slid down the image one row at a time:
  // each step removes the k values of the leaving row and adds the entering
  // row's (the edge row again beyond the image).
  for (int x = 0; x < width; ++x) {
    h.Clear();
    h.AddRow(row(0) + x, k, r + 1);
    for (int j = 1; j <= r; ++j) h.AddRow(row(j) + x, k, 1);
    uint8_t median = h.Rank(rank);
    dst[x] = median;
    for (int y = 1; y < height; ++y) {
      h.Swap(row(y - r - 1) + x, row(y + r) + x, k);
      median = median < 128 ? h.Rank(rank) : h.RankFromTop(rank, k * k);
      dst[size_t(y) * width + x] = median;
    }
  }
}

void SkinMedianBlur(uint8_t* mask, const uint8_t* skinMap, uint8_t* pad,
                    int width, int height, int k) {
  if (!mask || !skinMap || !pad || width < 1 || height < 1 || k < 1 ||
      k > 31 || !(k & 1))
    return;
  const size_t n = size_t(width) * height;
  for (size_t i = 0; i < n; ++i)
    if (skinMap[i] != 0 && mask[i] >= 3 && mask[i] <= 63) mask[i] += 191;
  const int r = k / 2;
  const int pitch = width + 2 * r;
  for (int y = 0; y < height; ++y) {
    const uint8_t* s = mask + size_t(y) * width;
    uint8_t* d = pad + size_t(y) * pitch;
    std::memset(d, s[0], r);
    std::memcpy(d + r, s, width);
    std::memset(d + r + width, s[width - 1], r);
  }
  MedianBlur(pad, mask, k, pitch, width, height);
}

}  // namespace TavroMatting
