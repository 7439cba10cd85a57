// Direct blocked convolution, FMA members: blocks 8 and 16 of the portable
// AVX2+FMA table (also serving dilated and grouped layers) and the first-layer
// member (3x3 stride 2, 1 or 3 input channels, block 8).
#include "impl_x86/conv_kernels.h"
#include "impl_x86/direct_fma.h"

namespace TAVROMATTING {

void ConvDirectFma8(const ConvArgs& a) { avx::DirectFma<8, 0, 0, 0>(a); }
void ConvDirectFma16(const ConvArgs& a) { avx::DirectFma<16, 0, 0, 0>(a); }

void ConvFirstLayerFma(const ConvArgs& a) {
  if (a.Cin == 3)
    avx::DirectFma<8, 3, 3, 2>(a);
  else if (a.Cin == 1)
    avx::DirectFma<8, 1, 3, 2>(a);
  else
    avx::DirectFma<8, 0, 0, 0>(a);
}

}  // namespace TAVROMATTING
