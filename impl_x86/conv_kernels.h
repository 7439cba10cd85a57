// Convolution kernels (direct, over packed weights). Layout codes of the
// packed weights are given per member; see impl_x86/weight_layout.h.
#pragma once

#include "impl_x86/conv_args.h"

namespace TAVROMATTING {

// Reference, weight code 0 (filter, row, column, channel); any shape and
// dilation; no fused activation.
void ConvReference(const ConvArgs& a);

// Direct blocked SSE members (block 4: code 6, block 8: code 5), any kernel,
// stride, padding and dilation; fused kinds 1, 2, 6.
void ConvDirectSse4(const ConvArgs& a);
void ConvDirectSse8(const ConvArgs& a);

// First-layer SSE member: 3x3 stride 2, 1 or 3 input channels, code 6.
void ConvFirstLayerSse(const ConvArgs& a);

// 1x1 stride 1 SSE members (block 4: code 6 needs C >= 4; block 8: code 5
// needs C >= 8); fused kinds 1, 2, 6.
void Conv1x1Sse4(const ConvArgs& a);
void Conv1x1Sse8(const ConvArgs& a);

// One output channel, weight code 0; no fused activation.
void ConvSingleOutput(const ConvArgs& a);

// Depthwise (one filter per channel, C == Cin): SSE members of block 4
// (code 6) and 8 (code 5), 3x3 stride-1 and general variants; reference over
// code 28 (row, column, channel).
void DepthwiseSse4(const ConvArgs& a);
void DepthwiseSse8(const ConvArgs& a);
void Depthwise3x3S1Sse4(const ConvArgs& a);
void Depthwise3x3S1Sse8(const ConvArgs& a);
void DepthwiseReference(const ConvArgs& a);

// Transposed convolution members; weights are packed with the n-c swap
// (blocked by output channel, kernel rotated by 180 degrees).
void DeconvReference(const ConvArgs& a);   // code 0
void DeconvStride2Sse4(const ConvArgs& a); // code 6, stride 2
void DeconvTwoOutputSse(const ConvArgs& a);  // code 0, C == 2, Cin % 4 == 0

}  // namespace TAVROMATTING
