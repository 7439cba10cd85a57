// 1x1 stride-1 convolution with 8-wide fused multiply-add: blocks 8 and 16
// serve the portable AVX2+FMA table, blocks 16, 24 and 32 the x86 path
// (4 x 32 floats = 16 accumulators).
#include <cstring>

#include "impl_x86/conv_kernels.h"
#include "impl_x86/vec_avx.h"
#include "impl_x86/weight_layout.h"

#pragma GCC push_options
#pragma GCC target("avx,fma")

#include "impl_x86/conv_1x1_body.h"

namespace TAVROMATTING {

void Conv1x1Fma8(const ConvArgs& a) { OneByOne<Fma8, 8>(a); }
void Conv1x1Fma16(const ConvArgs& a) { OneByOne<Fma8, 16>(a); }
void Conv1x1X86Block24(const ConvArgs& a) { OneByOne<Fma8, 24>(a); }
void Conv1x1X86Block32(const ConvArgs& a) { OneByOne<Fma8, 32>(a); }

}  // namespace TAVROMATTING

#pragma GCC pop_options
