// Transposed convolution, fused multiply-add members: stride 2 over block 8,
// 2x2 stride 2 for four outputs (column pairs in one register), two outputs (input channels 8 at a time), and the 5x5 stride-2 members over
// the shared input walk.
#include <cstring>
#include <vector>

#include "impl_x86/conv_kernels.h"
#include "impl_x86/vec_avx.h"
#include "impl_x86/weight_layout.h"

#pragma GCC push_options
#pragma GCC target("avx,fma")

#include "impl_x86/deconv_body.h"

namespace TAVROMATTING {

void DeconvStride2Fma8(const ConvArgs& a) { DeconvStride2<Fma8>(a); }
void DeconvStride2PairsFma(const ConvArgs& a) {
  if (a.Cin == 4)
    DeconvStride2Pairs<Fma8, 4>(a);
  else if (a.Cin == 8)
    DeconvStride2Pairs<Fma8, 8>(a);
  else
    DeconvStride2Pairs<Fma8>(a);
}
void DeconvTwoOutputFma(const ConvArgs& a) { DeconvTwoOutput<Fma8>(a); }
void Deconv5x5S2Fma8(const ConvArgs& a) { Deconv5x5Walk(a, Deconv5x5PixelBlocked<Fma8>); }
void Deconv5x5S2FmaByInput(const ConvArgs& a) { Deconv5x5Walk(a, Deconv5x5PixelByInput<Fma8>); }

}  // namespace TAVROMATTING

#pragma GCC pop_options
