// Skin map from the frame's chroma, used to protect faces and hands from the
// median.
#pragma once

#include <cstdint>

namespace TavroMatting {

// skinMap := 1 where 101 <= U <= 119 and 141 <= V <= 174, else 0, then grown
// by DilateCross3x3. U and V are width x height with row stride chromaStride.
// rows: scratch of 3 * width bytes.
void DetectSkin(const uint8_t* u, const uint8_t* v, uint8_t* skinMap,
                uint8_t* rows, int width, int height, int chromaStride);

// In place: map(x, y) := OR of the undilated map at the pixel and its four
// side neighbours inside the image. rows: scratch of 3 * width bytes.
void DilateCross3x3(uint8_t* map, uint8_t* rows, int width, int height);

}  // namespace TavroMatting
