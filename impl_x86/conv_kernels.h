// Convolution kernels (direct, over packed weights). Layout codes of the
// packed weights are given per member; see impl_x86/weight_layout.h.
#pragma once

#include "impl_x86/conv_args.h"

namespace TAVROMATTING {

// Reference, weight kPlain (filter, row, column, channel); any shape and
// dilation; no fused activation.
void ConvReference(const ConvArgs& a);

// Direct blocked SSE members (block 4: kBlock4, block 8: kBlock8), any kernel,
// stride, padding and dilation; fused kActRelu, kActClippedRelu, kActLeakyRelu.
void ConvDirectSse4(const ConvArgs& a);
void ConvDirectSse8(const ConvArgs& a);

// First-layer SSE member: 3x3 stride 2, 1 or 3 input channels, kBlock4.
void ConvFirstLayerSse(const ConvArgs& a);

// 1x1 stride 1 SSE members (block 4: kBlock4 needs C >= 4; block 8: kBlock8
// needs C >= 8); fused kActRelu, kActClippedRelu, kActLeakyRelu.
void Conv1x1Sse4(const ConvArgs& a);
void Conv1x1Sse8(const ConvArgs& a);

// One output channel, weight kPlain; no fused activation.
void ConvSingleOutput(const ConvArgs& a);

// Depthwise (one filter per channel, C == Cin): SSE members of block 4
// (kBlock4) and 8 (kBlock8), 3x3 stride-1 and general variants; reference over
// kWholeBlock (row, column, channel).
void DepthwiseSse4(const ConvArgs& a);
void DepthwiseSse8(const ConvArgs& a);
void Depthwise3x3S1Sse4(const ConvArgs& a);
void Depthwise3x3S1Sse8(const ConvArgs& a);
void DepthwiseReference(const ConvArgs& a);

// Transposed convolution members; weights are packed with the n-c swap
// (blocked by output channel, kernel rotated by 180 degrees). The stride-2
// members (DeconvStride2*) also apply ConvArgs::outScale/outShift.
void DeconvReference(const ConvArgs& a);   // kPlain
void DeconvStride2Sse4(const ConvArgs& a); // kBlock4, stride 2
void DeconvTwoOutputSse(const ConvArgs& a);  // kPlain, C == 2, Cin % 4 == 0
// 5x5 stride 2 (pad left 1, pad right 2): blocked by output channel (kPlanarBlock4,
// fused kActRelu, kActClippedRelu, kActLeakyRelu) and by input channel (kPlain,
// any input width).
void Deconv5x5S2Sse4(const ConvArgs& a);
void Deconv5x5S2SseByInput(const ConvArgs& a);
// The input walk the 5x5 members share: calls `pixel` for the four output
// pixels of every input pixel with their tap ranges [ky0, ky1), [kx0, kx1)
// (step 2).
using Deconv5x5Pixel = void (*)(const ConvArgs& a, int oy, int ox, int ky0, int ky1, int kx0,
                                int kx1);
void Deconv5x5Walk(const ConvArgs& a, Deconv5x5Pixel pixel);

// --- AVX2+FMA members of the portable tables (8-wide fused multiply-add;
// fused kActRelu, kActClippedRelu, kActLeakyRelu except the single-output and two-output members). Run
// them only when CPUID reports AVX2 and FMA.
void ConvDirectFma8(const ConvArgs& a);     // kBlock8, C >= 8 (also dilated, grouped)
void ConvDirectFma16(const ConvArgs& a);    // kBlock16
void ConvFirstLayerFma(const ConvArgs& a);  // kBlock8, 3x3 stride 2, Cin 1 or 3
void Conv1x1Fma8(const ConvArgs& a);        // kBlock8, C >= 8
void Conv1x1Fma16(const ConvArgs& a);       // kBlock16, C >= 16 (also the x86 path's block 16)
void ConvSingleOutputFma(const ConvArgs& a);  // kPlain
void DepthwiseFma8(const ConvArgs& a);        // kBlock8
void DepthwiseFma16(const ConvArgs& a);       // kBlock16
void Depthwise3x3S1Fma8(const ConvArgs& a);   // kBlock8
void Depthwise3x3S1Fma16(const ConvArgs& a);  // kBlock16
void DeconvStride2Fma8(const ConvArgs& a);    // kBlock8, stride 2
void DeconvStride2PairsFma(const ConvArgs& a); // kBlock4, C == 4, 2x2 stride 2 pad 0, Wo even
void DeconvTwoOutputFma(const ConvArgs& a);   // kPlain, C == 2, Cin % 8 == 0
void Deconv5x5S2Fma8(const ConvArgs& a);       // kPlanarBlock8 (fused kActRelu, kActClippedRelu, kActLeakyRelu)
void Deconv5x5S2FmaByInput(const ConvArgs& a); // kPlain, Cin % 8 == 0

// --- x86 path members (AVX+FMA; the caller fuses kind 1 only). Run them only
// when CPUID reports AVX and FMA.
void Conv1x1X86Block24(const ConvArgs& a);  // kBlock24
void Conv1x1X86Block32(const ConvArgs& a);  // kBlock32
void ConvFirstLayerX86(const ConvArgs& a);  // kChannelBlock16, 3x3 stride 2, Cin 1 or 3
// kBlock8, 3x3 stride 2 dilation 1, Cin 3, C a multiple of 8; reads
// ConvArgs::inBytes when set.
void ConvFirstLayerX86Rows(const ConvArgs& a);
void Conv3OutputX86(const ConvArgs& a);     // kRowChannelFilter, C == 3
void Conv3x3X86Block24(const ConvArgs& a);    // kBlock24
void Conv3x3X86Block16(const ConvArgs& a);    // kBlock16, any padding / dilation
void Conv3x3X86Block16S2(const ConvArgs& a);  // kBlock16, stride 2
void ConvSingleOutputX86(const ConvArgs& a);  // kChannelBlock1, C == 1
// kPlain, 3x3, C == 1, Cin == 4 (input pixels 4 floats apart), stride width 1,
// dilation width 1.
void ConvSingleOutputX86Pairs(const ConvArgs& a);
void Conv1x1X86Block4(const ConvArgs& a);  // kBlock4, 8 pixels per step
// kBlock4, 3x3 or 2x2, C == 2 or 4, Cin % 8 == 0, input pixels Cin floats
// apart, stride width 1 (the 3x3 and 2x2 block-4 members hand such layers
// over).
void ConvFewOutputX86(const ConvArgs& a);
// kBlock4, 3x3, C == 4, Cin == 4, input pixels 4 floats apart, stride width 1
// (handed over by the 3x3 block-4 members as well).
void ConvFourOutputX86(const ConvArgs& a);
void Conv3x3X86Block4(const ConvArgs& a);        // kBlock4, stride width 1, dilation 1
void Conv3x3X86Block4S2D2(const ConvArgs& a);    // kBlock4, stride 2, dilation 2
void Conv3x3X86Block4General(const ConvArgs& a); // kBlock4
void Conv2x2X86Block4(const ConvArgs& a);        // kBlock4, 2x2, any stride and dilation
void DepthwiseX86General(const ConvArgs& a);  // kBlock16, 3x3, C % 16 == 0
void DepthwiseX86WideRow(const ConvArgs& a);  // kBlock16, 3x3, stride width 1
void DepthwiseX86Block24(const ConvArgs& a);  // kBlock24, 3x3, C % 24 == 0

}  // namespace TAVROMATTING
