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
// 5x5 stride 2 (pad left 1, pad right 2): blocked by output channel (code 24,
// fused kinds 1, 2, 6), by input channel (code 0), and the general member for
// odd input widths (code 0).
void Deconv5x5S2Sse4(const ConvArgs& a);
void Deconv5x5S2SseByInput(const ConvArgs& a);
void Deconv5x5S2General(const ConvArgs& a);
// The input walk the 5x5 members share: calls `pixel` for the four output
// pixels of every input pixel with their tap ranges [ky0, ky1), [kx0, kx1)
// (step 2).
using Deconv5x5Pixel = void (*)(const ConvArgs& a, int oy, int ox, int ky0, int ky1, int kx0,
                                int kx1);
void Deconv5x5Walk(const ConvArgs& a, Deconv5x5Pixel pixel);

// --- AVX2+FMA members of the portable tables (8-wide fused multiply-add;
// fused kinds 1, 2, 6 except the single-output and two-output members). Run
// them only when CPUID reports AVX2 and FMA.
void ConvDirectFma8(const ConvArgs& a);     // code 5, C >= 8 (also dilated, grouped)
void ConvDirectFma16(const ConvArgs& a);    // code 4
void ConvFirstLayerFma(const ConvArgs& a);  // code 5, 3x3 stride 2, Cin 1 or 3
void Conv1x1Fma8(const ConvArgs& a);        // code 5, C >= 8
void Conv1x1Fma16(const ConvArgs& a);       // code 4, C >= 16
void ConvSingleOutputFma(const ConvArgs& a);  // code 0
void DepthwiseFma8(const ConvArgs& a);        // code 5
void DepthwiseFma16(const ConvArgs& a);       // code 4
void Depthwise3x3S1Fma8(const ConvArgs& a);   // code 5
void Depthwise3x3S1Fma16(const ConvArgs& a);  // code 4
void DeconvStride2Fma8(const ConvArgs& a);    // code 5, stride 2
void DeconvTwoOutputFma(const ConvArgs& a);   // code 0, C == 2, Cin % 8 == 0
void Deconv5x5S2Fma8(const ConvArgs& a);       // code 25 (fused kinds 1, 2, 6)
void Deconv5x5S2FmaByInput(const ConvArgs& a); // code 0, Cin % 8 == 0

// --- x86 path members (AVX+FMA; the caller fuses kind 1 only). Run them only
// when CPUID reports AVX and FMA.
void Conv1x1X86Block16(const ConvArgs& a);  // code 4
void Conv1x1X86Block24(const ConvArgs& a);  // code 3
void Conv1x1X86Block32(const ConvArgs& a);  // code 2
void ConvFirstLayerX86(const ConvArgs& a);  // code 15, 3x3 stride 2, Cin 1 or 3
void Conv3OutputX86(const ConvArgs& a);     // code 27, C == 3
void Conv3x3X86Block24(const ConvArgs& a);    // code 3
void Conv3x3X86Block16S1(const ConvArgs& a);  // code 4, stride width 1, pad left 1
void Conv3x3X86Block16(const ConvArgs& a);    // code 4, any padding / dilation
void Conv3x3X86Block16S2(const ConvArgs& a);  // code 4, stride 2
void ConvSingleOutputX86(const ConvArgs& a);  // code 20, C == 1
void Conv3x3X86Block4(const ConvArgs& a);        // code 6, stride width 1, dilation 1
void Conv3x3X86Block4S2D2(const ConvArgs& a);    // code 6, stride 2, dilation 2
void Conv3x3X86Block4General(const ConvArgs& a); // code 6
void DepthwiseX86General(const ConvArgs& a);  // code 4, 3x3, C % 16 == 0
void DepthwiseX86WideRow(const ConvArgs& a);  // code 4, 3x3, stride width 1

}  // namespace TAVROMATTING
