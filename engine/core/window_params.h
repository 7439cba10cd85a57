// Kernel, padding, stride and dilation of a window layer (convolutions and
// pooling), read from the window slots of its record.
#pragma once

#include <cstdint>

#include "engine/core/record_slots.h"

namespace TAVROMATTING {
namespace core {

struct WindowParams {
  uint32_t kernelW = 1, kernelH = 1;
  uint32_t padLeft = 0, padRight = 0, padTop = 0, padBottom = 0;
  uint32_t strideX = 1, strideY = 1;
  uint32_t dilationX = 1, dilationY = 1;

  // Slots: kernel w, h; pads left, right, top, bottom; strides x, y;
  // dilations x, y. Zero strides would divide by zero and zero dilations
  // would collapse the window; both read as 1 (the model has none).
  void ReadWindowParams(const uint32_t* p) {
    kernelW = p[slot::kKernelWidth];
    kernelH = p[slot::kKernelHeight];
    padLeft = p[slot::kPadLeft];
    padRight = p[slot::kPadRight];
    padTop = p[slot::kPadTop];
    padBottom = p[slot::kPadBottom];
    strideX = p[slot::kStrideX] ? p[slot::kStrideX] : 1;
    strideY = p[slot::kStrideY] ? p[slot::kStrideY] : 1;
    dilationX = p[slot::kDilationX] < 1 ? 1 : p[slot::kDilationX];
    dilationY = p[slot::kDilationY] < 1 ? 1 : p[slot::kDilationY];
  }
};

}  // namespace core
}  // namespace TAVROMATTING
