// Convolution with one output channel, fused multiply-add member (weight
// kPlain): every pixel's runs summed 8 wide.
#include <cstring>

#include "impl_x86/conv_kernels.h"
#include "impl_x86/vec_avx.h"

#pragma GCC push_options
#pragma GCC target("avx,fma")

#include "impl_x86/single_output_body.h"

namespace TAVROMATTING {

void ConvSingleOutputFma(const ConvArgs& a) { SingleOutput<Fma8, false>(a); }

}  // namespace TAVROMATTING

#pragma GCC pop_options
