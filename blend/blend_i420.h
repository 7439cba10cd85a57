// Alpha blend of two I420 pictures through an 8-bit mask, used to put the
// blurred background behind the person.
#pragma once

#include <cstdint>

namespace tavro {

// dst[x] = (src0[x] * a + src1[x] * (255 - a) + 255) >> 8 with a = alpha[x].
void blendPlaneRow(const uint8_t* src0, const uint8_t* src1,
                   const uint8_t* alpha, uint8_t* dst, int n);
// As blendPlaneRow with a = alphaRow[2x + 1] (chroma pixel x of an even mask
// row, point sampled).
void blendPlaneRowHalfAlpha(const uint8_t* src0, const uint8_t* src1,
                            const uint8_t* alphaRow, uint8_t* dst, int n);

// Blends luma at full resolution and chroma at (width/2) x (height/2) with
// the alpha of every odd column of every even row. dst may alias src0 or
// src1. Returns -1 for a null plane or a non-positive size, else 0. Frames
// narrower or lower than 2 pixels get luma only.
int32_t blendI420(const uint8_t* src0Y, int src0StrideY, const uint8_t* src0U,
                  int src0StrideU, const uint8_t* src0V, int src0StrideV,
                  const uint8_t* src1Y, int src1StrideY, const uint8_t* src1U,
                  int src1StrideU, const uint8_t* src1V, int src1StrideV,
                  const uint8_t* alpha, int alphaStride, uint8_t* dstY,
                  int dstStrideY, uint8_t* dstU, int dstStrideU, uint8_t* dstV,
                  int dstStrideV, int width, int height);

}  // namespace tavro
