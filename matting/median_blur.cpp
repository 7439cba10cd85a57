#include "matting/median_blur.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace TavroMatting {

namespace {

// Whether k bytes are equal, eight at a time (k is small and not known at
// compile time, where memcmp would be a call).
bool SameBytes(const uint8_t* a, const uint8_t* b, int k) {
  int i = 0;
  for (; i + 8 <= k; i += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) return false;
  }
  for (; i < k; ++i)
    if (a[i] != b[i]) return false;
  return true;
}

// Histogram of one k x k window together with its median m and the number
// of values below m. Sliding the window one row changes at most 2k counts,
// and the median moves from its old place only as far as those changes
// push it, so it is found by walking from there instead of from an end.
struct Window {
  uint16_t count[256];
  uint16_t block[16];  // counts of value >> 4, to cross empty stretches fast
  int rank;    // the median is the value of this rank (k * k / 2)
  int median;
  int below;   // values < median

  void Start(int k) {
    std::memset(count, 0, sizeof(count));
    std::memset(block, 0, sizeof(block));
    rank = k * k / 2;
    median = 0;
    below = 0;
  }
  void AddRow(const uint8_t* p, int k, int times) {
    for (int i = 0; i < k; ++i) {
      count[p[i]] = uint16_t(count[p[i]] + times);
      block[p[i] >> 4] = uint16_t(block[p[i] >> 4] + times);
    }
  }
  // Replaces the leaving row's values by the entering row's.
  // Masks are mostly flat: a value replaced by itself changes nothing, and
  // most rows are replaced by equal rows, which one comparison finds.
  void Swap(const uint8_t* out, const uint8_t* in, int k) {
    if (SameBytes(out, in, k)) return;
    for (int i = 0; i < k; ++i) {
      if (out[i] == in[i]) continue;
      --count[out[i]];
      --block[out[i] >> 4];
      ++count[in[i]];
      ++block[in[i] >> 4];
      below += (in[i] < median) - (out[i] < median);
    }
  }
  // Moves the median to the value v with below(v) <= rank < below(v) + count[v].
  // From the start of a block of 16 values, a whole block is crossed at once.
  uint8_t Settle() {
    while (below > rank) {
      if ((median & 15) == 0 && below - block[(median >> 4) - 1] > rank) {
        below -= block[(median >> 4) - 1];
        median -= 16;
      } else {
        below -= count[--median];
      }
    }
    while (below + count[median] <= rank) {
      if ((median & 15) == 0 && below + block[median >> 4] <= rank) {
        below += block[median >> 4];
        median += 16;
      } else {
        below += count[median++];
      }
    }
    return uint8_t(median);
  }
};

}  // namespace

void MedianBlur(const uint8_t* src, uint8_t* dst, int k, int srcPitch,
                int width, int height) {
  if (!src || !dst || width < 1 || height < 1 || k < 1 || k > 31 || !(k & 1))
    return;
  const int r = k / 2;
  auto row = [&](int y) {
    return src + size_t(std::clamp(y, 0, height - 1)) * srcPitch;
  };
  Window w;
  // One window per output column, slid down the image one row at a time:
  // each step removes the k values of the leaving row and adds the entering
  // row's (the edge row again beyond the image).
  for (int x = 0; x < width; ++x) {
    w.Start(k);
    w.AddRow(row(0) + x, k, r + 1);
    for (int j = 1; j <= r; ++j) w.AddRow(row(j) + x, k, 1);
    dst[x] = w.Settle();
    for (int y = 1; y < height; ++y) {
      w.Swap(row(y - r - 1) + x, row(y + r) + x, k);
      dst[size_t(y) * width + x] = w.Settle();
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
