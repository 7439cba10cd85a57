// The per-pixel row loops of the compositor, 16 pixels a step with SSE2
// (every x86-64 processor has it) and a scalar tail giving the same values.
#pragma once

#include <cstdint>

namespace tavro_host {

// dst[x] = (front[x] * a[x] + back[x] * (255 - a[x]) + 255) >> 8: a = 255
// keeps front, a = 0 gives back exactly. dst may be front or back.
void BlendRow(const uint8_t* front, const uint8_t* back, const uint8_t* a, uint8_t* dst, int n);
// dst[x] = (src[x] * k[x] + 255) >> 8.
void ScaleRow(const uint8_t* src, const uint8_t* k, uint8_t* dst, int n);
// a[x] = lut[m[x]], with whole runs of 0 or 255 (most of a mask) filled at
// once.
void MapMaskRow(const uint8_t* m, const uint8_t lut[256], uint8_t* a, int n);

}  // namespace tavro_host
