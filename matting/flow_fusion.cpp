#include "matting/flow_fusion.h"

#include <cstring>

namespace TavroMatting {

void InterleaveFlow(const int16_t* planes, int16_t* pairs, int width,
                    int height) {
  const size_t m = size_t(width) * height;
  for (size_t i = 0; i < m; ++i) {
    pairs[2 * i] = planes[i];
    pairs[2 * i + 1] = planes[m + i];
  }
}

void FlowTargets(const int16_t* flowPlane, const uint16_t* index,
                 uint8_t* validMap, int16_t* target, int width, int height,
                 int limit, FlowAxis axis) {
  for (int y = 0; y < height; ++y) {
    const size_t row = size_t(y) * width;
    for (int x = 0; x < width; ++x) {
      const size_t i = row + x;
      const uint16_t base = index[axis == FlowAxis::kX ? x : y];
      const int16_t t = int16_t(uint16_t(base + uint16_t(flowPlane[i])));
      target[i] = t;
      if (t < 0 || t >= limit) validMap[i] = 0;
    }
  }
}

void SampleBackwardFlow(const int16_t* backwardFlow, int16_t* backwardAtTarget,
                        const int16_t* targetX, const int16_t* targetY,
                        const uint8_t* validMap, int width, int height) {
  const int64_t m = int64_t(width) * height;
  std::memcpy(backwardAtTarget, backwardFlow, size_t(2 * m) * sizeof(int16_t));
  for (int64_t i = 0; i < m; ++i) {
    if (validMap[i] != 1) continue;
    const int64_t j = int64_t(targetY[i]) * width + targetX[i];
    if (j < 0 || j >= m) continue;
    backwardAtTarget[2 * i] = backwardFlow[2 * j];
    backwardAtTarget[2 * i + 1] = backwardFlow[2 * j + 1];
  }
}

void WarpPreviousMask(const int16_t* forwardFlow,
                      const int16_t* backwardAtTarget, const uint8_t* prevMask,
                      uint8_t* warpedMask, uint8_t* validMap, uint8_t* landed,
                      const int16_t* targetX, const int16_t* targetY,
                      float* fusionWeight, int threshold, int width,
                      int height) {
  const int64_t m = int64_t(width) * height;
  std::memset(warpedMask, 0, size_t(m));
  std::memset(landed, 0, size_t(m));
  for (int64_t i = 0; i < m; ++i) {
    const int32_t fx = forwardFlow[2 * i], fy = forwardFlow[2 * i + 1];
    const int32_t bx = backwardAtTarget[2 * i], by = backwardAtTarget[2 * i + 1];
    const int32_t dx = fx + bx, dy = fy + by;
    if (int64_t(dx) * dx + int64_t(dy) * dy >= threshold) {
      validMap[i] = 0;
      continue;
    }
    if (validMap[i] != 1) continue;
    const int64_t j = int64_t(targetY[i]) * width + targetX[i];
    if (j < 0 || j >= m) continue;
    landed[j] = 1;
    warpedMask[j] = prevMask[i];
    if (fx == 0 && fy == 0 && bx == 0 && by == 0) fusionWeight[j] = kStillWeight;
  }
}

void FuseFlowMask(const uint8_t* current, const uint8_t* warpedMask,
                  const uint8_t* landed, const float* fusionWeight,
                  uint8_t* result, int width, int height) {
  const size_t m = size_t(width) * height;
  if (result != current) std::memcpy(result, current, m);
  for (size_t j = 0; j < m; ++j) {
    if (landed[j] != 1) continue;
    const double w = warpedMask[j], c = current[j];
    const double v = fusionWeight[j] < 0.1 ? 0.7 * w + 0.3 * c : 0.1 * w + 0.9 * c;
    result[j] = uint8_t(v);
  }
}

}  // namespace TavroMatting
