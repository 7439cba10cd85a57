// IEEE binary16 <-> binary32 conversion of whole arrays: F16C instructions
// when the processor has them, a scalar conversion otherwise.
#pragma once

#include <cstdint>

namespace TAVROMATTING {

float HalfToFloatScalar(uint16_t h);
uint16_t FloatToHalfScalar(float f);
void HalfToFloatArray(const uint16_t* src, float* dst, uint64_t count);
void FloatToHalfArray(const float* src, uint16_t* dst, uint64_t count);

}  // namespace TAVROMATTING
