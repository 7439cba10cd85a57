// Depthwise convolution with 8-wide fused multiply-add. Portable members of
// block 8 and 16 (3x3 stride 1 and general) compute the interior 4 pixels per
// step; the x86 members (block 16, 3x3) are the general one (4 pixels per
// step) and the wide-row one for stride 1 (5 pixels per step, the interior
// rounded down to a multiple of 5).
#include <cstring>

#include "impl_x86/conv_kernels.h"
#include "impl_x86/vec_avx.h"
#include "impl_x86/weight_layout.h"

#pragma GCC push_options
#pragma GCC target("avx,fma")

#include "impl_x86/depthwise_body.h"

namespace TAVROMATTING {

void DepthwiseFma8(const ConvArgs& a) { Depthwise<Fma8, 8, 0, 0, 4>(a); }
void DepthwiseFma16(const ConvArgs& a) { Depthwise<Fma8, 16, 0, 0, 4>(a); }
void Depthwise3x3S1Fma8(const ConvArgs& a) { Depthwise<Fma8, 8, 3, 1, 4>(a); }
void Depthwise3x3S1Fma16(const ConvArgs& a) { Depthwise<Fma8, 16, 3, 1, 4>(a); }
void DepthwiseX86General(const ConvArgs& a) { Depthwise<Fma8, 16, 3, 0, 4>(a); }
void DepthwiseX86WideRow(const ConvArgs& a) { Depthwise<Fma8, 16, 3, 0, 5>(a); }
void DepthwiseX86Block24(const ConvArgs& a) { Depthwise<Fma8, 24, 3, 0, 4>(a); }

}  // namespace TAVROMATTING

#pragma GCC pop_options
