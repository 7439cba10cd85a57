// Skin-aware median of the person mask: skin pixels with a weak mask value
// are raised before a k x k median with replicated borders.
#pragma once

#include <cstdint>

namespace TavroMatting {

// mask(x, y) := the median (rank k*k/2 from 0) of the k x k window centred on
// (x, y). src holds height rows of pitch srcPitch >= width + k - 1, each row
// already extended by k/2 copies of its edge pixels on both sides; rows above
// and below the image repeat the edge row. k must be odd, 1..31.
void MedianBlur(const uint8_t* src, uint8_t* dst, int k, int srcPitch,
                int width, int height);

// Raises mask values 3..63 by 191 where skinMap is non-zero, extends the rows
// into pad ((width + k - 1) * height bytes) and runs MedianBlur back into mask.
void SkinMedianBlur(uint8_t* mask, const uint8_t* skinMap, uint8_t* pad,
                    int width, int height, int k);

}  // namespace TavroMatting
