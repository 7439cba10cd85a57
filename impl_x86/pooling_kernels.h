// Pooling kernels over the plain interleaved layout (batch 1). The window
// fields are those of ConvArgs (weights, bias and activation unused; C is the
// channel count of input and output).
#pragma once

#include "impl_x86/conv_args.h"

namespace TAVROMATTING {

enum class PoolOp { kMax, kAverage };

// Windowed pooling: padded taps never take part; the average divides by the
// taps inside the image. SSE members need C % 4 == 0 (4-wide) or C % 8 == 0.
void PoolReference(const ConvArgs& a, PoolOp op);
void PoolSse4(const ConvArgs& a, PoolOp op);
void PoolSse8(const ConvArgs& a, PoolOp op);
// Max pooling 3x3, stride width 2, pad left 1 (C % 4 / C % 8 == 0).
void MaxPool3x3S2Sse4(const ConvArgs& a);
void MaxPool3x3S2Sse8(const ConvArgs& a);

// Global average over H*W pixels into C values.
void GlobalAverageReference(const float* in, int pixels, int C, float* out);
void GlobalAverageSse4(const float* in, int pixels, int C, float* out);  // C >= 4, last block moved back
void GlobalAverageSse8(const float* in, int pixels, int C, float* out);  // C % 8 == 0

}  // namespace TAVROMATTING

namespace TAVROMATTING {

// AVX members (8 and 16 channels; C % 8 / C % 16 == 0 for the windowed ones,
// C >= 8 / C % 16 == 0 for global average, whose last block moves back).
void PoolAvx8(const ConvArgs& a, PoolOp op);
void PoolAvx16(const ConvArgs& a, PoolOp op);
void MaxPool3x3S2Avx8(const ConvArgs& a);
void MaxPool3x3S2Avx16(const ConvArgs& a);
void GlobalAverageAvx8(const float* in, int pixels, int C, float* out);
void GlobalAverageAvx16(const float* in, int pixels, int C, float* out);

}  // namespace TAVROMATTING
