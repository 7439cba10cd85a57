// Spatial filters applied to the 8-bit person mask: separable gaussians with
// reflect-101 borders, the mid-range stretch and the cut of low values.
// Every image is single channel without row gaps (stride = width).
#pragma once

#include <cstddef>
#include <cstdint>

namespace TavroMatting {

// Reflect-101 index for any length >= 1 (-1 -> 1, len -> len - 2).
int Reflect101(int p, int len);

// dst = (sum k(i)k(j) src(x+i, y+j) + 8) >> 4 with k = (1, 2, 1).
// rows: scratch of 3 * width uint16. src and dst must differ.
void GaussianBlur3x3(const uint8_t* src, uint8_t* dst, uint16_t* rows,
                     int width, int height);

// Maps [low, high] linearly onto [0, 255] (float32 arithmetic, truncation,
// clamping).
void StretchMask(const uint8_t* src, uint8_t* dst, float low, float high,
                 int width, int height);

// Every byte below limit becomes 0; exactly count bytes are touched.
void CutBelow(uint8_t* mask, size_t count, uint8_t limit);

// dst = (sum k(i)k(j) src(x+i, y+j) + 128) >> 8 with k = (1, 4, 6, 4, 1).
// rows: scratch of 5 * width uint16. src and dst may be the same buffer.
void GaussianBlur5x5(const uint8_t* src, uint8_t* dst, uint16_t* rows,
                     int width, int height);

}  // namespace TavroMatting
