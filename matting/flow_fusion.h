// Temporal fusion of the person mask: forward/backward consistency check,
// warp of the previous mask along the forward flow and the blend with the
// network's new mask. Pixel index i = y * width + x, m = width * height.
#pragma once

#include <cstdint>

namespace TavroMatting {

constexpr float kMovingWeight = 0.3f;
constexpr float kStillWeight = 0.05f;
constexpr int kConsistencyThreshold = 8;

// pairs[2i] := planes[i] (x plane), pairs[2i + 1] := planes[m + i] (y plane).
void InterleaveFlow(const int16_t* planes, int16_t* pairs, int width,
                    int height);

enum class FlowAxis { kX, kY };

// target[i] := index[x or y] + flowPlane[i] in wrapping 16-bit arithmetic;
// validMap[i] := 0 unless 0 <= target[i] < limit (x: index = column table,
// limit = width; y: index = row table, limit = height). validMap is only
// ever cleared here.
void FlowTargets(const int16_t* flowPlane, const uint16_t* index,
                 uint8_t* validMap, int16_t* target, int width, int height,
                 int limit, FlowAxis axis);

// backwardAtTarget := backwardFlow, then for every valid i the backward pair
// at i's forward target.
void SampleBackwardFlow(const int16_t* backwardFlow, int16_t* backwardAtTarget,
                        const int16_t* targetX, const int16_t* targetY,
                        const uint8_t* validMap, int width, int height);

// Pushes prevMask along the consistent forward vectors: a pixel whose forward
// vector plus the backward vector at its target has squared length >=
// threshold is rejected; others write warpedMask and landed at the target,
// and motionless ones set fusionWeight there to kStillWeight.
void WarpPreviousMask(const int16_t* forwardFlow,
                      const int16_t* backwardAtTarget, const uint8_t* prevMask,
                      uint8_t* warpedMask, uint8_t* validMap, uint8_t* landed,
                      const int16_t* targetX, const int16_t* targetY,
                      float* fusionWeight, int threshold, int width,
                      int height);

// result := current, and where something landed:
// trunc(0.7 warped + 0.3 current) for still pixels (weight < 0.1),
// trunc(0.1 warped + 0.9 current) otherwise.
void FuseFlowMask(const uint8_t* current, const uint8_t* warpedMask,
                  const uint8_t* landed, const float* fusionWeight,
                  uint8_t* result, int width, int height);

}  // namespace TavroMatting
