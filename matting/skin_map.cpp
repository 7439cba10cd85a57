#include "matting/skin_map.h"

#include <cstring>

namespace TavroMatting {

void DetectSkin(const uint8_t* u, const uint8_t* v, uint8_t* skinMap,
                uint8_t* rows, int width, int height, int chromaStride) {
  if (!u || !v || !skinMap || !rows || width < 1 || height < 1) return;
  for (int y = 0; y < height; ++y) {
    const uint8_t* pu = u + size_t(y) * chromaStride;
    const uint8_t* pv = v + size_t(y) * chromaStride;
    uint8_t* out = skinMap + size_t(y) * width;
    for (int x = 0; x < width; ++x)
      out[x] = uint8_t(pu[x] >= 101 && pu[x] <= 119 && pv[x] >= 141 && pv[x] <= 174);
  }
  DilateCross3x3(skinMap, rows, width, height);
}

void DilateCross3x3(uint8_t* map, uint8_t* rows, int width, int height) {
  if (!map || !rows || width < 1 || height < 1) return;
  // Three undilated rows rotate through the scratch: above, current, below.
  uint8_t* above = rows;
  uint8_t* cur = rows + width;
  uint8_t* below = rows + 2 * width;
  std::memcpy(cur, map, width);
  for (int y = 0; y < height; ++y) {
    const bool hasAbove = y > 0, hasBelow = y + 1 < height;
    if (hasBelow) std::memcpy(below, map + size_t(y + 1) * width, width);
    uint8_t* out = map + size_t(y) * width;
    for (int x = 0; x < width; ++x) {
      uint8_t m = cur[x];
      if (x > 0) m |= cur[x - 1];
      if (x + 1 < width) m |= cur[x + 1];
      if (hasAbove) m |= above[x];
      if (hasBelow) m |= below[x];
      out[x] = m;
    }
    uint8_t* t = above;
    above = cur;
    cur = below;
    below = t;
  }
}

}  // namespace TavroMatting
