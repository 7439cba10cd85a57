// Direct blocked convolution, FMA members: blocks 8 and 16 of the portable
// AVX2+FMA table (also serving dilated and grouped layers) and the first-layer
// member (3x3 stride 2, 1 or 3 input channels, block 8).
#include <cstring>
#include <vector>

#include "impl_x86/conv_kernels.h"
#include "impl_x86/vec_avx.h"
#include "impl_x86/weight_layout.h"

#pragma GCC push_options
#pragma GCC target("avx,fma")

#include "impl_x86/direct_body.h"

namespace TAVROMATTING {

void ConvDirectFma8(const ConvArgs& a) { Direct<Fma8, 8, 0, 0, 0>(a); }
void ConvDirectFma16(const ConvArgs& a) { Direct<Fma8, 16, 0, 0, 0>(a); }

void ConvFirstLayerFma(const ConvArgs& a) { DirectFirstLayer<Fma8, 8, 3, 2>(a); }

}  // namespace TAVROMATTING

#pragma GCC pop_options
