// Kernel, padding, stride and dilation of a window layer (convolutions and
// pooling), read from the first ten slots of its record.
#pragma once

#include <cstdint>

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
    kernelW = p[0];
    kernelH = p[1];
    padLeft = p[2];
    padRight = p[3];
    padTop = p[4];
    padBottom = p[5];
    strideX = p[6] ? p[6] : 1;
    strideY = p[7] ? p[7] : 1;
    dilationX = p[8] < 1 ? 1 : p[8];
    dilationY = p[9] < 1 ? 1 : p[9];
  }
};

}  // namespace core
}  // namespace TAVROMATTING
